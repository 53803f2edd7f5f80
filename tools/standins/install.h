#pragma once

#include "platform/result.h"

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace standins {

// The platform's own programs that the machine carries in C:\WINDOWS\System32:
// the Control Panel, the volume control, the web browser, two applets and
// the session notification library.
inline constexpr std::array<std::string_view, 6> PlatformPrograms {
    "control.exe",
    "sndvol32.exe",
    "webbrowser.exe",
    "powercfg.cpl",
    "tabletpc.cpl",
    "Wtsapi32.dll",
};

struct InstallReport {
    std::vector<std::string> installed;
    // Programs the source folder lacks (a partial build); left out.
    std::vector<std::string> missing;
};

// Copies the platform's programs from `sourceFolder` (a host folder, where
// the build put them) into C:\WINDOWS\System32, keeping their permissions,
// and registers the file associations of the machine: .htm, .html and the
// http and https addresses open in webbrowser.exe, .cpl files in
// control.exe. Writes under HKEY_LOCAL_MACHINE, so the caller must act as
// an administrator (5 otherwise). Records "platform.install".
platform::Result<InstallReport> installPlatformPrograms(const std::filesystem::path& sourceFolder);

} // namespace standins
