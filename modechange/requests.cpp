#include "modechange/requests.h"

#include "modechange/adjust_modes.h"
#include "modechange/firmware_values.h"
#include "modechange/service.h"
#include "modechange/service_state.h"

#include "common/names.h"
#include "common/settings.h"

#include "platform/sync.h"

#include <array>

namespace modechange {

namespace sync = platform::sync;

namespace {

// Creates or opens one auto-reset event; false when neither was possible.
bool createRequestEvent(std::u16string_view name, sync::Handle& handle)
{
    auto created = sync::createEvent(name, sync::ResetMode::Auto, sync::InitialState::NotSignalled);
    if (!created)
        return false;
    handle = std::move(created->handle);
    return true;
}

bool readDword(std::u16string_view name, uint32_t& value)
{
    uint32_t size = sizeof value;
    return common::ReadRegistryValue(common::RootKey::CurrentUser, common::SettingsKey, name, nullptr, &value, &size)
        == 0;
}

void writeDword(std::u16string_view name, uint32_t value)
{
    (void)common::WriteRegistryValue(
        common::RootKey::CurrentUser, common::SettingsKey, name, common::ValueType::Dword, &value, sizeof value);
}

// Stops the dock monitor and starts a new one, which adjusts profile and
// orientation as soon as it is connected. Returns false when
// "ModeChangeShutdown" arrived meanwhile.
bool restartMonitor()
{
    StopMonitor();
    (void)StartWorkerThreads();
    // NOTE: the wait ends when the new monitor reports running, when it ends
    // without running (Cancel in its connection box), or when the service is
    // told to shut down; it never polls.
    auto run = currentMonitorRun();
    if (!run)
        return true;
    auto& events = requestEvents();
    const std::array<const sync::Handle*, 2> waits { &events.shutdown, &run->changed };
    while (!run->running && !run->ended) {
        auto woken = sync::waitAny(waits, sync::Infinite);
        if (!woken)
            return true;
        if (woken->signalled() && woken->index == 0)
            return false;
    }
    return true;
}

} // namespace

int32_t CreateRequestEvents()
{
    auto& events = requestEvents();
    if (!createRequestEvent(common::EventModeChangeShutdown, events.shutdown))
        return ShutdownEventFailed;
    int32_t result = 0;
    if (!createRequestEvent(common::EventModeChangeShutdownThread, events.shutdownThread))
        result = ShutdownThreadEventFailed;
    if (!createRequestEvent(common::EventAdjustScreenOrientation, events.adjustScreenOrientation))
        result = AdjustEventFailed;
    if (!createRequestEvent(common::EventAdjustProfile, events.adjustProfile))
        result = AdjustEventFailed;
    if (!createRequestEvent(common::EventAdjustProfileAndScreenOrientation, events.adjustProfileAndScreenOrientation))
        result = AdjustEventFailed;
    if (!createRequestEvent(common::EventToggleWireless, events.toggleWireless))
        result = WirelessEventFailed;
    if (!createRequestEvent(common::EventToggleBrightness, events.toggleBrightness))
        result = BrightnessEventFailed;
    return result;
}

void CloseRequestEvents()
{
    auto& events = requestEvents();
    events.shutdown.close();
    events.shutdownThread.close();
    events.adjustScreenOrientation.close();
    events.adjustProfile.close();
    events.adjustProfileAndScreenOrientation.close();
    events.toggleWireless.close();
    events.toggleBrightness.close();
}

void RunDispatcher()
{
    auto& events = requestEvents();
    const std::array<const sync::Handle*, 6> waits { &events.shutdown, &events.adjustScreenOrientation,
        &events.adjustProfile, &events.adjustProfileAndScreenOrientation, &events.toggleWireless,
        &events.toggleBrightness };
    while (KeepRunning != 0) {
        auto woken = sync::waitAny(waits, sync::Infinite);
        // NOTE: a wait that fails cannot succeed later (the object manager is
        // gone); ending here keeps the service from spinning on it.
        if (!woken) {
            KeepRunning = 0;
            break;
        }
        if (!woken->signalled())
            continue;
        switch (woken->index) {
        case 0:
            KeepRunning = 0;
            break;
        case 1:
            (void)AdjustModes(AdjustOrientation, 0);
            break;
        case 2:
        case 3:
            if (!restartMonitor())
                KeepRunning = 0;
            break;
        case 4:
            ToggleWireless();
            break;
        case 5:
            ApplyBrightness();
            break;
        default:
            break;
        }
    }
}

void ToggleWireless()
{
    uint32_t state = 0;
    if (!readDword(common::ValueWireless, state))
        state = 0;
    const uint32_t request = (state & 2) ? WirelessOff : WirelessOn;
    if (SetFirmwareValue(FirmwareWireless, request) == 0)
        StoreWirelessState();
}

void StoreWirelessState()
{
    uint32_t state = 0;
    if (GetFirmwareValue(FirmwareWireless, state) == 0)
        writeDword(common::ValueWireless, state);
}

void ApplyBrightness()
{
    uint32_t value = 0;
    if (!readDword(common::ValueBrightness, value))
        return;
    (void)SetFirmwareValue(FirmwareBrightness, value);
}

} // namespace modechange
