#pragma once

// The device exports' own code: mute and capture by simulated keys,
// wireless and brightness as requests to the mode change service, and the
// power requests.

#include <cstdint>

namespace support {

// How long the capture actions wait for the caller's minimized window to
// leave the screen.
inline constexpr uint32_t CaptureDelayMilliseconds = 1000;

int32_t MuteToggle();
void CaptureScreen();
void CaptureWindow();
// From the per-user "Wireless" value, low byte only.
int32_t IsWirelessAvailable();
uint8_t GetWirelessStatus();
void WirelessToggle();
// Write "Brightness" (1 or 0) and, when written, pulse the request: 1, or 0
// when the value could not be written.
int32_t TurnOnBrightness();
int32_t TurnOffBrightness();
void DoSuspend();
void DoHibernate();
void DoShutDown();

} // namespace support
