// The resident service as a real process: the requests other programs pulse,
// dock events from the firmware, a stopped WMI service, and shutdown.

#include "tests/modechange/service_fixture.h"

#include "common/settings.h"

#include "platform/dialogs.h"
#include "platform/text.h"

using namespace modechangetest;
namespace firmware = platform::firmware;

namespace {

void arrangeDisplay(uint32_t enabledProfiles, uint32_t currentProfile, uint32_t orientation)
{
    ASSERT_TRUE(keltovdisp::setEnabledProfiles(enabledProfiles));
    ASSERT_TRUE(keltovdisp::setCurrentProfile(currentProfile));
    const bool portrait = orientation % 2 == 1;
    ASSERT_TRUE(platform::display::setMode(platform::display::InternalDevice,
        { 0, portrait ? 768u : 1024u, portrait ? 1024u : 768u, 32, orientation, 60, 0 }));
    keltovdisp::resetCalls();
}

size_t turnsTo(uint32_t orientation)
{
    size_t count = 0;
    for (const auto& entry : platform::journal::read("display.change"))
        count += entry.field("orientation") == std::to_string(orientation) ? 1 : 0;
    return count;
}

class ResidentServiceTest : public ServiceMachineTest {
protected:
    // Pulses a request event the way the support library does, once the
    // dispatcher waits on it, and waits until the dispatcher waits again.
    static void request(std::u16string_view eventName)
    {
        ASSERT_TRUE(dispatcherWaiting());
        ASSERT_EQ(waitersOn(eventName), 1u) << "the dispatcher does not wait on the event";
        ASSERT_NE(common::PulseNamedEvent(eventName), 0u);
        // NOTE: a restart waits on "ModeChangeShutdown" too, but on the
        // request events only once the dispatcher waits for the next request.
        ASSERT_TRUE(waitUntil([&] { return waitersOn(eventName) == 1; })) << "the request was not served";
    }
};

TEST_F(ResidentServiceTest, WirelessToggleFollowsTheStoredStateAndStoresTheStateReadBack)
{
    struct Case {
        const char* name;
        std::optional<uint32_t> stored;
        firmware::Radio radio;
        const char* written;
        uint32_t storedAfter;
    };
    const Case cases[] = {
        { "stored_on_switches_off", 3, firmware::Radio::On, "2", 1 },
        { "stored_off_switches_on", 1, firmware::Radio::Off, "1", 3 },
        { "missing_switches_on", std::nullopt, firmware::Radio::Off, "1", 3 },
        // The stored state decides, not the radio's own.
        { "stored_on_over_a_radio_off", 3, firmware::Radio::Off, "2", 1 },
    };
    startService();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(firmware::setRadio(c.radio));
        if (c.stored) {
            setUserValue(common::ValueWireless, *c.stored);
        } else {
            auto key = platform::registry::openKey(
                platform::registry::Root::CurrentUser, common::SettingsKey, platform::registry::Access::Write);
            ASSERT_TRUE(key);
            (void)platform::registry::deleteValue(key.value(), common::ValueWireless);
        }
        const size_t before = firmwareWrites("1").size();
        request(common::EventToggleWireless);
        auto writes = firmwareWrites("1");
        ASSERT_EQ(writes.size(), before + 1);
        EXPECT_EQ(writes.back(), c.written);
        EXPECT_EQ(userValue(common::ValueWireless), c.storedAfter);
    }
    EXPECT_EQ(shutDownService(), 0u);
}

TEST_F(ResidentServiceTest, BrightnessPassesTheStoredValueOrNothing)
{
    startService();
    request(common::EventToggleBrightness);
    EXPECT_TRUE(firmwareWrites("2").empty()) << "no value, no request";

    setUserValue(common::ValueBrightness, 1);
    request(common::EventToggleBrightness);
    setUserValue(common::ValueBrightness, 0);
    request(common::EventToggleBrightness);
    EXPECT_EQ(firmwareWrites("2"), (std::vector<std::string> { "1", "0" }));
    EXPECT_EQ(shutDownService(), 0u);
}

TEST_F(ResidentServiceTest, OrientationRequestNeverLoadsAProfile)
{
    ASSERT_TRUE(firmware::dock(0x02));
    startService();
    arrangeDisplay(0x0F, 3, 1);
    request(common::EventAdjustScreenOrientation);
    EXPECT_EQ(orientationOf(platform::display::InternalDevice), 0u);
    EXPECT_EQ(loadCalls(), 0u);
    EXPECT_EQ(keltovdisp::currentProfile(), 3u);
    EXPECT_EQ(shutDownService(), 0u);
}

TEST_F(ResidentServiceTest, ProfileRequestsRestartTheMonitorWhichAdjusts)
{
    ASSERT_TRUE(firmware::dock(0x02));
    startService();
    for (auto eventName : { common::EventAdjustProfile, common::EventAdjustProfileAndScreenOrientation }) {
        SCOPED_TRACE(platform::text::toUtf8(eventName));
        arrangeDisplay(0x0F, 3, 1);
        const size_t subscribed = journalCount("wmi.subscribe");
        const size_t cancelled = journalCount("wmi.cancel");
        request(eventName);
        // The dispatcher waits again only once the new monitor runs.
        // NOTE: the journal may record a subscription just after it is live.
        EXPECT_TRUE(waitUntil([&] { return journalCount("wmi.cancel") == cancelled + 1; }));
        EXPECT_TRUE(waitUntil([&] { return journalCount("wmi.subscribe") == subscribed + 1; }));
        EXPECT_EQ(liveDockSubscriptions(), 1u);
        EXPECT_EQ(keltovdisp::calls("keltoVenLoadProfile").lastArgument, "1");
        EXPECT_EQ(keltovdisp::currentProfile(), 1u);
        EXPECT_EQ(orientationOf(platform::display::InternalDevice), 0u);
    }
    EXPECT_EQ(shutDownService(), 0u);
}

struct DockCase {
    const char* name;
    uint32_t state;
    uint32_t enabled, current, startOrientation;
    const char* loaded; // argument of the one load call, empty for none
    uint32_t endOrientation;
};

const DockCase DockCases[] = {
    { "docked_portrait_profile_enabled", 0x04, 0x0F, 1, 0, "2", 1 },
    { "docked_both_bits_the_lower_decides", 0x0C, 0x0F, 1, 0, "2", 1 },
    { "pen_portrait_profile_enabled", 0x01, 0x11, 3, 0, "1", 1 },
    { "docked_landscape_profile_current", 0x08, 0x0F, 2, 1, "", 0 },
};

TEST_F(ResidentServiceTest, DockEventsChangeProfileAndOrientation)
{
    startService();
    for (const auto& c : DockCases) {
        SCOPED_TRACE(c.name);
        arrangeDisplay(c.enabled, c.current, c.startOrientation);
        ASSERT_TRUE(firmware::dock(c.state));
        ASSERT_TRUE(waitUntil([&] { return orientationOf(platform::display::InternalDevice) == c.endOrientation; }));
        EXPECT_EQ(userValue(common::ValueMode), c.state);
        // The load comes before the turn, so it has happened by now.
        EXPECT_EQ(loadCalls(), std::string(c.loaded).empty() ? 0u : 1u);
        EXPECT_EQ(keltovdisp::calls("keltoVenLoadProfile").lastArgument, c.loaded);
    }
    EXPECT_EQ(shutDownService(), 0u);
}

TEST_F(ResidentServiceTest, DockStatesThatChangeNothing)
{
    startService();
    for (uint32_t state : { 0x01u, 0x40u }) {
        SCOPED_TRACE(state);
        // Profile 1 is not enabled, so state 0x01 does nothing either.
        arrangeDisplay(0x22, 3, 0);
        const size_t portraitTurns = turnsTo(1);
        // Docked the way an administrator does it, with the machine tool.
        auto docked
            = testkit::run(testkit::systemProgram("tavio-machine"), { "firmware", "dock", std::to_string(state) });
        ASSERT_EQ(docked.exitCode, 0) << docked.output;
        // Deliveries of one subscription never overlap: once the next
        // event's adjustment shows, this one has ended.
        ASSERT_TRUE(firmware::dock(0x08));
        ASSERT_TRUE(waitUntil([] { return keltovdisp::currentProfile() == 2; }));
        ASSERT_TRUE(waitUntil([] { return userValue(common::ValueMode) == 0x08u; }));
        EXPECT_EQ(loadCalls(), 1u) << "only the docked profile was loaded";
        EXPECT_EQ(turnsTo(1), portraitTurns) << "nothing was turned to portrait";
    }
    EXPECT_EQ(shutDownService(), 0u);
}

class WmiStoppedTest : public ResidentServiceTest {
protected:
    static size_t errorBoxes()
    {
        size_t count = 0;
        for (const auto& entry : platform::journal::read("messagebox.show")) {
            EXPECT_EQ(entry.field("caption"), "Mode Change Service Error");
            EXPECT_EQ(entry.field("text"),
                "Unable to connect to Windows Management Instrumentation service: No such interface is supported."
                "                        \n"
                "Press Retry to a connect, Cancel to terminate Mode Change Service.");
            EXPECT_EQ(entry.field("buttons"), "MB_RETRYCANCEL");
            ++count;
        }
        return count;
    }
};

TEST_F(WmiStoppedTest, RetryConnectsOnceWmiRunsAgain)
{
    ASSERT_TRUE(platform::wmi::setServiceState(platform::wmi::ServiceState::Stopped));
    auto queued = testkit::run(testkit::systemProgram("tavio-machine"), { "messages", "answer", "IDRETRY" });
    ASSERT_EQ(queued.exitCode, 0) << queued.output;
    auto program = startProgram(u"-Start");
    ASSERT_TRUE(waitUntil([] { return journalCount("messagebox.show") >= 1; })) << "no box";
    ASSERT_TRUE(platform::wmi::setServiceState(platform::wmi::ServiceState::Running));
    ASSERT_TRUE(waitUntil([] { return liveDockSubscriptions() == 1; })) << "Retry did not connect";
    EXPECT_GE(errorBoxes(), 1u);
    EXPECT_EQ(journalCount("messagebox.show"), errorBoxes());
    auto shutdown = platform::sync::openEvent(common::EventModeChangeShutdown);
    ASSERT_TRUE(shutdown);
    ASSERT_TRUE(platform::sync::setEvent(shutdown.value()));
    EXPECT_EQ(program.wait(20s).valueOr(99u), 0u);
}

TEST_F(WmiStoppedTest, CancelEndsTheService)
{
    ASSERT_TRUE(platform::wmi::setServiceState(platform::wmi::ServiceState::Stopped));
    ASSERT_TRUE(platform::dialogs::queueAnswer(platform::dialogs::Answer::Cancel));
    EXPECT_EQ(runProgram(u"-Start"), 0u);
    EXPECT_EQ(errorBoxes(), 1u);
    EXPECT_EQ(journalCount("wmi.subscribe"), 0u);
}

TEST_F(WmiStoppedTest, CancelDuringARestartEndsTheService)
{
    startService();
    ASSERT_TRUE(platform::wmi::setServiceState(platform::wmi::ServiceState::Stopped));
    ASSERT_TRUE(platform::dialogs::queueAnswer(platform::dialogs::Answer::Cancel));
    ASSERT_TRUE(dispatcherWaiting());
    ASSERT_NE(common::PulseNamedEvent(common::EventAdjustProfile), 0u);
    auto code = service().wait(20s);
    ASSERT_TRUE(code) << "the restart still waits for a monitor that ended";
    EXPECT_EQ(code.value(), 0u);
    EXPECT_EQ(errorBoxes(), 1u);
}

TEST_F(WmiStoppedTest, ShutdownEndsTheServiceWhileARestartWaits)
{
    startService();
    ASSERT_TRUE(platform::wmi::setServiceState(platform::wmi::ServiceState::Stopped));
    ASSERT_TRUE(dispatcherWaiting());
    ASSERT_NE(common::PulseNamedEvent(common::EventAdjustProfile), 0u);
    // With no answer queued every box answers Retry: the new monitor keeps
    // asking and never runs.
    ASSERT_TRUE(waitUntil([] { return journalCount("messagebox.show") >= 2; }));
    EXPECT_EQ(shutDownService(), 0u);
}

} // namespace
