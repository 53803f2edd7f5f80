#pragma once

// The support library's per-process state. Every process that loads the
// library has its own copy; it is set up once when the library is attached.

#include "platform/paths.h"

#include <array>
#include <string>
#include <string_view>

namespace support {

using PathBuffer = std::array<char16_t, platform::paths::MaxPath>;

// Full path of MenuData.txt: computed at start-up and again before every
// read and write of the data file; the backup copies use it as it stands.
extern PathBuffer DataPath;
// The log's path, computed once at start-up, and whether the log could be
// created or opened then.
extern PathBuffer LogPath;
extern bool LogFileReady;

// The file `name` in the folder of `path`: "C:\a\MenuData.txt" and
// "MenuData.bak" give "C:\a\MenuData.bak"; a path without a folder gives
// "\MenuData.bak".
std::u16string siblingPath(std::u16string_view path, std::u16string_view name);

// The start-up sequence run when the library is attached to a process.
void attachProcess();

// Clears the state as if the library had just been loaded (tests only).
void resetProcessState();

} // namespace support
