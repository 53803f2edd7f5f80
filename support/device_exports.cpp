// The device, capture and power exports of TavioSupport.DLL: each calls the
// library's own code in support/devices.cpp.

#include "support/devices.h"
#include "support/tavio_support.h"

extern "C" {

// Presses the volume-mute key; always 1.
int32_t MuteToggle(void)
{
    return support::MuteToggle();
}

// Copies the screen to the clipboard after a second.
void CaptureScreen(void)
{
    support::CaptureScreen();
}

// Copies the active window to the clipboard after a second.
void CaptureWindow(void)
{
    support::CaptureWindow();
}

// 1 when the machine has a wireless radio.
int32_t IsWirelessAvailable(void)
{
    return support::IsWirelessAvailable();
}

// The radio's state as last stored: 0 none, 1 off, 3 on.
uint8_t GetWirelessStatus(void)
{
    return support::GetWirelessStatus();
}

// Asks the mode change service to switch the radio over.
void WirelessToggle(void)
{
    support::WirelessToggle();
}

// Asks for brightness adjustment by the jog dial; 1 requested, 0 failed.
int32_t TurnOnBrightness(void)
{
    return support::TurnOnBrightness();
}

// Ends brightness adjustment; 1 requested, 0 failed.
int32_t TurnOffBrightness(void)
{
    return support::TurnOffBrightness();
}

// Puts the machine to standby.
void DoSuspend(void)
{
    support::DoSuspend();
}

// Hibernates the machine.
void DoHibernate(void)
{
    support::DoHibernate();
}

// Shuts the machine down.
void DoShutDown(void)
{
    support::DoShutDown();
}

} // extern "C"
