#include "tests/testkit/machine_fixture.h"
#include "tests/testkit/window_peer.h"

#include "platform/windows.h"
#include "tools/standins/install.h"

using namespace platform::windows;
using namespace std::chrono_literals;

namespace {

testkit::Completed machineTool(const std::vector<std::string>& args)
{
    return testkit::run(testkit::systemProgram("tavio-machine"), args);
}

class WindowToolTest : public testkit::MachineTest { };

TEST_F(WindowToolTest, ListShowsEveryWindowWithItsOwnerAndPlace)
{
    testkit::WindowPeers peers;
    auto shown = peers.start("TavioPeerClass", "Shown Window", { "shown" });
    auto hidden = peers.start("Calvex Mode Change ", "Calvex Mode Change");
    auto shownWindow = findWindow(std::nullopt, u"Shown Window");
    auto hiddenWindow = findWindow(std::nullopt, u"Calvex Mode Change");
    ASSERT_TRUE(shownWindow && hiddenWindow);

    auto listed = machineTool({ "window", "list" });
    ASSERT_EQ(listed.exitCode, 0) << listed.output;
    EXPECT_EQ(listed.output,
        testkit::hexText(shownWindow->value()).replace(0, 2, "0x000")
            + " title=\"Shown Window\" class=\"TavioPeerClass\" pid=" + std::to_string(shown.pid())
            + " thread=" + std::to_string(shown.pid()) + " visible rect=10,20,300x200 session=off controls=0\n"
            + testkit::hexText(hiddenWindow->value()).replace(0, 2, "0x000")
            + " title=\"Calvex Mode Change\" class=\"Calvex Mode Change \" pid=" + std::to_string(hidden.pid())
            + " thread=" + std::to_string(hidden.pid()) + " hidden rect=0,0,0x0 session=off controls=0\n");
}

TEST_F(WindowToolTest, PostFindsTheWindowByTitleAndTakesMessageNames)
{
    testkit::WindowPeers peers;
    auto peer = peers.start("TavioPeerClass", "Target Window");
    auto window = findWindow(std::nullopt, u"Target Window");
    ASSERT_TRUE(window);

    struct Case {
        std::vector<std::string> arguments;
        uint32_t message;
        uint64_t wParam;
        uint64_t lParam;
    };
    const Case cases[] = {
        { { "WM_USER+7", "0x10", "-1" }, WM_USER + 7, 0x10, 0xFFFFFFFFFFFFFFFFull },
        { { "wm_command", "1001", "0" }, WM_COMMAND, 1001, 0 },
        { { "0x8001", "0", "0x7fffffff" }, 0x8001, 0, 0x7FFFFFFF },
        { { "1025", "2", "3" }, WM_USER + 1, 2, 3 },
    };
    for (const auto& row : cases) {
        std::vector<std::string> arguments { "window", "post", "target window" };
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        auto posted = machineTool(arguments);
        EXPECT_EQ(posted.exitCode, 0) << row.arguments[0] << ": " << posted.output;
        auto received = peers.waitFor(*window, row.message);
        ASSERT_TRUE(received) << row.arguments[0] << " did not arrive";
        EXPECT_EQ(received->wParam, row.wParam) << row.arguments[0];
        EXPECT_EQ(received->lParam, row.lParam) << row.arguments[0];
    }

    auto closed = machineTool({ "window", "post", "Target Window", "WM_CLOSE", "0", "0" });
    EXPECT_EQ(closed.exitCode, 0) << closed.output;
    EXPECT_NE(closed.output.find("Posted WM_CLOSE (0x0010)"), std::string::npos) << closed.output;
    EXPECT_EQ(peer.wait(10s), 0) << "WM_CLOSE did not end the program";
    EXPECT_FALSE(isWindow(*window));
}

TEST_F(WindowToolTest, RefusesWhatCannotBePostedAndLosesNothing)
{
    testkit::WindowPeers peers;
    auto peer = peers.start("TavioPeerClass", "Target Window");
    auto window = findWindow(std::nullopt, u"Target Window");
    ASSERT_TRUE(window);

    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::string says;
    };
    const Case cases[] = {
        { { "window", "post", "No Such Window", "WM_CLOSE", "0", "0" }, 1, "no window titled \"No Such Window\"" },
        { { "window", "post", "Target Window", "WM_BOGUS", "0", "0" }, 2, "'WM_BOGUS' is no message" },
        { { "window", "post", "Target Window", "0x10000", "0", "0" }, 2, "'0x10000' is no message" },
        { { "window", "post", "Target Window", "WM_USER+x", "0", "0" }, 2, "'WM_USER+x' is no message" },
        { { "window", "post", "Target Window", "WM_CLOSE", "zero", "0" }, 2, "'zero' is no number" },
        { { "window", "post", "Target Window", "WM_CLOSE", "0" }, 2, "expected TITLE MESSAGE WPARAM LPARAM" },
        { { "window" }, 2, "expected 'list' or 'post" },
        { { "window", "list", "extra" }, 2, "takes no arguments" },
        { { "session" }, 2, "expected one of lock, unlock" },
        { { "session", "hibernate" }, 2, "expected one of lock, unlock" },
    };
    for (const auto& row : cases) {
        auto done = machineTool(row.arguments);
        EXPECT_EQ(done.exitCode, row.exitCode) << done.output;
        EXPECT_NE(done.output.find(row.says), std::string::npos) << done.output;
    }
    // Nothing reached the window but its creation.
    EXPECT_EQ(testkit::WindowPeers::received(*window).size(), 1u);
    EXPECT_TRUE(isWindow(*window));
}

TEST_F(WindowToolTest, SessionReportsWhatItDelivered)
{
    auto installed = standins::installPlatformPrograms(TAVIO_BIN_DIR);
    ASSERT_TRUE(installed && installed->missing.empty()) << "Wtsapi32.dll is not installed";
    testkit::WindowPeers peers;
    auto peer = peers.start("Calvex Mode Change ", "Calvex Mode Change", { "session" });
    auto window = findWindow(std::nullopt, u"Calvex Mode Change");
    ASSERT_TRUE(window);

    auto locked = machineTool({ "session", "lock" });
    ASSERT_EQ(locked.exitCode, 0) << locked.output;
    EXPECT_EQ(locked.output,
        "Session lock (WTS_SESSION_LOCK): 1 message posted\n  WM_WTSSESSION_CHANGE wParam=7 to "
            + testkit::hexText(window->value()).replace(0, 2, "0x000") + " \"Calvex Mode Change\" (pid "
            + std::to_string(peer.pid()) + ")\n");
    auto received = peers.waitFor(*window, WM_WTSSESSION_CHANGE);
    ASSERT_TRUE(received);
    EXPECT_EQ(received->wParam, 7u);
}

} // namespace
