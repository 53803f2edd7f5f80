// KELTOVDISP.DLL, the machine's own vendor display library: switches the
// outputs and keeps the display profiles through the platform's display
// adapter, with its settings in the machine state (vendor/state.h). Every
// call is counted there so that tests can see which calls were made.
//
// A test build leaves keltoVenSetProfileDefaults out
// (KELTOVDISP_LACKS_SET_PROFILE_DEFAULTS), as a broken copy of the library.

#include "vendor/keltovdisp.h"
#include "vendor/state.h"

#include "platform/display.h"

#include <string>

#define KELTOVDISP_API extern "C" __attribute__((visibility("default")))

namespace {

using platform::display::Topology;
using namespace keltovdisp;

std::string pointerArgument(const uint32_t* pointer)
{
    return pointer ? "pointer" : "null";
}

std::string numberArgument(uint32_t value)
{
    return std::to_string(value);
}

int32_t switchTo(Topology topology)
{
    return platform::display::setTopology(topology) ? StatusSuccess : StatusStateUnavailable;
}

// Puts the profile's outputs and mode into effect; on a refusal the outputs
// go back to what they were.
int32_t applyProfile(const ProfileSetup& setup)
{
    const Topology before = platform::display::topology();
    if (!platform::display::setTopology(setup.topology))
        return StatusStateUnavailable;
    auto answer = platform::display::changeSettings(u"", setup.mode, platform::display::CDS_UPDATEREGISTRY);
    if (answer == platform::display::ChangeResult::Successful)
        return StatusSuccess;
    (void)platform::display::setTopology(before);
    return StatusDisplayRefused;
}

} // namespace

// Shows the picture on the internal panel (1), the external output (2) or
// both (3).
KELTOVDISP_API int32_t keltoVenSwitchDisplay(uint32_t outputs)
{
    recordCall("keltoVenSwitchDisplay", numberArgument(outputs));
    switch (outputs) {
    case SwitchInternal:
        return switchTo(Topology::Internal);
    case SwitchExternal:
        return switchTo(Topology::External);
    case SwitchBoth:
        return switchTo(Topology::Clone);
    default:
        return StatusBadArgument;
    }
}

// Reports the active outputs as DisplayInternalActive, DisplayExternalActive
// and DisplayExtended bits.
KELTOVDISP_API int32_t keltoVenGetDisplay(uint32_t* outputs)
{
    recordCall("keltoVenGetDisplay", pointerArgument(outputs));
    if (!outputs)
        return StatusBadArgument;
    switch (platform::display::topology()) {
    case Topology::Internal:
        *outputs = DisplayInternalActive;
        break;
    case Topology::External:
        *outputs = DisplayExternalActive;
        break;
    case Topology::Clone:
        *outputs = DisplayInternalActive | DisplayExternalActive;
        break;
    case Topology::Extended:
        *outputs = DisplayInternalActive | DisplayExternalActive | DisplayExtended;
        break;
    }
    return StatusSuccess;
}

// Spreads the desktop over both outputs; the argument is reserved and must be 0.
KELTOVDISP_API int32_t keltoVenSetExtendedDesktop(uint32_t reserved)
{
    recordCall("keltoVenSetExtendedDesktop", numberArgument(reserved));
    if (reserved != 0)
        return StatusBadArgument;
    return switchTo(Topology::Extended);
}

// Loads profile 1-4: its outputs and mode, if the profile is enabled.
KELTOVDISP_API int32_t keltoVenLoadProfile(uint32_t profile)
{
    recordCall("keltoVenLoadProfile", numberArgument(profile));
    auto setup = profileSetup(profile);
    if (!setup)
        return StatusBadArgument;
    if (!isEnabled(enabledProfiles(), profile))
        return StatusProfileDisabled;
    int32_t status = applyProfile(*setup);
    if (status != StatusSuccess)
        return status;
    return setCurrentProfile(profile) ? StatusSuccess : StatusStateUnavailable;
}

KELTOVDISP_API int32_t keltoVenGetCurrentProfile(uint32_t* profile)
{
    recordCall("keltoVenGetCurrentProfile", pointerArgument(profile));
    if (!profile)
        return StatusBadArgument;
    *profile = currentProfile();
    return StatusSuccess;
}

KELTOVDISP_API int32_t keltoVenGetEnabledProfiles(uint32_t* mask)
{
    recordCall("keltoVenGetEnabledProfiles", pointerArgument(mask));
    if (!mask)
        return StatusBadArgument;
    *mask = enabledProfiles();
    return StatusSuccess;
}

KELTOVDISP_API int32_t keltoVenSetEnabledProfiles(uint32_t mask)
{
    recordCall("keltoVenSetEnabledProfiles", numberArgument(mask));
    if (mask > 0xFF)
        return StatusBadArgument;
    return setEnabledProfiles(mask) ? StatusSuccess : StatusStateUnavailable;
}

// The profile the driver falls back to, 0 for none.
KELTOVDISP_API int32_t keltoVenGetProfileDefaults(uint32_t* profile)
{
    recordCall("keltoVenGetProfileDefaults", pointerArgument(profile));
    if (!profile)
        return StatusBadArgument;
    *profile = defaultProfile();
    return StatusSuccess;
}

#ifndef KELTOVDISP_LACKS_SET_PROFILE_DEFAULTS
KELTOVDISP_API int32_t keltoVenSetProfileDefaults(uint32_t profile)
{
    recordCall("keltoVenSetProfileDefaults", numberArgument(profile));
    if (profile > LastProfile)
        return StatusBadArgument;
    return setDefaultProfile(profile) ? StatusSuccess : StatusStateUnavailable;
}
#endif
