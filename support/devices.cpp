#include "support/devices.h"

#include "common/names.h"
#include "common/settings.h"
#include "support/log.h"

#include "platform/input.h"
#include "platform/power.h"
#include "platform/sync.h"

#include <chrono>

namespace support {

namespace {

// A key-down followed by its key-up.
void pressKey(uint8_t virtualKey, uint8_t scanCode)
{
    platform::input::keyboardEvent(virtualKey, scanCode, 0, 0);
    platform::input::keyboardEvent(virtualKey, scanCode, platform::input::KEYEVENTF_KEYUP, 0);
}

// The per-user "Wireless" value; 0 when it cannot be read.
uint32_t readWireless()
{
    uint32_t value = 0;
    uint32_t size = sizeof value;
    common::ValueType type {};
    if (common::ReadRegistryValue(
            common::RootKey::CurrentUser, common::SettingsKey, common::ValueWireless, &type, &value, &size)
        != 0)
        return 0;
    return value;
}

int32_t requestBrightness(uint32_t value)
{
    if (common::WriteRegistryValue(common::RootKey::CurrentUser, common::SettingsKey, common::ValueBrightness,
            common::ValueType::Dword, &value, sizeof value)
        != 0)
        return 0;
    // Pulsed whether or not the service is there to receive it.
    (void)common::PulseNamedEvent(common::EventToggleBrightness);
    return 1;
}

enum class PowerRequest { Suspend, Hibernate, ShutDown };

// Enables the shutdown privilege and makes the request only when the user
// really holds it; the request's own outcome is not looked at.
void requestPower(PowerRequest request)
{
    using namespace platform::power;
    if (!enablePrivilege(SE_SHUTDOWN_NAME))
        return;
    switch (request) {
    case PowerRequest::Suspend:
        (void)setSystemPowerState(Suspend::Standby, Force::No);
        break;
    case PowerRequest::Hibernate:
        (void)setSystemPowerState(Suspend::Hibernate, Force::No);
        break;
    case PowerRequest::ShutDown:
        (void)exitWindows(EWX_SHUTDOWN, 0);
        break;
    }
}

} // namespace

int32_t MuteToggle()
{
    logTrace(u"Enter MuteToggle\n");
    pressKey(platform::input::VK_VOLUME_MUTE, 0);
    logTrace(u"Exit MuteToggle\n");
    return 1;
}

void CaptureScreen()
{
    logTrace(u"Enter CaptureScreen\n");
    // The caller minimized its window first; give it time to leave the screen.
    platform::sync::sleep(std::chrono::milliseconds(CaptureDelayMilliseconds));
    pressKey(platform::input::VK_SNAPSHOT, 0);
    logTrace(u"Exit CaptureScreen\n");
}

void CaptureWindow()
{
    platform::sync::sleep(std::chrono::milliseconds(CaptureDelayMilliseconds));
    // Scan code 1: the platform copies only the active window.
    pressKey(platform::input::VK_SNAPSHOT, 1);
}

int32_t IsWirelessAvailable()
{
    logTrace(u"Enter IsWirelessAvailable\n");
    const bool available = (readWireless() & 0xFF) != 0;
    logTrace(u"Exit IsWirelessAvailable\n");
    return available ? 1 : 0;
}

uint8_t GetWirelessStatus()
{
    logTrace(u"Enter GetWirelessStatus\n");
    const uint8_t status = static_cast<uint8_t>(readWireless() & 0xFF);
    logTrace(u"Exit GetWirelessStatus\n");
    return status;
}

void WirelessToggle()
{
    logTrace(u"Enter WirelessToggle\n");
    (void)common::PulseNamedEvent(common::EventToggleWireless);
    logTrace(u"Exit WirelessToggle\n");
}

int32_t TurnOnBrightness()
{
    logTrace(u"Enter TurnOnBrightness\n");
    const int32_t result = requestBrightness(1);
    logTrace(u"Exit TurnOnBrightness\n");
    return result;
}

int32_t TurnOffBrightness()
{
    logTrace(u"Enter TurnOffBrightness\n");
    const int32_t result = requestBrightness(0);
    logTrace(u"Exit TurnOffBrightness\n");
    return result;
}

void DoSuspend()
{
    logTrace(u"Enter DoSuspend\n");
    requestPower(PowerRequest::Suspend);
    logTrace(u"Exit DoSuspend\n");
}

void DoHibernate()
{
    logTrace(u"Enter DoHibernate\n");
    requestPower(PowerRequest::Hibernate);
    logTrace(u"Exit DoHibernate\n");
}

void DoShutDown()
{
    logTrace(u"Enter DoShutDown\n");
    requestPower(PowerRequest::ShutDown);
    logTrace(u"Exit DoShutDown\n");
}

} // namespace support
