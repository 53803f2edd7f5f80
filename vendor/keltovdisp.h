#pragma once

// The interface of the vendor display library KELTOVDISP.DLL, which comes
// with the video driver: nine functions with C linkage, each taking one
// argument (a number, or a pointer to a 32-bit integer) and returning a
// 32-bit status, 0 meaning success. Callers load the library by its file
// name and look the functions up by name.

#include <array>
#include <cstdint>
#include <string_view>

namespace keltovdisp {

inline constexpr std::u16string_view LibraryName = u"KELTOVDISP.DLL";

using SwitchDisplayProc = int32_t (*)(uint32_t outputs);
using GetDisplayProc = int32_t (*)(uint32_t* outputs);
using SetExtendedDesktopProc = int32_t (*)(uint32_t reserved);
using LoadProfileProc = int32_t (*)(uint32_t profile);
using GetCurrentProfileProc = int32_t (*)(uint32_t* profile);
using GetEnabledProfilesProc = int32_t (*)(uint32_t* mask);
using SetEnabledProfilesProc = int32_t (*)(uint32_t mask);
using GetProfileDefaultsProc = int32_t (*)(uint32_t* profile);
using SetProfileDefaultsProc = int32_t (*)(uint32_t profile);

// The names in the order the callers bind them.
inline constexpr std::array<std::string_view, 9> FunctionNames {
    "keltoVenSwitchDisplay",
    "keltoVenGetDisplay",
    "keltoVenSetExtendedDesktop",
    "keltoVenLoadProfile",
    "keltoVenGetCurrentProfile",
    "keltoVenGetEnabledProfiles",
    "keltoVenSetEnabledProfiles",
    "keltoVenGetProfileDefaults",
    "keltoVenSetProfileDefaults",
};

// Statuses of this library's functions.
inline constexpr int32_t StatusSuccess = 0;
inline constexpr int32_t StatusBadArgument = 1; // a number out of range or a null pointer
inline constexpr int32_t StatusProfileDisabled = 2; // the profile is not enabled
inline constexpr int32_t StatusDisplayRefused = 3; // the display did not take the configuration
inline constexpr int32_t StatusStateUnavailable = 4; // the driver's settings could not be read or written

// Arguments of keltoVenSwitchDisplay.
inline constexpr uint32_t SwitchInternal = 1;
inline constexpr uint32_t SwitchExternal = 2;
inline constexpr uint32_t SwitchBoth = 3;

// Bits reported by keltoVenGetDisplay.
inline constexpr uint32_t DisplayInternalActive = 0x1;
inline constexpr uint32_t DisplayExternalActive = 0x2;
inline constexpr uint32_t DisplayExtended = 0x4;

} // namespace keltovdisp
