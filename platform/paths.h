#pragma once

#include "platform/result.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace platform::paths {

// Paths in the programs are the platform's: "C:\Program Files\Tavio Menu",
// backslashes, held in buffers of 260 units.
constexpr size_t MaxPath = 260;

enum class Lookup {
    // Every component must exist (found without regard to letter case).
    Existing,
    // Every component but the last must exist; the last is matched without
    // regard to case when present and kept as written when absent.
    ForCreate,
};

// Maps a Windows path on drive C: to the host path inside the machine. Names
// are looked up without regard to letter case, so "MENUDATA.TXT" finds a file
// made as "MenuData.txt". Relative paths resolve against C:\.
// Errors: 3 when a folder on the way is missing (or is a file), 2 when the
// final component is missing (Lookup::Existing), 161 for a path on another
// drive, a UNC path or ".." above C:\, 123 for a name holding NUL, a control
// character or one of <>:"|?* (the wildcards included), 206 when longer than
// MaxPath - 1 units. Trailing dots and spaces of a name are ignored, as the
// platform does.
Result<std::filesystem::path> toHost(std::u16string_view windowsPath, Lookup lookup = Lookup::Existing);

// The reverse, for host paths inside drive C: (used by the machine tool).
Result<std::u16string> fromHost(const std::filesystem::path& hostPath);

// "C:\WINDOWS"
std::u16string windowsDirectory();
// "C:\WINDOWS\System32"
std::u16string systemDirectory();
// "C:\Documents and Settings\<user>"
std::u16string profileDirectory(std::u16string_view userName);

// The platform's CSIDL folder numbers that the programs ask for.
enum class KnownFolder : int {
    AppData = 26, // the current user's "Application Data"
    ProgramFiles = 38, // "C:\Program Files"
    Windows = 36, // "C:\WINDOWS"
    System = 37, // "C:\WINDOWS\System32"
};
// Resolves a known folder for the current user. Error 87 for an unknown one.
Result<std::u16string> knownFolder(KnownFolder folder);

// Path text helpers with the platform's rules.
// "C:\a\b.txt" -> "C:\a"; "C:\a" -> "C:\"; "b.txt" -> "".
std::u16string removeFileSpec(std::u16string_view path);
// Joins with exactly one backslash between the parts.
std::u16string append(std::u16string_view folder, std::u16string_view name);
// The last component: "C:\a\b.txt" -> "b.txt".
std::u16string_view fileName(std::u16string_view path);
// The extension with its dot: "b.TXT" -> ".TXT"; empty when none.
std::u16string_view extension(std::u16string_view path);

} // namespace platform::paths
