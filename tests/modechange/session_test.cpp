// The service's hidden window and what session changes do to its dock
// monitor, with the real program and the machine's session notifications.

#include "tests/modechange/service_fixture.h"

#include "platform/sessions.h"
#include "platform/windows.h"

using namespace modechangetest;
namespace windows = platform::windows;
using platform::sessions::SessionEvent;

namespace {

std::optional<windows::WindowInfo> serviceWindow()
{
    auto window = windows::findWindow(common::ModeChangeWindowClass, common::ModeChangeWindowTitle);
    if (!window)
        return std::nullopt;
    auto info = windows::windowInfo(window.value());
    return info ? std::optional<windows::WindowInfo>(info.value()) : std::nullopt;
}

class ServiceSessionTest : public ServiceMachineTest {
protected:
    void SetUp() override
    {
        ServiceMachineTest::SetUp();
        if (HasFatalFailure())
            return;
        startService();
        ASSERT_TRUE(waitUntil([] {
            auto info = serviceWindow();
            return info && info->sessionNotification == windows::SessionNotification::ThisSession;
        })) << "the window is not registered for session notifications";
    }

    static void change(SessionEvent event)
    {
        auto delivered = platform::sessions::changeSession(event);
        ASSERT_TRUE(delivered);
        ASSERT_FALSE(delivered->empty()) << "nobody was notified";
    }

    static bool monitorRuns(size_t subscriptions)
    {
        // NOTE: the journal may record a subscription just after it is live.
        return waitUntil([&] {
            return liveDockSubscriptions() == (subscriptions > 0 ? 1u : 0u)
                && journalCount("wmi.subscribe") == subscriptions;
        });
    }
};

TEST_F(ServiceSessionTest, TheWindowIsHiddenAndNamedForOthersToFind)
{
    auto info = serviceWindow();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->visibility, windows::Visibility::Hidden);
    EXPECT_EQ(info->pid, service().id());
    EXPECT_EQ(shutDownService(), 0u);
    EXPECT_FALSE(serviceWindow()) << "the window ends with the service";
}

TEST_F(ServiceSessionTest, LockStopsTheMonitorAndUnlockStartsItWithAnAdjustment)
{
    ASSERT_TRUE(platform::firmware::dock(0x02));
    change(SessionEvent::Lock);
    ASSERT_TRUE(waitUntil([] { return liveDockSubscriptions() == 0; }));
    EXPECT_TRUE(waitUntil([] { return journalCount("wmi.cancel") == 1; }));

    // While locked the display drifts from the docking state; the unlock
    // brings it back.
    ASSERT_TRUE(platform::display::setMode(platform::display::InternalDevice, { 0, 768, 1024, 32, 1, 60, 0 }));
    change(SessionEvent::Unlock);
    EXPECT_TRUE(monitorRuns(2));
    EXPECT_TRUE(waitUntil([] { return orientationOf(platform::display::InternalDevice) == 0; }));
    EXPECT_EQ(shutDownService(), 0u);
}

TEST_F(ServiceSessionTest, ConsoleDisconnectConnectAndUnlockStartTheMonitorOnce)
{
    change(SessionEvent::ConsoleDisconnect);
    ASSERT_TRUE(waitUntil([] { return liveDockSubscriptions() == 0; }));
    change(SessionEvent::ConsoleConnect);
    ASSERT_TRUE(monitorRuns(2));
    change(SessionEvent::Unlock);
    // The unlock only consumed the disconnect: the next lock and unlock
    // stop and start the monitor as usual.
    change(SessionEvent::Lock);
    ASSERT_TRUE(waitUntil([] { return liveDockSubscriptions() == 0; }));
    change(SessionEvent::Unlock);
    EXPECT_TRUE(monitorRuns(3));
    EXPECT_EQ(shutDownService(), 0u);
}

TEST_F(ServiceSessionTest, EventsThatLeaveTheMonitorAlone)
{
    for (auto event : { SessionEvent::RemoteDisconnect, SessionEvent::Logon, SessionEvent::Unlock,
             SessionEvent::ConsoleConnect, SessionEvent::RemoteConnect }) {
        change(event);
    }
    // A lock afterwards shows that all were handled and none started a
    // second monitor beside the first.
    change(SessionEvent::Lock);
    ASSERT_TRUE(waitUntil([] { return liveDockSubscriptions() == 0; }));
    EXPECT_EQ(journalCount("wmi.subscribe"), 1u);
    EXPECT_EQ(shutDownService(), 0u);
}

TEST_F(ServiceSessionTest, LogoffStopsTheMonitorAndEndsTheWindowThread)
{
    change(SessionEvent::Logoff);
    EXPECT_TRUE(waitUntil([] { return !serviceWindow(); })) << "the window outlived the session";
    EXPECT_TRUE(waitUntil([] { return liveDockSubscriptions() == 0; }));
    // The dispatcher itself waits on until it is told to end.
    EXPECT_EQ(waitersOn(common::EventModeChangeShutdown), 1u);
    EXPECT_EQ(shutDownService(), 0u);
}

TEST_F(ServiceSessionTest, ASecondInstanceMakesNoWindowOfItsOwn)
{
    auto second = startProgram(u"-Start");
    ASSERT_TRUE(waitUntil([] { return waitersOn(common::EventModeChangeShutdown) == 2; }));
    auto all = windows::listWindows();
    ASSERT_TRUE(all);
    EXPECT_EQ(std::count_if(all->begin(), all->end(),
                  [](const auto& window) { return window.title == common::ModeChangeWindowTitle; }),
        1);
    second.terminate(9);
    EXPECT_TRUE(second.wait(10s));
}

} // namespace
