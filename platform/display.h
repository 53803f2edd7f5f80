#pragma once

#include "platform/result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::display {

// The machine's display adapter: the internal panel "\\.\DISPLAY1" and an
// external output "\\.\DISPLAY2", each with a current mode and a mode saved
// for the next start. Programs read and change the modes with the platform's
// numbers (the DM_ field bits, the CDS_ flags and the DISP_CHANGE_ answers);
// what the simulated driver accepts is machine configuration, so a test can
// make it refuse a depth or rotation.

inline constexpr std::u16string_view InternalDevice = u"\\\\.\\DISPLAY1";
inline constexpr std::u16string_view ExternalDevice = u"\\\\.\\DISPLAY2";

// Field-mask bits of a display mode: which fields the driver reports and
// which fields of a request are meant.
inline constexpr uint32_t DM_DISPLAYORIENTATION = 0x80;
inline constexpr uint32_t DM_BITSPERPEL = 0x40000;
inline constexpr uint32_t DM_PELSWIDTH = 0x80000;
inline constexpr uint32_t DM_PELSHEIGHT = 0x100000;
inline constexpr uint32_t DM_DISPLAYFLAGS = 0x200000;
inline constexpr uint32_t DM_DISPLAYFREQUENCY = 0x400000;

// Orientation values: 0 and 2 are landscape, 1 and 3 portrait.
inline constexpr uint32_t DMDO_DEFAULT = 0;
inline constexpr uint32_t DMDO_90 = 1;
inline constexpr uint32_t DMDO_180 = 2;
inline constexpr uint32_t DMDO_270 = 3;

// Flags of a change request.
inline constexpr uint32_t CDS_UPDATEREGISTRY = 0x1;
inline constexpr uint32_t CDS_TEST = 0x2;
inline constexpr uint32_t CDS_FULLSCREEN = 0x4;
inline constexpr uint32_t CDS_GLOBAL = 0x8;
inline constexpr uint32_t CDS_SET_PRIMARY = 0x10;
inline constexpr uint32_t CDS_NORESET = 0x10000000;
inline constexpr uint32_t CDS_RESET = 0x40000000;

// Flags of a query.
inline constexpr uint32_t EDS_RAWMODE = 0x2;

// The platform's answers to a change request.
enum class ChangeResult : int32_t {
    Successful = 0, // DISP_CHANGE_SUCCESSFUL
    Restart = 1, // DISP_CHANGE_RESTART: saved, takes effect at the next start
    Failed = -1, // DISP_CHANGE_FAILED: the driver failed
    BadMode = -2, // DISP_CHANGE_BADMODE: the mode is not supported
    NotUpdated = -3, // DISP_CHANGE_NOTUPDATED: the saved settings could not be written
    BadFlags = -4, // DISP_CHANGE_BADFLAGS
    BadParam = -5, // DISP_CHANGE_BADPARAM: no such device, or a bad combination
};

struct Mode {
    uint32_t fields { 0 }; // DM_ bits: which of the fields below are meant
    uint32_t width { 0 };
    uint32_t height { 0 };
    uint32_t bitsPerPixel { 0 };
    uint32_t orientation { 0 };
    uint32_t frequency { 0 };
    uint32_t displayFlags { 0 };

    friend bool operator==(const Mode&, const Mode&) = default;
};

// Which outputs show a picture: set by the video driver's own library (the
// vendor display library) and the machine tool, not by the programs.
enum class Topology {
    Internal, // DISPLAY1 only
    External, // DISPLAY2 only, which is then the primary display
    Clone, // both, the same picture; DISPLAY1 is the primary display
    Extended, // both, the desktop spread over them; DISPLAY1 is the primary display
};

struct Device {
    std::u16string name; // "\\.\DISPLAY1"
    std::u16string description; // "Internal panel"
    bool active { false }; // attached to the desktop
    bool primary { false };
    Mode current; // what it shows now (as the driver reports it)
    Mode saved; // what it shows after the next start
};

// What the simulated driver accepts.
struct Driver {
    std::vector<uint32_t> depths { 32, 24, 16 }; // bits per pixel, any order
    bool rotation { true }; // accepts orientations 1-3
    bool orientationField { true }; // reports DM_DISPLAYORIENTATION at all
    bool needsRestart { false }; // a change is only saved, answering Restart
    bool failing { false }; // every change answers Failed
    // Landscape sizes; a portrait mode must be one of them turned.
    std::vector<std::pair<uint32_t, uint32_t>> sizes { { 640, 480 }, { 800, 600 }, { 1024, 768 }, { 1280, 1024 },
        { 1400, 1050 } };
};

// The current settings of a device, or of the primary display for an empty
// name. With EDS_RAWMODE the mode is the driver's own, unfiltered by what the
// monitor accepts; the simulated monitor accepts everything, so both agree.
// Errors: 87 for an unknown device name or unknown flags, 31 for a device not
// attached to the desktop (it has no current settings).
Result<Mode> currentSettings(std::u16string_view device, uint32_t flags = 0);

// The settings the device starts with next time (ENUM_REGISTRY_SETTINGS).
Result<Mode> savedSettings(std::u16string_view device);

// Applies a mode to a device, or to the primary display for an empty name:
// the fields named in mode.fields are taken from it, the others stay. With
// no mode, the saved settings become the current ones (how a series of
// CDS_NORESET changes is put into effect).
//
// CDS_UPDATEREGISTRY also saves the mode; CDS_GLOBAL (saved for every user)
// and CDS_NORESET (saved only, not shown yet) need it; CDS_TEST only checks
// that the driver would take the mode. Any other flag bit gives BadFlags.
// Every applied change is recorded as "display.change", every refusal as
// "display.refused", each with the device and the mode asked for.
ChangeResult changeSettings(std::u16string_view device, const std::optional<Mode>& mode, uint32_t flags);

// The devices in their order, DISPLAY1 first.
std::vector<Device> devices();

Topology topology();
// Switches the outputs (the driver's own service). An output coming on
// shows its saved mode. Records "display.topology".
Status setTopology(Topology topology);

Driver driver();
// Errors: 87 for an empty list of depths or sizes, a depth that is not 8, 16,
// 24 or 32, or a size of 0.
Status setDriver(const Driver& driver);

// Sets a device's current and saved mode as given, without asking the
// driver (the machine tool's way of putting the machine into a state).
// Errors: 87 for an unknown device, an orientation above 3 or a size of 0.
Status setMode(std::u16string_view device, const Mode& mode);

// Finds a device by its name: "\\.\DISPLAY2", or "DISPLAY2" for people,
// without regard to case. The full name, or nothing.
std::optional<std::u16string> deviceName(std::u16string_view name);

} // namespace platform::display
