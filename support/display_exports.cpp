// The display exports of TavioSupport.DLL: each calls the library's own
// code in support/display.cpp.

#include "support/display.h"
#include "support/tavio_support.h"

extern "C" {

// Turns the primary display to orientation 0-3; always 0.
int32_t RotateScreen(int32_t orientation)
{
    return support::RotateScreen(orientation);
}

// Sends the picture to the outputs of a video code; 1 done, 0 failed.
int32_t VideoSwitch(int32_t videoCode)
{
    return support::VideoSwitch(videoCode);
}

// 1 when the presentation profile is loaded.
int32_t IsPresentationModeON(void)
{
    return support::IsPresentationModeON();
}

// Enters (1) or leaves (0) presentation mode.
void SetPresentationMode(int32_t on)
{
    support::SetPresentationMode(on);
}

// 1 when the presentation profile is enabled.
int32_t IsPresentationProfileEnable(void)
{
    return support::IsPresentationProfileEnable();
}

// Loads a display profile unless it is current.
void SetCurrentProfile(int32_t profile)
{
    support::SetCurrentProfile(profile);
}

} // extern "C"
