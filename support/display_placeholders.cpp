// FIXME: placeholders for the display and device exports until their real
// code lands in support/display*.cpp and support/device*.cpp. Each returns
// the neutral result (nothing changed, nothing available) so that programs
// binding the library find all of its exports. Remove an export from this
// file when its real shim is added.

#include "support/tavio_support.h"

extern "C" {

// Placeholder: the orientation is not changed.
int32_t RotateScreen(int32_t)
{
    return 0;
}

// Placeholder: reports the switch as failed.
int32_t VideoSwitch(int32_t)
{
    return 0;
}

// Placeholder: presentation mode is off.
int32_t IsPresentationModeON(void)
{
    return 0;
}

// Placeholder: does nothing.
void SetPresentationMode(int32_t) { }

// Placeholder: no presentation profile is enabled.
int32_t IsPresentationProfileEnable(void)
{
    return 0;
}

// Placeholder: does nothing.
void SetCurrentProfile(int32_t) { }

// Placeholder: the result the real export always gives.
int32_t MuteToggle(void)
{
    return 1;
}

// Placeholder: does nothing.
void CaptureScreen(void) { }

// Placeholder: does nothing.
void CaptureWindow(void) { }

// Placeholder: no radio.
int32_t IsWirelessAvailable(void)
{
    return 0;
}

// Placeholder: no radio.
uint8_t GetWirelessStatus(void)
{
    return 0;
}

// Placeholder: does nothing.
void WirelessToggle(void) { }

// Placeholder: reports the request as failed.
int32_t TurnOnBrightness(void)
{
    return 0;
}

// Placeholder: reports the request as failed.
int32_t TurnOffBrightness(void)
{
    return 0;
}

// Placeholder: does nothing.
void DoSuspend(void) { }

// Placeholder: does nothing.
void DoHibernate(void) { }

// Placeholder: does nothing.
void DoShutDown(void) { }

} // extern "C"
