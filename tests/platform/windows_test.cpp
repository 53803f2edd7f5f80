#include "platform/windows.h"

#include "platform/modules.h"
#include "platform/sessions.h"
#include "platform/text.h"
#include "tools/standins/install.h"

#include "tests/testkit/machine_fixture.h"
#include "tests/testkit/window_peer.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

using namespace platform;
using namespace platform::windows;
using namespace std::chrono_literals;

namespace {

class WindowsTest : public testkit::MachineTest {
protected:
    void TearDown() override
    {
        (void)unregisterClass(u"TavioLocalClass");
        MachineTest::TearDown();
    }

    // A class of this process whose procedure records what it gets and
    // answers wParam + lParam.
    WindowHandle makeLocalWindow(std::u16string_view title = u"Local Window")
    {
        if (!isClassRegistered(u"TavioLocalClass")) {
            auto registered = registerClass(u"TavioLocalClass",
                [this](WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) -> intptr_t {
                    {
                        std::lock_guard lock(m_mutex);
                        m_received.push_back({ window, message, wParam, lParam });
                        m_threads.push_back(std::this_thread::get_id());
                    }
                    if (message == WM_DESTROY)
                        postQuitMessage(0);
                    if (message == WM_USER)
                        return static_cast<intptr_t>(wParam) + lParam;
                    return defaultWindowProcedure(window, message, wParam, lParam);
                });
            EXPECT_TRUE(registered) << describe(registered.error());
        }
        auto window = createWindow(u"TavioLocalClass", title);
        EXPECT_TRUE(window) << describe(window.error());
        return window.valueOr(WindowHandle());
    }

    std::vector<uint32_t> receivedMessages()
    {
        std::lock_guard lock(m_mutex);
        std::vector<uint32_t> numbers;
        for (const auto& message : m_received)
            numbers.push_back(message.message);
        return numbers;
    }

    std::mutex m_mutex;
    std::vector<Message> m_received;
    std::vector<std::thread::id> m_threads;
};

TEST_F(WindowsTest, ClassesBelongToTheProcessAndCompareWithoutCase)
{
    auto procedure = [](WindowHandle, uint32_t, uintptr_t, intptr_t) -> intptr_t { return 0; };
    ASSERT_TRUE(registerClass(u"TavioLocalClass", procedure));
    EXPECT_EQ(registerClass(u"tAVIOlOCALcLASS", procedure).error(), Error::ClassAlreadyExists);
    EXPECT_EQ(registerClass(u"", procedure).error(), Error::InvalidParameter);
    EXPECT_EQ(registerClass(u"NoProcedure", nullptr).error(), Error::InvalidParameter);
    EXPECT_EQ(createWindow(u"NoSuchClass", u"Title").error(), Error::CannotFindWndClass);

    ASSERT_TRUE(unregisterClass(u"TAVIOLOCALCLASS"));
    EXPECT_EQ(unregisterClass(u"TavioLocalClass").error(), Error::ClassDoesNotExist);
    EXPECT_EQ(createWindow(u"TavioLocalClass", u"Title").error(), Error::CannotFindWndClass);
}

TEST_F(WindowsTest, CreateAndDestroyTellTheProcedureAndTheMachine)
{
    WindowHandle window = makeLocalWindow(u"Lifetime");
    ASSERT_TRUE(window.isValid());
    EXPECT_EQ(receivedMessages(), std::vector<uint32_t> { WM_CREATE });

    auto info = windowInfo(window);
    ASSERT_TRUE(info) << describe(info.error());
    EXPECT_EQ(info->className, u"TavioLocalClass");
    EXPECT_EQ(info->title, u"Lifetime");
    EXPECT_EQ(info->pid, static_cast<int32_t>(::getpid()));
    EXPECT_EQ(info->visibility, Visibility::Hidden);
    EXPECT_TRUE(info->controls.empty());

    ASSERT_TRUE(showWindow(window, Visibility::Shown));
    ASSERT_TRUE(moveWindow(window, Rect { 5, 6, 70, 80 }));
    info = windowInfo(window);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->visibility, Visibility::Shown);
    EXPECT_EQ(info->rect, (Rect { 5, 6, 70, 80 }));

    ASSERT_TRUE(destroyWindow(window));
    EXPECT_EQ(receivedMessages(), (std::vector<uint32_t> { WM_CREATE, WM_DESTROY }));
    EXPECT_FALSE(isWindow(window));
    EXPECT_EQ(destroyWindow(window).error(), Error::InvalidWindowHandle);
    EXPECT_EQ(postMessage(window, WM_USER, 0, 0).error(), Error::InvalidWindowHandle);
    EXPECT_EQ(sendMessage(window, WM_USER, 0, 0).error(), Error::InvalidWindowHandle);
}

TEST_F(WindowsTest, PostedMessagesComeOutInOrderAndTheQuitMessageLast)
{
    WindowHandle window = makeLocalWindow();
    ASSERT_TRUE(postMessage(window, WM_USER + 1, 11, -11));
    postQuitMessage(3);
    ASSERT_TRUE(postMessage(window, WM_COMMAND, 0xFFFFFFFFFFFFFFFFull, 0x7FFFFFFFFFFFFFFFll));

    Message message;
    ASSERT_EQ(getMessage(message).valueOr(false), true);
    EXPECT_EQ(message.window, window);
    EXPECT_EQ(message.message, WM_USER + 1);
    EXPECT_EQ(message.wParam, 11u);
    EXPECT_EQ(message.lParam, -11);
    ASSERT_EQ(getMessage(message).valueOr(false), true);
    EXPECT_EQ(message.message, WM_COMMAND);
    EXPECT_EQ(message.wParam, 0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(message.lParam, 0x7FFFFFFFFFFFFFFFll);

    auto quit = getMessage(message);
    ASSERT_TRUE(quit);
    EXPECT_FALSE(*quit);
    EXPECT_EQ(message.message, WM_QUIT);
    EXPECT_EQ(message.wParam, 3u);
    EXPECT_EQ(peekMessage(message).valueOr(true), false) << "the quit message came out twice";
    ASSERT_TRUE(destroyWindow(window));
}

TEST_F(WindowsTest, SendOnTheOwningThreadCallsTheProcedureDirectly)
{
    WindowHandle window = makeLocalWindow();
    auto result = sendMessage(window, WM_USER, 40, 2);
    ASSERT_TRUE(result) << describe(result.error());
    EXPECT_EQ(*result, 42);
    Message message;
    EXPECT_EQ(peekMessage(message).valueOr(true), false) << "a sent message was queued";
    ASSERT_TRUE(destroyWindow(window));
}

TEST_F(WindowsTest, SendFromAnotherThreadIsHandledByTheOwnerAndAnswered)
{
    std::promise<WindowHandle> created;
    std::thread owner([&] {
        created.set_value(makeLocalWindow(u"Owned Elsewhere"));
        Message message;
        while (getMessage(message).valueOr(false))
            dispatchMessage(message);
    });
    auto future = created.get_future();
    ASSERT_EQ(future.wait_for(10s), std::future_status::ready);
    WindowHandle window = future.get();
    std::thread::id ownerId = owner.get_id();

    EXPECT_EQ(destroyWindow(window).error(), Error::AccessDenied) << "only the owner may destroy its window";
    auto result = sendMessage(window, WM_USER, 1000, 337);
    EXPECT_TRUE(result && *result == 1337) << (result ? std::to_string(*result) : describe(result.error()));
    {
        std::lock_guard lock(m_mutex);
        ASSERT_FALSE(m_threads.empty());
        EXPECT_EQ(m_threads.back(), ownerId) << "the procedure ran on the sender's thread";
    }
    // WM_CLOSE destroys the window on its thread, which then ends its loop.
    ASSERT_TRUE(sendMessage(window, WM_CLOSE, 0, 0));
    owner.join();
    EXPECT_FALSE(isWindow(window));
    EXPECT_EQ(sendMessage(window, WM_USER, 0, 0).error(), Error::InvalidWindowHandle);
}

TEST_F(WindowsTest, AThreadThatEndsTakesItsWindowsAndReleasesItsSenders)
{
    std::promise<WindowHandle> created;
    std::promise<void> finish;
    std::thread owner([&] {
        created.set_value(makeLocalWindow(u"Short Lived"));
        // Ends without a message loop and without destroying its window.
        finish.get_future().wait();
    });
    WindowHandle window = created.get_future().get();
    ASSERT_TRUE(isWindow(window));
    // A send to a thread that never answers is released when it ends.
    auto sent = std::async(std::launch::async, [&] { return sendMessage(window, WM_USER, 1, 1); });
    finish.set_value();
    owner.join();
    ASSERT_EQ(sent.wait_for(10s), std::future_status::ready) << "the sender hangs after its target thread ended";
    EXPECT_EQ(sent.get().error(), Error::InvalidWindowHandle);
    EXPECT_FALSE(isWindow(window));
    EXPECT_EQ(findWindow(std::nullopt, u"Short Lived").error(), Error::FileNotFound);
}

TEST_F(WindowsTest, FindMatchesClassAndTitleAcrossProcessesWithoutCase)
{
    testkit::WindowPeers peers;
    WindowHandle local = makeLocalWindow(u"Local Window");
    auto peer = peers.start("TavioPeerClass", "Peer Window");
    auto peerWindow = findWindow(u"TavioPeerClass", std::nullopt);
    ASSERT_TRUE(peerWindow) << describe(peerWindow.error());
    auto info = windowInfo(*peerWindow);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->pid, peer.pid());

    struct Case {
        const char* name;
        std::optional<std::u16string_view> className;
        std::optional<std::u16string_view> title;
        std::optional<WindowHandle> expected; // none: not found
    };
    const Case cases[] = {
        { "class only", u"TavioPeerClass", std::nullopt, *peerWindow },
        { "class in other case", u"TAVIOPEERCLASS", std::nullopt, *peerWindow },
        { "title only, other case", std::nullopt, u"peer window", *peerWindow },
        { "class and title", u"TavioPeerClass", u"Peer Window", *peerWindow },
        { "this process's window", u"taviolocalclass", u"Local Window", local },
        { "class of one, title of the other", u"TavioPeerClass", u"Local Window", std::nullopt },
        { "title prefix only", std::nullopt, u"Peer", std::nullopt },
        { "title with a trailing blank", std::nullopt, u"Peer Window ", std::nullopt },
        { "empty title", u"TavioPeerClass", u"", std::nullopt },
    };
    for (const auto& row : cases) {
        auto found = findWindow(row.className, row.title);
        if (row.expected) {
            EXPECT_TRUE(found && *found == *row.expected) << row.name;
        } else {
            EXPECT_EQ(found.error(), Error::FileNotFound) << row.name;
        }
    }
    EXPECT_EQ(findWindow(std::nullopt, std::nullopt).error(), Error::InvalidParameter);
    EXPECT_EQ(destroyWindow(*peerWindow).error(), Error::AccessDenied);
    EXPECT_EQ(sendMessage(*peerWindow, WM_USER, 0, 0).error(), Error::NotSupported);
    ASSERT_TRUE(destroyWindow(local));
}

TEST_F(WindowsTest, PostReachesAnotherProcessWithTheExactParameters)
{
    // Both loops: the blocking one and the one that polls the queue's
    // descriptor as an event loop does.
    for (std::string loop : { "blocking", "poll" }) {
        SCOPED_TRACE(loop);
        testkit::WindowPeers peers;
        std::string title = "Peer " + loop;
        auto peer = peers.start("TavioPeerClass", title,
            loop == "poll" ? std::vector<std::string> { "poll" } : std::vector<std::string> {});
        auto window = findWindow(std::nullopt, text::toUtf16(title));
        ASSERT_TRUE(window);
        ASSERT_TRUE(postMessage(*window, WM_USER + 5, 0xFEDCBA9876543210ull, -2));
        ASSERT_TRUE(postMessage(*window, WM_COMMAND, 1001, 0));
        auto command = peers.waitFor(*window, WM_COMMAND);
        ASSERT_TRUE(command) << "the peer did not get WM_COMMAND";

        auto received = testkit::WindowPeers::received(*window);
        ASSERT_EQ(received.size(), 3u) << "WM_CREATE, then the two posted messages";
        EXPECT_EQ(received[0].message, WM_CREATE);
        EXPECT_EQ(received[1].message, WM_USER + 5);
        EXPECT_EQ(received[1].wParam, 0xFEDCBA9876543210ull);
        EXPECT_EQ(received[1].lParam, static_cast<uint64_t>(-2));
        EXPECT_EQ(received[2].wParam, 1001u);

        // WM_CLOSE: destroyed by the default handling, the loop ends.
        ASSERT_TRUE(postMessage(*window, WM_CLOSE, 0, 0));
        EXPECT_EQ(peer.wait(10s), 0);
        EXPECT_TRUE(peers.waitFor(*window, WM_DESTROY));
        EXPECT_FALSE(isWindow(*window));
        EXPECT_EQ(postMessage(*window, WM_USER, 0, 0).error(), Error::InvalidWindowHandle);
    }
}

TEST_F(WindowsTest, PostedQuitEndsTheLoopWithItsCode)
{
    testkit::WindowPeers peers;
    auto peer = peers.start("TavioPeerClass", "Quitter");
    auto window = findWindow(std::nullopt, u"Quitter");
    ASSERT_TRUE(window);
    ASSERT_TRUE(postMessage(*window, WM_QUIT, 7, 0));
    EXPECT_EQ(peer.wait(10s), 7);
    EXPECT_FALSE(isWindow(*window)) << "the window outlived its process";
}

TEST_F(WindowsTest, AKilledProcessLeavesNoWindowBehind)
{
    testkit::WindowPeers peers;
    auto peer = peers.start("TavioPeerClass", "Doomed");
    auto window = findWindow(u"TavioPeerClass", u"Doomed");
    ASSERT_TRUE(window);
    // Messages waiting for a process that dies are dropped with it.
    ASSERT_TRUE(postMessage(*window, WM_USER, 1, 2));
    peer.kill();
    EXPECT_EQ(findWindow(u"TavioPeerClass", u"Doomed").error(), Error::FileNotFound);
    EXPECT_EQ(postMessage(*window, WM_USER, 0, 0).error(), Error::InvalidWindowHandle);
    EXPECT_EQ(windowInfo(*window).error(), Error::InvalidWindowHandle);
    auto all = listWindows();
    ASSERT_TRUE(all);
    EXPECT_TRUE(all->empty());
}

class SessionTest : public WindowsTest {
protected:
    void SetUp() override
    {
        WindowsTest::SetUp();
        auto installed = standins::installPlatformPrograms(TAVIO_BIN_DIR);
        ASSERT_TRUE(installed) << describe(installed.error());
        ASSERT_TRUE(installed->missing.empty()) << installed->missing.front() << " is not built";
    }

    testkit::Completed session(const std::string& command)
    {
        return testkit::run(testkit::systemProgram("tavio-machine"), { "session", command }, 30s);
    }

    // Posts a marker and waits for it: everything posted to the window
    // before has arrived by then.
    void drain(testkit::WindowPeers& peers, WindowHandle window)
    {
        ASSERT_TRUE(postMessage(window, WM_USER + 99, 0, 0));
        ASSERT_TRUE(peers.waitFor(window, WM_USER + 99));
    }

    static std::vector<testkit::PeerMessage> sessionMessages(WindowHandle window)
    {
        auto all = testkit::WindowPeers::received(window);
        std::erase_if(all, [](const auto& message) { return message.message != WM_WTSSESSION_CHANGE; });
        return all;
    }
};

TEST_F(SessionTest, ChangesReachTheRegisteredWindowOnlyWithThePlatformsCodes)
{
    testkit::WindowPeers peers;
    auto registered = peers.start("Calvex Mode Change ", "Calvex Mode Change", { "session" });
    auto bystander = peers.start("TavioPeerClass", "Bystander");
    auto registeredWindow = findWindow(u"Calvex Mode Change ", u"Calvex Mode Change");
    auto bystanderWindow = findWindow(std::nullopt, u"Bystander");
    ASSERT_TRUE(registeredWindow && bystanderWindow);
    auto info = windowInfo(*registeredWindow);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->sessionNotification, SessionNotification::ThisSession);

    const std::pair<std::string, uint32_t> events[] = {
        { "console-connect", 1 },
        { "console-disconnect", 2 },
        { "remote-connect", 3 },
        { "remote-disconnect", 4 },
        { "logon", 5 },
        { "lock", 7 },
        { "unlock", 8 },
    };
    for (const auto& [command, code] : events) {
        auto done = session(command);
        EXPECT_EQ(done.exitCode, 0) << command << ": " << done.output;
    }
    drain(peers, *registeredWindow);
    drain(peers, *bystanderWindow);

    auto got = sessionMessages(*registeredWindow);
    ASSERT_EQ(got.size(), std::size(events));
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].wParam, events[i].second) << events[i].first;
        EXPECT_EQ(got[i].lParam, 0u) << events[i].first << ": the session id";
    }
    EXPECT_TRUE(sessionMessages(*bystanderWindow).empty()) << "an unregistered window was notified";

    auto journaled = journal::read("session.change");
    ASSERT_EQ(journaled.size(), std::size(events));
    EXPECT_EQ(journaled.back().field("event"), "unlock");
    EXPECT_EQ(journaled.back().field("title"), "Calvex Mode Change");
    EXPECT_EQ(journaled.back().field("message"), "WM_WTSSESSION_CHANGE");
    EXPECT_EQ(journaled.back().field("wParam"), "0x8");
}

TEST_F(SessionTest, LogoffAlsoEndsTheSessionOfEveryWindow)
{
    testkit::WindowPeers peers;
    auto registered = peers.start("TavioPeerClass", "Registered", { "session-all" });
    auto bystander = peers.start("TavioPeerClass", "Bystander");
    auto registeredWindow = findWindow(std::nullopt, u"Registered");
    auto bystanderWindow = findWindow(std::nullopt, u"Bystander");
    ASSERT_TRUE(registeredWindow && bystanderWindow);

    auto done = session("logoff");
    ASSERT_EQ(done.exitCode, 0) << done.output;
    drain(peers, *registeredWindow);
    drain(peers, *bystanderWindow);

    auto messagesOf = [](WindowHandle window) {
        std::vector<std::tuple<uint32_t, uint64_t, uint64_t>> out;
        for (const auto& message : testkit::WindowPeers::received(window)) {
            if (message.message != WM_CREATE && message.message != WM_USER + 99)
                out.emplace_back(message.message, message.wParam, message.lParam);
        }
        return out;
    };
    using Row = std::tuple<uint32_t, uint64_t, uint64_t>;
    const uint64_t logoff = static_cast<uint64_t>(ENDSESSION_LOGOFF);
    EXPECT_EQ(messagesOf(*registeredWindow),
        (std::vector<Row> {
            { WM_WTSSESSION_CHANGE, 6, 0 }, { WM_QUERYENDSESSION, 0, logoff }, { WM_ENDSESSION, 1, logoff } }));
    EXPECT_EQ(messagesOf(*bystanderWindow),
        (std::vector<Row> { { WM_QUERYENDSESSION, 0, logoff }, { WM_ENDSESSION, 1, logoff } }));
    EXPECT_EQ(journal::read("session.change").size(), 5u);
}

TEST_F(SessionTest, TheLibraryRegistersAndUnregistersByItsExports)
{
    auto library = modules::Module::load(u"Wtsapi32.dll");
    ASSERT_TRUE(library) << describe(library.error());
    auto registerNotification = library->symbol<int32_t (*)(uintptr_t, uint32_t)>("WTSRegisterSessionNotification");
    auto unregisterNotification = library->symbol<int32_t (*)(uintptr_t)>("WTSUnRegisterSessionNotification");
    ASSERT_TRUE(registerNotification && unregisterNotification);

    WindowHandle window = makeLocalWindow();
    auto notification = [&] { return windowInfo(window).valueOr(WindowInfo {}).sessionNotification; };
    EXPECT_EQ((*registerNotification)(window.value(), 2), 0) << "flags other than 0 and 1 are refused";
    EXPECT_EQ((*registerNotification)(0x7FFFFFF0, 0), 0) << "a window that does not exist";
    EXPECT_EQ(notification(), SessionNotification::Off);

    EXPECT_NE((*registerNotification)(window.value(), sessions::NOTIFY_FOR_ALL_SESSIONS), 0);
    EXPECT_EQ(notification(), SessionNotification::AllSessions);
    EXPECT_NE((*registerNotification)(window.value(), sessions::NOTIFY_FOR_THIS_SESSION), 0);
    EXPECT_EQ(notification(), SessionNotification::ThisSession);
    auto delivered = sessions::changeSession(sessions::SessionEvent::Lock);
    ASSERT_TRUE(delivered);
    EXPECT_EQ(delivered->size(), 1u);

    EXPECT_NE((*unregisterNotification)(window.value()), 0);
    EXPECT_EQ(notification(), SessionNotification::Off);
    delivered = sessions::changeSession(sessions::SessionEvent::Unlock);
    ASSERT_TRUE(delivered);
    EXPECT_TRUE(delivered->empty()) << "an unregistered window was notified";
    ASSERT_TRUE(destroyWindow(window));
}

} // namespace
