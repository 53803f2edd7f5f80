// The device, capture and power exports of the support library over the
// machine's keys, clipboard, registry, events and power state.

#include "common/names.h"
#include "support/devices.h"
#include "tests/display/display_fixture.h"

#include "platform/input.h"
#include "platform/journal.h"
#include "platform/power.h"
#include "platform/registry.h"

using namespace platform;
using namespace displaytest;

namespace {

class DeviceExportsTest : public testkit::MachineTest {
protected:
    static void setWireless(const std::optional<uint32_t>& value)
    {
        auto key = registry::createKey(registry::Root::CurrentUser, common::SettingsKey);
        ASSERT_TRUE(key.ok());
        if (value)
            ASSERT_TRUE(registry::setDword(key->key, common::ValueWireless, *value));
        else
            (void)registry::deleteValue(key->key, common::ValueWireless);
    }

    static std::optional<uint32_t> brightness()
    {
        auto key = registry::openKey(registry::Root::CurrentUser, common::SettingsKey, registry::Access::Read);
        if (!key)
            return std::nullopt;
        auto value = registry::getDword(*key, common::ValueBrightness);
        return value ? std::optional(*value) : std::nullopt;
    }
};

TEST_F(DeviceExportsTest, MuteToggleTwiceRestoresTheSound)
{
    EXPECT_EQ(support::MuteToggle(), 1);
    EXPECT_TRUE(input::audioMuted());
    EXPECT_EQ(support::MuteToggle(), 1);
    EXPECT_FALSE(input::audioMuted());
    // Each press is a key-down and a key-up of the volume-mute key.
    auto keys = journal::read("input.key");
    ASSERT_EQ(keys.size(), 4u);
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(keys[i].field("vk"), "0xAD");
        EXPECT_EQ(keys[i].field("scan"), "0");
        EXPECT_EQ(keys[i].field("flags"), i % 2 ? "2" : "0");
    }
}

TEST_F(DeviceExportsTest, CapturesWaitASecondThenPressPrintScreen)
{
    struct Case {
        const char* name;
        void (*capture)();
        const char* scan;
        input::Capture source;
    };
    const Case cases[] = {
        { "screen", support::CaptureScreen, "0", input::Capture::Screen },
        { "window", support::CaptureWindow, "1", input::Capture::ActiveWindow },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        const size_t keysBefore = journal::read("input.key").size();
        const auto started = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::system_clock::now().time_since_epoch());
        row.capture();
        auto keys = journal::read("input.key");
        ASSERT_EQ(keys.size(), keysBefore + 2);
        const auto& down = keys[keysBefore];
        EXPECT_EQ(down.field("vk"), "0x2C");
        EXPECT_EQ(down.field("scan"), row.scan);
        EXPECT_EQ(keys[keysBefore + 1].field("direction"), "up");
        // The key goes down no sooner than a second after the call.
        EXPECT_GE(down.timeMicroseconds - static_cast<uint64_t>(started.count()), 1'000'000u);
        auto picture = input::clipboardPicture();
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->source, row.source);
    }
}

TEST_F(DeviceExportsTest, WirelessStateIsTheLowByteOfTheStoredValue)
{
    struct Case {
        std::optional<uint32_t> value;
        uint8_t status;
        int32_t available;
    };
    const Case cases[] = {
        { std::nullopt, 0, 0 },
        { 0x103, 3, 1 },
        { 0x100, 0, 0 },
        { 0x1, 1, 1 },
        { 0x0, 0, 0 },
        { 0xFFFFFF02, 2, 1 },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.value ? std::to_string(*row.value) : "absent");
        setWireless(row.value);
        EXPECT_EQ(support::GetWirelessStatus(), row.status);
        EXPECT_EQ(support::IsWirelessAvailable(), row.available);
    }
}

TEST_F(DeviceExportsTest, WirelessToggleAsksTheServiceAndWaitsForNothing)
{
    // No service: nothing to signal, nothing changes.
    setWireless(1);
    support::WirelessToggle();
    EXPECT_EQ(support::GetWirelessStatus(), 1);

    EventWaiter service(common::EventToggleWireless);
    support::WirelessToggle();
    EXPECT_TRUE(service.released());
    EXPECT_EQ(support::GetWirelessStatus(), 1);
}

TEST_F(DeviceExportsTest, BrightnessOnThenOffLeavesZeroAndPulsesTwice)
{
    EXPECT_FALSE(brightness());
    {
        EventWaiter service(common::EventToggleBrightness);
        EXPECT_EQ(support::TurnOnBrightness(), 1);
        EXPECT_TRUE(service.released());
        EXPECT_EQ(brightness(), 1u);
    }
    {
        EventWaiter service(common::EventToggleBrightness);
        EXPECT_EQ(support::TurnOffBrightness(), 1);
        EXPECT_TRUE(service.released());
        EXPECT_EQ(brightness(), 0u);
    }
    // Without the service the value is still written.
    EXPECT_EQ(support::TurnOnBrightness(), 1);
    EXPECT_EQ(brightness(), 1u);
}

TEST_F(DeviceExportsTest, PowerRequestsAreMadeOnlyWithTheShutdownPrivilege)
{
    struct Case {
        power::Policy policy;
        std::vector<std::string> requests;
    };
    const Case cases[] = {
        { power::Policy::Denied, {} },
        { power::Policy::Granted, { "standby", "hibernate", "shutdown" } },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.policy == power::Policy::Granted ? "granted" : "denied");
        ASSERT_TRUE(power::setShutdownPolicy(row.policy));
        const size_t before = journal::read("power.request").size();
        support::DoSuspend();
        support::DoHibernate();
        support::DoShutDown();
        auto entries = journal::read("power.request");
        std::vector<std::string> made;
        for (size_t i = before; i < entries.size(); ++i)
            made.push_back(entries[i].field("request"));
        EXPECT_EQ(made, row.requests);
    }
    // Shut down only: no force, no power-off, reason 0.
    auto shutdown = journal::read("power.request").back();
    EXPECT_EQ(shutdown.field("flags"), "1");
    EXPECT_EQ(shutdown.field("reason"), "0");
}

} // namespace
