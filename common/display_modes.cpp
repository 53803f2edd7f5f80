#include "common/display_modes.h"

#include "platform/display.h"

namespace common {

namespace {

template <typename Function> bool bind(const platform::modules::Module& module, std::string_view name, Function& target)
{
    auto found = module.symbol<Function>(name);
    if (!found)
        return false;
    target = found.value();
    return true;
}

bool isPortrait(uint32_t orientation)
{
    return orientation == 1 || orientation == 3;
}

} // namespace

int32_t BindVendorDisplayLibrary(VendorDisplayLibrary& library)
{
    auto loaded = platform::modules::Module::load(keltovdisp::LibraryName);
    if (!loaded)
        return -1;
    library.module = std::move(loaded.value());
    const auto& names = keltovdisp::FunctionNames;
    // The names in the order the library is bound; the first one missing ends it.
    bool complete = bind(library.module, names[0], library.keltoVenSwitchDisplay)
        && bind(library.module, names[1], library.keltoVenGetDisplay)
        && bind(library.module, names[2], library.keltoVenSetExtendedDesktop)
        && bind(library.module, names[3], library.keltoVenLoadProfile)
        && bind(library.module, names[4], library.keltoVenGetCurrentProfile)
        && bind(library.module, names[5], library.keltoVenGetEnabledProfiles)
        && bind(library.module, names[6], library.keltoVenSetEnabledProfiles)
        && bind(library.module, names[7], library.keltoVenGetProfileDefaults)
        && bind(library.module, names[8], library.keltoVenSetProfileDefaults);
    return complete ? 0 : -1;
}

uint32_t GetOrientation(std::u16string_view device)
{
    auto mode = platform::display::currentSettings(device, 0);
    return mode ? mode->orientation : 0;
}

int32_t SetOrientation(std::u16string_view device, int32_t orientation)
{
    if (orientation >= 0 && GetOrientation(device) == static_cast<uint32_t>(orientation))
        return OrientationDone;
    auto current = platform::display::currentSettings(device, platform::display::EDS_RAWMODE);
    if (!current || (current->fields & platform::display::DM_DISPLAYORIENTATION) == 0)
        return OrientationUnsupported;
    if (orientation < 0 || orientation > 3)
        return OrientationOutOfRange;

    platform::display::Mode mode = current.value();
    const uint32_t old = mode.orientation;
    mode.orientation = static_cast<uint32_t>(orientation);
    mode.fields &= RotationFields;
    if (isPortrait(old) != isPortrait(mode.orientation))
        std::swap(mode.width, mode.height);
    if (mode.width < MinimumWidth)
        return OrientationTooNarrow;

    // A driver that cannot turn the picture at this depth may at a lower one:
    // 32, then 24, then 16 bits per pixel.
    for (;;) {
        using platform::display::ChangeResult;
        auto answer = platform::display::changeSettings(
            device, mode, platform::display::CDS_UPDATEREGISTRY | platform::display::CDS_GLOBAL);
        switch (answer) {
        case ChangeResult::Successful:
            return OrientationDone;
        case ChangeResult::Restart:
            return OrientationNeedsRestart;
        case ChangeResult::BadMode:
            if (mode.bitsPerPixel < 24)
                return OrientationDepthRefused;
            mode.bitsPerPixel -= 8;
            break;
        default:
            return OrientationRefused;
        }
    }
}

int32_t QueryCurrentProfile(uint32_t* profile)
{
    *profile = 0;
    VendorDisplayLibrary library;
    if (BindVendorDisplayLibrary(library) != 0)
        return -1;
    return library.keltoVenGetCurrentProfile(profile);
}

int32_t LoadProfileIfNeeded(uint32_t profile, int32_t force)
{
    uint32_t current = 0;
    int32_t status = QueryCurrentProfile(&current);
    if (current == profile && force == 0)
        return status;
    VendorDisplayLibrary library;
    // NOTE: a library that cannot be bound now is a failure even when the
    // query before it succeeded; nothing was loaded.
    if (BindVendorDisplayLibrary(library) != 0)
        return -1;
    return library.keltoVenLoadProfile(profile);
}

int32_t QueryEnabledProfiles(uint32_t* mask)
{
    VendorDisplayLibrary library;
    if (BindVendorDisplayLibrary(library) != 0)
        return -1;
    return library.keltoVenGetEnabledProfiles(mask);
}

} // namespace common
