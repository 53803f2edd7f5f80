#pragma once

// The display operations shared by the support library and the mode change
// service: turning the picture through the platform's display settings, and
// asking the vendor display library for the current, enabled and loaded
// display profile. Every operation that needs the vendor library loads it by
// its file name, makes its one call and releases it before returning.

#include "vendor/keltovdisp.h"

#include "platform/modules.h"

#include <cstdint>
#include <string_view>

namespace common {

// Codes of VideoSwitch.
inline constexpr int32_t VIDEO_INTERNAL_ONLY = 1;
inline constexpr int32_t VIDEO_EXTERNAL_ONLY = 2;
inline constexpr int32_t VIDEO_INTERNAL_EXTERNAL = 3;
inline constexpr int32_t VIDEO_EXTENDED_DESKTOP = 4;

// Display profiles of the vendor library.
inline constexpr uint32_t PROFILE_UNDOCKED = 1;
inline constexpr uint32_t PROFILE_DOCKED = 2;
inline constexpr uint32_t PROFILE_WRITE = 3;
inline constexpr uint32_t PROFILE_PRESENTATION = 4;

// The presentation profile's two bits in the enabled-profiles mask.
inline constexpr uint32_t PresentationEnabledBits = 0x88;

// The field-mask bits a rotation passes on (orientation, depth, size, display
// flags, refresh rate).
inline constexpr uint32_t RotationFields = 0x7C0080;
// Narrower pictures are refused: the menu's windows would not fit.
inline constexpr uint32_t MinimumWidth = 640;

// Statuses of SetOrientation. Orientations 0 and 2 are landscape, 1 and 3
// portrait.
inline constexpr int32_t OrientationDone = 0;
inline constexpr int32_t OrientationOutOfRange = 1;
inline constexpr int32_t OrientationUnsupported = 2;
inline constexpr int32_t OrientationNeedsRestart = 3;
inline constexpr int32_t OrientationDepthRefused = 4;
inline constexpr int32_t OrientationRefused = 5;
inline constexpr int32_t OrientationTooNarrow = 6;

// The vendor library while it is bound: released when this ends.
struct VendorDisplayLibrary {
    platform::modules::Module module;
    keltovdisp::SwitchDisplayProc keltoVenSwitchDisplay { nullptr };
    keltovdisp::GetDisplayProc keltoVenGetDisplay { nullptr };
    keltovdisp::SetExtendedDesktopProc keltoVenSetExtendedDesktop { nullptr };
    keltovdisp::LoadProfileProc keltoVenLoadProfile { nullptr };
    keltovdisp::GetCurrentProfileProc keltoVenGetCurrentProfile { nullptr };
    keltovdisp::GetEnabledProfilesProc keltoVenGetEnabledProfiles { nullptr };
    keltovdisp::SetEnabledProfilesProc keltoVenSetEnabledProfiles { nullptr };
    keltovdisp::GetProfileDefaultsProc keltoVenGetProfileDefaults { nullptr };
    keltovdisp::SetProfileDefaultsProc keltoVenSetProfileDefaults { nullptr };
};

// Loads KELTOVDISP.DLL by its file name (the platform's search order) and
// looks up its nine functions. 0 when all were found; -1 otherwise, with the
// library still held in `library` when it loaded, so the caller releases it.
int32_t BindVendorDisplayLibrary(VendorDisplayLibrary& library);

// The current orientation 0-3 of a device (an empty name: the primary
// display); 0 when it cannot be read.
uint32_t GetOrientation(std::u16string_view device);

// Turns a device's picture: 0 done or nothing to do, 1 orientation out of
// range, 2 the display reports no orientation, 3 done at the next start, 4
// refused at every depth down to 16 bits, 5 refused otherwise, 6 the turned
// picture would be narrower than 640 pixels.
int32_t SetOrientation(std::u16string_view device, int32_t orientation);

// The vendor library's current profile (0 when not reported). The vendor
// status, or -1 when the library cannot be bound.
int32_t QueryCurrentProfile(uint32_t* profile);

// Loads a profile unless it is current already (or force is nonzero). The
// vendor status, or -1 when the library cannot be bound.
int32_t LoadProfileIfNeeded(uint32_t profile, int32_t force);

// The enabled-profiles mask. The vendor status, or -1 when the library
// cannot be bound.
int32_t QueryEnabledProfiles(uint32_t* mask);

} // namespace common
