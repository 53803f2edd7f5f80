#include "platform/paths.h"

#include "platform/machine.h"
#include "platform/security.h"
#include "platform/text.h"

#include <algorithm>
#include <optional>
#include <sys/stat.h>
#include <vector>

namespace platform::paths {

namespace fs = std::filesystem;

namespace {

bool isSeparator(char16_t unit)
{
    return unit == u'\\' || unit == u'/';
}

// Characters the platform refuses inside a name. The drive colon is taken off
// before names are checked, so a colon here is always invalid.
bool isInvalidNameUnit(char16_t unit)
{
    if (unit < 0x20)
        return true;
    switch (unit) {
    case u'<':
    case u'>':
    case u':':
    case u'"':
    case u'|':
    case u'?':
    case u'*':
        return true;
    default:
        return false;
    }
}

bool isDriveLetter(char16_t unit)
{
    return (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z');
}

// Splits a Windows path into the names below C:\, with "." and ".." resolved
// and the platform's trailing dots and spaces taken off each name.
Result<std::vector<std::u16string>> components(std::u16string_view path)
{
    if (path.empty())
        return Error::PathNotFound; // as the platform answers an empty name
    if (path.size() >= MaxPath)
        return Error::FilenameExcedRange;
    if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]))
        return Error::BadPathname; // UNC and device paths ("\\server\share", "\\?\C:")
    if (path.size() >= 2 && path[1] == u':') {
        if (!isDriveLetter(path[0]))
            return Error::InvalidName;
        if (text::foldCase(path[0]) != u'C')
            return Error::BadPathname;
        // "C:name" is relative to the drive's current folder, which is always
        // the root here.
        path.remove_prefix(2);
    }

    std::vector<std::u16string> names;
    size_t position = 0;
    while (position <= path.size()) {
        size_t end = position;
        while (end < path.size() && !isSeparator(path[end]))
            ++end;
        std::u16string_view name = path.substr(position, end - position);
        position = end + 1;
        if (name.empty() || name == u".")
            continue;
        if (name == u"..") {
            if (names.empty())
                return Error::BadPathname;
            names.pop_back();
            continue;
        }
        if (std::any_of(name.begin(), name.end(), isInvalidNameUnit))
            return Error::InvalidName;
        // NOTE: the platform ignores trailing dots and spaces of a name, so
        // "MenuData.txt." is "MenuData.txt"; a name of only dots and spaces is
        // no name at all.
        while (!name.empty() && (name.back() == u'.' || name.back() == u' '))
            name.remove_suffix(1);
        if (name.empty())
            return Error::InvalidName;
        names.emplace_back(name);
    }
    return names;
}

bool hostExists(const fs::path& path)
{
    struct stat info { };
    return ::lstat(path.c_str(), &info) == 0;
}

bool hostIsDirectory(const fs::path& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The entry of `folder` whose name matches `name` without regard to case: the
// exact spelling when present, otherwise the first match in name order so that
// the choice never depends on the directory's order.
std::optional<fs::path> findEntry(const fs::path& folder, std::u16string_view name)
{
    const std::string wanted = text::toUtf8(name);
    fs::path exact = folder / wanted;
    if (hostExists(exact))
        return exact;
    std::error_code error;
    std::optional<std::string> best;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        std::string candidate = entry.path().filename().string();
        if (text::equalsIgnoreCase(std::string_view(candidate), std::string_view(wanted))
            && (!best || candidate < *best))
            best = std::move(candidate);
    }
    if (!best)
        return std::nullopt;
    return folder / *best;
}

// Where a path's root ends: 3 for "C:\", 2 for "C:", 1 for "\", 0 otherwise.
size_t rootLength(std::u16string_view path)
{
    if (path.size() >= 2 && path[1] == u':' && isDriveLetter(path[0]))
        return path.size() >= 3 && isSeparator(path[2]) ? 3 : 2;
    if (!path.empty() && isSeparator(path[0]))
        return 1;
    return 0;
}

} // namespace

Result<fs::path> toHost(std::u16string_view windowsPath, Lookup lookup)
{
    TRY_RESULT(names, components(windowsPath));
    fs::path current = machine::driveC();
    for (size_t i = 0; i < names.size(); ++i) {
        const bool last = i + 1 == names.size();
        // A file in the middle of a path is a missing folder to the platform.
        if (!hostIsDirectory(current))
            return Error::PathNotFound;
        if (auto found = findEntry(current, names[i])) {
            current = std::move(*found);
            continue;
        }
        if (!last)
            return Error::PathNotFound;
        if (lookup == Lookup::Existing)
            return Error::FileNotFound;
        current /= text::toUtf8(names[i]);
    }
    return current;
}

Result<std::u16string> fromHost(const fs::path& hostPath)
{
    const fs::path drive = machine::driveC().lexically_normal();
    const fs::path relative = hostPath.lexically_normal().lexically_relative(drive);
    if (relative.empty() || *relative.begin() == "..")
        return Error::BadPathname;
    std::u16string out = u"C:\\";
    for (const auto& part : relative) {
        if (part == ".")
            continue;
        if (out.back() != u'\\')
            out += u'\\';
        out += text::toUtf16(part.string());
    }
    return out;
}

std::u16string windowsDirectory()
{
    return u"C:\\WINDOWS";
}

std::u16string systemDirectory()
{
    return u"C:\\WINDOWS\\System32";
}

std::u16string profileDirectory(std::u16string_view userName)
{
    return append(u"C:\\Documents and Settings", userName);
}

Result<std::u16string> knownFolder(KnownFolder folder)
{
    switch (folder) {
    case KnownFolder::AppData: {
        const std::u16string profile = profileDirectory(security::currentUser().name);
        const std::u16string appData = append(profile, u"Application Data");
        // NOTE: a user who is logged on always has a profile, so the folder is
        // made here for a user added after the machine was laid out.
        for (const auto& folderPath : { profile, appData }) {
            if (auto host = toHost(folderPath, Lookup::ForCreate); host && !hostExists(*host))
                ::mkdir(host->c_str(), 0777);
        }
        return appData;
    }
    case KnownFolder::ProgramFiles:
        return std::u16string(u"C:\\Program Files");
    case KnownFolder::Windows:
        return windowsDirectory();
    case KnownFolder::System:
        return systemDirectory();
    }
    return Error::InvalidParameter;
}

std::u16string removeFileSpec(std::u16string_view path)
{
    const size_t root = rootLength(path);
    if (path.size() <= root)
        return std::u16string(path);
    // "C:\a\" loses only its trailing separator, as on the platform.
    if (isSeparator(path.back()))
        return std::u16string(path.substr(0, path.size() - 1));
    size_t cut = path.size();
    while (cut > root && !isSeparator(path[cut - 1]))
        --cut;
    if (cut <= root)
        return std::u16string(path.substr(0, root));
    return std::u16string(path.substr(0, cut - 1));
}

std::u16string append(std::u16string_view folder, std::u16string_view name)
{
    while (!name.empty() && isSeparator(name.front()))
        name.remove_prefix(1);
    if (folder.empty())
        return std::u16string(name);
    std::u16string out(folder);
    const size_t root = rootLength(out);
    while (out.size() > root && isSeparator(out.back()))
        out.pop_back();
    if (name.empty())
        return out;
    if (out.empty() || !isSeparator(out.back()))
        out += u'\\';
    out += name;
    return out;
}

std::u16string_view fileName(std::u16string_view path)
{
    const size_t root = rootLength(path);
    // A trailing separator does not make an empty last name: "C:\a\" -> "a".
    if (path.size() > root && isSeparator(path.back()))
        path.remove_suffix(1);
    size_t start = path.size();
    while (start > root && !isSeparator(path[start - 1]))
        --start;
    return path.substr(std::max(start, root));
}

std::u16string_view extension(std::u16string_view path)
{
    std::u16string_view name = fileName(path);
    size_t dot = name.find_last_of(u'.');
    // The platform stops an extension at a space: "a.b c" has none.
    if (dot == std::u16string_view::npos || name.find(u' ', dot) != std::u16string_view::npos)
        return {};
    return name.substr(dot);
}

} // namespace platform::paths
