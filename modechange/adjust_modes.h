#pragma once

// Bringing the display in line with the firmware's docking state: the
// display profile and the orientation that belong to each state bit.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace modechange {

// Request flags of AdjustModes.
inline constexpr uint32_t AdjustOrientation = 1;
inline constexpr uint32_t AdjustProfile = 2;
inline constexpr uint32_t AdjustProfileAndOrientation = AdjustOrientation | AdjustProfile;

// What one bit of the docking state word asks for.
struct DockStateRow {
    uint32_t bit;
    uint32_t profile;
    uint32_t enabledMask; // the profile counts as enabled when the mask has any of these
    std::u16string_view device; // empty: the default display
    int32_t orientation;
    // Whether the orientation, too, waits for an enabled profile.
    bool orientationNeedsProfile;
};

// Bits 0 to 5 of the docking state word, lowest first.
extern const std::array<DockStateRow, 6> DockStateTable;

// The row of the lowest of bits 0 to 5 set in `state`; nothing when none is.
std::optional<DockStateRow> dockStateRow(uint32_t state);

// Reads the docking state from the firmware, stores it in "Mode", and loads
// the profile and sets the orientation of its row. With flags 1 no profile is
// loaded. Returns the state word read (0 when it could not be read).
uint32_t AdjustModes(uint32_t flags, int32_t force);

// Tells the vendor display library to use its profile defaults: the vendor
// status, or -1 when the library cannot be bound.
int32_t SetProfileDefaults(uint32_t argument);

} // namespace modechange
