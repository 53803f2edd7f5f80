#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The platform's system error codes. Programs pass these numbers through
// unchanged (a registry read returns 2, a data file held open elsewhere 32),
// so the values are the platform's own and never renumbered.
enum class Error : uint32_t {
    Success = 0,
    InvalidFunction = 1,
    FileNotFound = 2,
    PathNotFound = 3,
    TooManyOpenFiles = 4,
    AccessDenied = 5,
    InvalidHandle = 6,
    NotEnoughMemory = 8,
    InvalidData = 13,
    OutOfMemory = 14,
    WriteFault = 29,
    ReadFault = 30,
    GenFailure = 31,
    SharingViolation = 32,
    LockViolation = 33,
    HandleEof = 38,
    NotSupported = 50,
    FileExists = 80,
    InvalidParameter = 87,
    BrokenPipe = 109,
    InsufficientBuffer = 122,
    InvalidName = 123,
    ModNotFound = 126,
    ProcNotFound = 127,
    DirNotEmpty = 145,
    BadPathname = 161,
    AlreadyExists = 183,
    BadExeFormat = 193,
    FilenameExcedRange = 206,
    MoreData = 234,
    WaitTimeout = 258,
    NoMoreItems = 259,
    NotLocked = 158,
    NotOwner = 288,
    TooManyPosts = 298,
    NoToken = 1008,
    DllInitFailed = 1114,
    BadEnvironment = 10,
    ServiceNotActive = 1062,
    InvalidWindowHandle = 1400,
    CannotFindWndClass = 1407,
    ClassAlreadyExists = 1410,
    ClassDoesNotExist = 1411,
    PrivilegeNotHeld = 1314,
    NotAllAssigned = 1300,
    NoSuchPrivilege = 1313,
    Timeout = 1460,
};

constexpr uint32_t toCode(Error error)
{
    return static_cast<uint32_t>(error);
}
constexpr Error fromCode(uint32_t code)
{
    return static_cast<Error>(code);
}

// A short English name for logs and the machine tool ("ERROR_FILE_NOT_FOUND").
std::string_view errorName(Error error);
// "2 (ERROR_FILE_NOT_FOUND)"
std::string describe(Error error);

// Maps an errno value from a host call to the closest platform code.
Error fromErrno(int errnoValue);

} // namespace platform
