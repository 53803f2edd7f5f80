#include "tools/tool_common.h"

#include "platform/machine.h"

#include <charconv>
#include <fstream>
#include <unistd.h>

namespace tools {

std::string explain(platform::Error error)
{
    using platform::Error;
    std::string_view words;
    switch (error) {
    case Error::FileNotFound:
        words = "file not found";
        break;
    case Error::PathNotFound:
        words = "path not found";
        break;
    case Error::AccessDenied:
        words = "access denied";
        break;
    case Error::SharingViolation:
        words = "sharing violation";
        break;
    case Error::LockViolation:
        words = "lock violation";
        break;
    case Error::FileExists:
        words = "file exists";
        break;
    case Error::InvalidParameter:
        words = "invalid parameter";
        break;
    case Error::InsufficientBuffer:
        words = "insufficient buffer";
        break;
    case Error::InvalidName:
        words = "invalid name";
        break;
    case Error::DirNotEmpty:
        words = "folder not empty";
        break;
    case Error::BadPathname:
        words = "bad path name";
        break;
    case Error::AlreadyExists:
        words = "already exists";
        break;
    case Error::FilenameExcedRange:
        words = "name too long";
        break;
    case Error::MoreData:
        words = "more data";
        break;
    case Error::WriteFault:
        words = "write fault";
        break;
    case Error::ReadFault:
        words = "read fault";
        break;
    default:
        words = platform::errorName(error);
        break;
    }
    return std::string(words) + " (" + std::to_string(platform::toCode(error)) + ")";
}

int fail(const Console& console, int exitCode, std::string_view message)
{
    console.err << console.program << ": " << message << '\n';
    return exitCode;
}

std::optional<uint64_t> parseQword(std::string_view text)
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty())
        return std::nullopt;
    uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::filesystem::path ownFolder()
{
    std::error_code error;
    auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return std::filesystem::current_path(error);
    return self.parent_path();
}

void recordObjectManager(RecordMode mode)
{
    const std::filesystem::path record = platform::machine::root() / "objectd.path";
    if (mode == RecordMode::IfStale) {
        std::ifstream in(record);
        std::string recorded;
        if (std::getline(in, recorded) && !recorded.empty() && ::access(recorded.c_str(), X_OK) == 0)
            return;
    }
    const std::filesystem::path program = ownFolder() / "tavio-machined";
    if (::access(program.c_str(), X_OK) != 0)
        return;
    std::ofstream(record) << program.string() << '\n';
}

std::optional<uint32_t> parseDword(std::string_view text)
{
    auto value = parseQword(text);
    if (!value || *value > UINT32_MAX)
        return std::nullopt;
    return static_cast<uint32_t>(*value);
}

} // namespace tools
