#pragma once

// The display exports' own code: rotation through the platform's display
// settings, output switching and profiles through the vendor display
// library, which every call binds and releases again.

#include <cstdint>

namespace support {

// Turns the primary display; always 0, whatever became of it.
int32_t RotateScreen(int32_t orientation);
// 1 when the vendor library switched the outputs for the video code, else 0.
int32_t VideoSwitch(int32_t videoCode);
// 1 when the presentation profile is the current one.
int32_t IsPresentationModeON();
// 1: load the presentation profile and ask the mode change service to set
// the orientation that goes with it; 0: ask the service to choose profile
// and orientation again; other values do nothing.
void SetPresentationMode(int32_t on);
// 1 when the vendor library has the presentation profile enabled.
int32_t IsPresentationProfileEnable();
// Loads the profile unless it is current already.
void SetCurrentProfile(int32_t profile);

} // namespace support
