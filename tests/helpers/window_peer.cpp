// A program with one window, for the window and session tests:
//   window_peer CLASS TITLE READY REPORT [OPTION...]
// creates a window of class CLASS titled TITLE, sets the event READY and runs
// its message loop. Every message the window procedure receives is journaled
// as "peer.message" (window, message, wParam, lParam, all in hex), after which
// the event REPORT is set. WM_CLOSE gets the default handling (the window is
// destroyed), WM_DESTROY posts the quit message, and the program ends with
// the quit message's code.
// Options:
//   session      register for session notifications of this session through
//                Wtsapi32.dll, loaded by name
//   session-all  the same, for all sessions
//   shown        show the window at 10,20 sized 300x200
//   poll         wait in poll() on messageQueueDescriptor() and drain with
//                peekMessage, as a Qt event loop does
// Exit codes beyond the quit code: 60 usage, 61 events, 62 class, 63 window,
// 64 Wtsapi32.dll, 65 its export, 66 registration refused, 67 queue broken.

#include "platform/journal.h"
#include "platform/modules.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "platform/windows.h"

#include <cstdio>
#include <poll.h>
#include <string>

using namespace platform;
using namespace platform::windows;

namespace {

// Points at main's handle: a global handle would be closed after the
// platform's own state has gone at exit.
const sync::Handle* g_report = nullptr;

std::string hex(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

intptr_t procedure(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    journal::record("peer.message",
        { { "window", hex(window.value()) }, { "message", hex(message) }, { "wParam", hex(wParam) },
            { "lParam", hex(static_cast<uint64_t>(lParam)) } });
    (void)sync::setEvent(*g_report);
    if (message == WM_DESTROY) {
        postQuitMessage(0);
        return 0;
    }
    return defaultWindowProcedure(window, message, wParam, lParam);
}

bool registerForSessions(WindowHandle window, uint32_t flags)
{
    auto library = modules::Module::load(u"Wtsapi32.dll");
    if (!library)
        std::exit(64);
    auto registerNotification = library->symbol<int32_t (*)(uintptr_t, uint32_t)>("WTSRegisterSessionNotification");
    if (!registerNotification)
        std::exit(65);
    return (*registerNotification)(window.value(), flags) != 0;
}

int blockingLoop()
{
    Message message;
    for (;;) {
        auto got = getMessage(message);
        if (!got)
            return 67;
        if (!*got)
            return static_cast<int>(message.wParam);
        translateMessage(message);
        dispatchMessage(message);
    }
}

int pollingLoop()
{
    auto descriptor = messageQueueDescriptor();
    if (!descriptor)
        return 67;
    for (;;) {
        pollfd readable { *descriptor, POLLIN, 0 };
        if (::poll(&readable, 1, -1) < 0)
            continue;
        Message message;
        for (;;) {
            auto got = peekMessage(message, PeekMode::Remove);
            if (!got)
                return 67;
            if (!*got)
                break;
            if (message.message == WM_QUIT)
                return static_cast<int>(message.wParam);
            dispatchMessage(message);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5)
        return 60;
    bool poll = false;
    bool shown = false;
    std::optional<uint32_t> sessionFlags;
    for (int i = 5; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "session")
            sessionFlags = 0;
        else if (option == "session-all")
            sessionFlags = 1;
        else if (option == "poll")
            poll = true;
        else if (option == "shown")
            shown = true;
        else
            return 60;
    }
    auto ready = sync::openEvent(text::toUtf16(argv[3]));
    auto report = sync::openEvent(text::toUtf16(argv[4]));
    if (!ready || !report)
        return 61;
    g_report = &*report;

    if (!registerClass(text::toUtf16(argv[1]), procedure))
        return 62;
    auto window = shown
        ? createWindow(text::toUtf16(argv[1]), text::toUtf16(argv[2]), Visibility::Shown, Rect { 10, 20, 300, 200 })
        : createWindow(text::toUtf16(argv[1]), text::toUtf16(argv[2]));
    if (!window)
        return 63;
    if (sessionFlags && !registerForSessions(*window, *sessionFlags))
        return 66;
    (void)sync::setEvent(*ready);
    return poll ? pollingLoop() : blockingLoop();
}
