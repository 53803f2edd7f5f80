#pragma once

// The named request events of the resident service and what each request
// does: the events are created at start, the main thread waits on them and
// serves one request at a time.

#include <cstdint>

namespace modechange {

// Failure codes of CreateRequestEvents.
inline constexpr int32_t ShutdownEventFailed = 2;
inline constexpr int32_t ShutdownThreadEventFailed = 3;
inline constexpr int32_t AdjustEventFailed = 4;
inline constexpr int32_t WirelessEventFailed = 5;
inline constexpr int32_t BrightnessEventFailed = 6;

// Creates (or opens) the seven events. 0 when all exist; otherwise the code
// of the last one that failed. A failure on "ModeChangeShutdown" ends the
// creation at once.
int32_t CreateRequestEvents();
// Closes the events' handles (shutdown).
void CloseRequestEvents();

// Waits on the six events and serves each request until KeepRunning is 0.
// The events must have been created.
void RunDispatcher();

// Switches the radio over, by the state last stored in "Wireless".
void ToggleWireless();
// Reads the radio's state back from the firmware into "Wireless".
void StoreWirelessState();
// Passes "Brightness" to the firmware; nothing when the value is missing.
void ApplyBrightness();

} // namespace modechange
