#pragma once

// The support library's per-process state. Every process that loads the
// library has its own copy; it is set up once when the library is attached.

#include "platform/modules.h"
#include "platform/paths.h"

#include <array>
#include <string>
#include <string_view>

namespace support {

using PathBuffer = std::array<char16_t, platform::paths::MaxPath>;

// The library's own module handle, given by the loader at attach time (or
// found from the library's own code when it was loaded without the
// platform's loader).
extern platform::modules::ModuleHandle ModuleHandle;
// The "ApplicationPath" value read at start-up; empty when it could not be read.
extern PathBuffer AppPath;
// The Windows folder, read at start-up.
extern PathBuffer WindowsDir;
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

// The start-up sequence run when the library is attached to a process: the
// module handle, the log, the application path, the Windows folder, the check
// for the vendor display library and the data path.
//
// The platform's loader calls the library's DllMain after the host loader has
// run the library's constructor, and a plain host load runs the constructor
// only; whichever comes first runs the sequence, the other only keeps a
// module handle it was given. So the sequence runs once per load.
void attachProcess(platform::modules::ModuleHandle module = {});

// The library leaves the process: a library that the host keeps resident
// runs the whole start-up again at its next attach.
void detachProcess();

// Clears the state as if the library had just been loaded (tests only).
void resetProcessState();

} // namespace support
