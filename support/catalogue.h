#pragma once

// The built-in actions: each has a fixed command number (TabID) that the
// quick menu and the applet recognise. Numbers from LastTabIDUsed upward
// (300 with the default menu) belong to the user's own entries. The numbers
// are stored in the data file and must never change.

#include <cstdint>

namespace support {

inline constexpr uint32_t TAB_WIRELESS = 231;
inline constexpr uint32_t TAB_INTERNAL_ONLY = 232;
inline constexpr uint32_t TAB_VOLUME = 233;
inline constexpr uint32_t TAB_MUTE = 234;
inline constexpr uint32_t TAB_BRIGHTNESS = 235;
inline constexpr uint32_t TAB_CAPTURE_SCREEN = 236;
inline constexpr uint32_t TAB_CAPTURE_WINDOW = 237;
// 238 is not assigned.
inline constexpr uint32_t TAB_PORTRAIT_PRIMARY = 239;
// 240 is not assigned.
inline constexpr uint32_t TAB_POWER_CONTROL = 241;
inline constexpr uint32_t TAB_SETTINGS = 242;
inline constexpr uint32_t TAB_TABLET_SETTINGS = 243;
inline constexpr uint32_t TAB_PRESENTATION = 244;
inline constexpr uint32_t TAB_LANDSCAPE_PRIMARY = 245;
inline constexpr uint32_t TAB_LANDSCAPE_SECONDARY = 246;
inline constexpr uint32_t TAB_PORTRAIT_SECONDARY = 247;
inline constexpr uint32_t TAB_EXTERNAL_ONLY = 248;
inline constexpr uint32_t TAB_INTERNAL_EXTERNAL = 249;
inline constexpr uint32_t TAB_STANDBY = 250;
inline constexpr uint32_t TAB_HIBERNATE = 251;
inline constexpr uint32_t TAB_SHUTDOWN = 252;
inline constexpr uint32_t TAB_EXTENDED_DESKTOP = 253;
inline constexpr uint32_t TAB_DOCKED_PROFILE = 254;
inline constexpr uint32_t TAB_UNDOCKED_PROFILE = 255;
inline constexpr uint32_t TAB_WRITE_PROFILE = 256;
// 257 to 259 are not assigned.
// Does nothing: both the quick menu and the applet ignore it.
inline constexpr uint32_t TAB_NONE = 260;

// The TabID the first entry a user adds receives in the default menu.
inline constexpr uint32_t FirstUserTabID = 300;

// The description every user-added entry gets.
inline constexpr uint32_t UserEntryHelpStringID = 34;

// What the quick menu does for a TabID. Every TabID not named here (the
// user's entries included) starts the entry's FileName.
enum class Operation {
    StartFileName, // TavioUtilShellExecute with the entry's FileName
    WirelessToggle,
    VideoSwitch, // with the TabID's video code
    MuteToggle,
    Brightness, // TurnOnBrightness, then TurnOffBrightness once the user confirms
    CaptureScreen,
    CaptureWindow,
    RotateScreen, // with the TabID's orientation
    PresentationMode, // SetPresentationMode to the state opposite the one shown
    DoSuspend,
    DoHibernate,
    DoShutDown,
    SetCurrentProfile, // with the TabID's profile number
    Nothing,
};

struct BuiltInAction {
    Operation operation { Operation::StartFileName };
    // The orientation (0-3), video code (1-4) or profile number (1-3) the
    // operation takes; 0 for the others.
    int32_t argument { 0 };
};

// The operation of a TabID, from the catalogue of built-in actions.
constexpr BuiltInAction builtInAction(uint32_t tabId)
{
    switch (tabId) {
    case TAB_WIRELESS:
        return { Operation::WirelessToggle };
    case TAB_INTERNAL_ONLY:
        return { Operation::VideoSwitch, 1 };
    case TAB_EXTERNAL_ONLY:
        return { Operation::VideoSwitch, 2 };
    case TAB_INTERNAL_EXTERNAL:
        return { Operation::VideoSwitch, 3 };
    case TAB_EXTENDED_DESKTOP:
        return { Operation::VideoSwitch, 4 };
    case TAB_MUTE:
        return { Operation::MuteToggle };
    case TAB_BRIGHTNESS:
        return { Operation::Brightness };
    case TAB_CAPTURE_SCREEN:
        return { Operation::CaptureScreen };
    case TAB_CAPTURE_WINDOW:
        return { Operation::CaptureWindow };
    case TAB_LANDSCAPE_PRIMARY:
        return { Operation::RotateScreen, 0 };
    case TAB_PORTRAIT_PRIMARY:
        return { Operation::RotateScreen, 1 };
    case TAB_LANDSCAPE_SECONDARY:
        return { Operation::RotateScreen, 2 };
    case TAB_PORTRAIT_SECONDARY:
        return { Operation::RotateScreen, 3 };
    case TAB_PRESENTATION:
        return { Operation::PresentationMode };
    case TAB_STANDBY:
        return { Operation::DoSuspend };
    case TAB_HIBERNATE:
        return { Operation::DoHibernate };
    case TAB_SHUTDOWN:
        return { Operation::DoShutDown };
    case TAB_UNDOCKED_PROFILE:
        return { Operation::SetCurrentProfile, 1 };
    case TAB_DOCKED_PROFILE:
        return { Operation::SetCurrentProfile, 2 };
    case TAB_WRITE_PROFILE:
        return { Operation::SetCurrentProfile, 3 };
    case TAB_NONE:
        return { Operation::Nothing };
    default:
        // TAB_VOLUME, TAB_POWER_CONTROL, TAB_SETTINGS, TAB_TABLET_SETTINGS
        // and every user entry.
        return { Operation::StartFileName };
    }
}

} // namespace support
