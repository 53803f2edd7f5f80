#include "modechange/adjust_modes.h"

#include "modechange/firmware_values.h"

#include "common/display_modes.h"
#include "common/names.h"
#include "common/settings.h"

#include "platform/display.h"

namespace modechange {

const std::array<DockStateRow, 6> DockStateTable { {
    { 0x01, common::PROFILE_UNDOCKED, 0x11, platform::display::InternalDevice, 1, true },
    { 0x02, common::PROFILE_UNDOCKED, 0x11, {}, 0, false },
    { 0x04, common::PROFILE_DOCKED, 0x22, platform::display::InternalDevice, 1, false },
    { 0x08, common::PROFILE_DOCKED, 0x22, platform::display::InternalDevice, 0, false },
    { 0x10, common::PROFILE_WRITE, 0x44, {}, 1, false },
    { 0x20, common::PROFILE_WRITE, 0x44, {}, 0, false },
} };

std::optional<DockStateRow> dockStateRow(uint32_t state)
{
    for (const auto& row : DockStateTable) {
        if (state & row.bit)
            return row;
    }
    return std::nullopt;
}

uint32_t AdjustModes(uint32_t flags, int32_t force)
{
    // Held for the whole adjustment, so that the library stays loaded while
    // the operations below bind and release it for each call.
    common::VendorDisplayLibrary library;
    (void)common::BindVendorDisplayLibrary(library);

    uint32_t state = 0;
    (void)GetFirmwareValue(FirmwareDockState, state);
    (void)common::WriteRegistryValue(common::RootKey::CurrentUser, common::SettingsKey, common::ValueMode,
        common::ValueType::Dword, &state, sizeof state);

    uint32_t enabled = 0;
    if (flags & AdjustProfile)
        (void)common::QueryEnabledProfiles(&enabled);

    if (auto row = dockStateRow(state)) {
        const bool profileEnabled = (enabled & row->enabledMask) != 0;
        if (profileEnabled)
            (void)common::LoadProfileIfNeeded(row->profile, force);
        if (profileEnabled || !row->orientationNeedsProfile)
            (void)common::SetOrientation(row->device, row->orientation);
    }
    return state;
}

int32_t SetProfileDefaults(uint32_t argument)
{
    common::VendorDisplayLibrary library;
    if (common::BindVendorDisplayLibrary(library) != 0)
        return -1;
    return library.keltoVenSetProfileDefaults(argument);
}

} // namespace modechange
