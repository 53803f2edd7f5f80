#include "platform/error.h"

#include <cerrno>

namespace platform {

std::string_view errorName(Error error)
{
    switch (error) {
    case Error::Success:
        return "ERROR_SUCCESS";
    case Error::InvalidFunction:
        return "ERROR_INVALID_FUNCTION";
    case Error::FileNotFound:
        return "ERROR_FILE_NOT_FOUND";
    case Error::PathNotFound:
        return "ERROR_PATH_NOT_FOUND";
    case Error::TooManyOpenFiles:
        return "ERROR_TOO_MANY_OPEN_FILES";
    case Error::AccessDenied:
        return "ERROR_ACCESS_DENIED";
    case Error::InvalidHandle:
        return "ERROR_INVALID_HANDLE";
    case Error::NotEnoughMemory:
        return "ERROR_NOT_ENOUGH_MEMORY";
    case Error::BadEnvironment:
        return "ERROR_BAD_ENVIRONMENT";
    case Error::InvalidData:
        return "ERROR_INVALID_DATA";
    case Error::OutOfMemory:
        return "ERROR_OUTOFMEMORY";
    case Error::WriteFault:
        return "ERROR_WRITE_FAULT";
    case Error::ReadFault:
        return "ERROR_READ_FAULT";
    case Error::GenFailure:
        return "ERROR_GEN_FAILURE";
    case Error::SharingViolation:
        return "ERROR_SHARING_VIOLATION";
    case Error::LockViolation:
        return "ERROR_LOCK_VIOLATION";
    case Error::HandleEof:
        return "ERROR_HANDLE_EOF";
    case Error::NotSupported:
        return "ERROR_NOT_SUPPORTED";
    case Error::FileExists:
        return "ERROR_FILE_EXISTS";
    case Error::InvalidParameter:
        return "ERROR_INVALID_PARAMETER";
    case Error::BrokenPipe:
        return "ERROR_BROKEN_PIPE";
    case Error::InsufficientBuffer:
        return "ERROR_INSUFFICIENT_BUFFER";
    case Error::InvalidName:
        return "ERROR_INVALID_NAME";
    case Error::ModNotFound:
        return "ERROR_MOD_NOT_FOUND";
    case Error::ProcNotFound:
        return "ERROR_PROC_NOT_FOUND";
    case Error::DirNotEmpty:
        return "ERROR_DIR_NOT_EMPTY";
    case Error::BadPathname:
        return "ERROR_BAD_PATHNAME";
    case Error::AlreadyExists:
        return "ERROR_ALREADY_EXISTS";
    case Error::BadExeFormat:
        return "ERROR_BAD_EXE_FORMAT";
    case Error::FilenameExcedRange:
        return "ERROR_FILENAME_EXCED_RANGE";
    case Error::MoreData:
        return "ERROR_MORE_DATA";
    case Error::WaitTimeout:
        return "WAIT_TIMEOUT";
    case Error::NoMoreItems:
        return "ERROR_NO_MORE_ITEMS";
    case Error::NotLocked:
        return "ERROR_NOT_LOCKED";
    case Error::NotOwner:
        return "ERROR_NOT_OWNER";
    case Error::TooManyPosts:
        return "ERROR_TOO_MANY_POSTS";
    case Error::NoToken:
        return "ERROR_NO_TOKEN";
    case Error::DllInitFailed:
        return "ERROR_DLL_INIT_FAILED";
    case Error::ServiceNotActive:
        return "ERROR_SERVICE_NOT_ACTIVE";
    case Error::NotAllAssigned:
        return "ERROR_NOT_ALL_ASSIGNED";
    case Error::NoSuchPrivilege:
        return "ERROR_NO_SUCH_PRIVILEGE";
    case Error::PrivilegeNotHeld:
        return "ERROR_PRIVILEGE_NOT_HELD";
    case Error::InvalidWindowHandle:
        return "ERROR_INVALID_WINDOW_HANDLE";
    case Error::CannotFindWndClass:
        return "ERROR_CANNOT_FIND_WND_CLASS";
    case Error::ClassAlreadyExists:
        return "ERROR_CLASS_ALREADY_EXISTS";
    case Error::ClassDoesNotExist:
        return "ERROR_CLASS_DOES_NOT_EXIST";
    case Error::Timeout:
        return "ERROR_TIMEOUT";
    }
    return "ERROR_UNKNOWN";
}

std::string describe(Error error)
{
    return std::to_string(toCode(error)) + " (" + std::string(errorName(error)) + ")";
}

Error fromErrno(int errnoValue)
{
    switch (errnoValue) {
    case 0:
        return Error::Success;
    case ENOENT:
        return Error::FileNotFound;
    case ENOTDIR:
        return Error::PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return Error::AccessDenied;
    case EEXIST:
        return Error::AlreadyExists;
    case ENOTEMPTY:
        return Error::DirNotEmpty;
    case EMFILE:
    case ENFILE:
        return Error::TooManyOpenFiles;
    case ENOMEM:
        return Error::NotEnoughMemory;
    case ENAMETOOLONG:
        return Error::FilenameExcedRange;
    case EINVAL:
        return Error::InvalidParameter;
    case EBADF:
        return Error::InvalidHandle;
    case EISDIR:
        return Error::AccessDenied;
    case ENOSPC:
        return Error::WriteFault;
    case EIO:
        return Error::GenFailure;
    case EPIPE:
        return Error::BrokenPipe;
    case ETIMEDOUT:
        return Error::Timeout;
    default:
        return Error::GenFailure;
    }
}

} // namespace platform
