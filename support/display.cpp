#include "support/display.h"

#include "common/display_modes.h"
#include "common/names.h"
#include "common/settings.h"
#include "support/log.h"

namespace support {

int32_t RotateScreen(int32_t orientation)
{
    // NOTE: the caller shows nothing either way, so the status is dropped.
    (void)common::SetOrientation(u"", orientation);
    return 0;
}

int32_t VideoSwitch(int32_t videoCode)
{
    logTrace(u"Enter VideoSwitch\n");
    int32_t status = -1;
    {
        common::VendorDisplayLibrary library;
        if (common::BindVendorDisplayLibrary(library) == 0) {
            switch (videoCode) {
            case common::VIDEO_INTERNAL_ONLY:
            case common::VIDEO_EXTERNAL_ONLY:
            case common::VIDEO_INTERNAL_EXTERNAL:
                status = library.keltoVenSwitchDisplay(static_cast<uint32_t>(videoCode));
                break;
            case common::VIDEO_EXTENDED_DESKTOP:
                status = library.keltoVenSetExtendedDesktop(0);
                break;
            default:
                status = library.keltoVenSwitchDisplay(0);
                break;
            }
        }
    }
    logTrace(u"Exit VideoSwitch\n");
    return status == 0 ? 1 : 0;
}

int32_t IsPresentationModeON()
{
    logTrace(u"Enter IsPresentationModeON\n");
    uint32_t profile = 0;
    const bool on = common::QueryCurrentProfile(&profile) == 0 && profile == common::PROFILE_PRESENTATION;
    logTrace(u"Exit IsPresentationModeON\n");
    return on ? 1 : 0;
}

void SetPresentationMode(int32_t on)
{
    logTrace(u"Enter SetPresentationMode\n");
    if (on == 1) {
        // The service sets the orientation that goes with the loaded profile.
        if (common::LoadProfileIfNeeded(common::PROFILE_PRESENTATION, 0) == 0)
            (void)common::PulseNamedEvent(common::EventAdjustScreenOrientation);
    } else if (on == 0) {
        (void)common::PulseNamedEvent(common::EventAdjustProfileAndScreenOrientation);
    }
    logTrace(u"Exit SetPresentationMode\n");
}

int32_t IsPresentationProfileEnable()
{
    logTrace(u"Enter IsPresentationProfileEnable\n");
    uint32_t mask = 0;
    const bool enabled = common::QueryEnabledProfiles(&mask) == 0 && (mask & common::PresentationEnabledBits) != 0;
    logTrace(u"Exit IsPresentationProfileEnable\n");
    return enabled ? 1 : 0;
}

void SetCurrentProfile(int32_t profile)
{
    logTrace(u"Enter SetCurrentProfile\n");
    (void)common::LoadProfileIfNeeded(static_cast<uint32_t>(profile), 0);
    logTrace(u"Exit SetCurrentProfile\n");
}

} // namespace support
