#pragma once

#include "platform/result.h"
#include "platform/windows.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::sessions {

// Session notifications: a window registered for them gets
// WM_WTSSESSION_CHANGE, its wParam the event below and its lParam the session
// id, when the session is locked, unlocked, connected, disconnected, logged
// on or off. The machine has one session, the console session 0.

inline constexpr uint32_t NOTIFY_FOR_THIS_SESSION = 0;
inline constexpr uint32_t NOTIFY_FOR_ALL_SESSIONS = 1;

inline constexpr uint32_t CurrentSessionId = 0;

// The platform's wParam values of WM_WTSSESSION_CHANGE.
enum class SessionEvent : uint32_t {
    ConsoleConnect = 1, // WTS_CONSOLE_CONNECT
    ConsoleDisconnect = 2, // WTS_CONSOLE_DISCONNECT
    RemoteConnect = 3, // WTS_REMOTE_CONNECT
    RemoteDisconnect = 4, // WTS_REMOTE_DISCONNECT
    Logon = 5, // WTS_SESSION_LOGON
    Logoff = 6, // WTS_SESSION_LOGOFF
    Lock = 7, // WTS_SESSION_LOCK
    Unlock = 8, // WTS_SESSION_UNLOCK
};

// Registers a window of any process for the notifications of this session
// or of all sessions (the same here). 1400 for a window that does not exist.
Status registerNotification(windows::WindowHandle window, windows::SessionNotification scope);
Status unregisterNotification(windows::WindowHandle window);

// One message that a session change posted.
struct Delivery {
    windows::WindowHandle window;
    uint32_t message { 0 };
    uintptr_t wParam { 0 };
    intptr_t lParam { 0 };
    std::u16string title;
    int32_t pid { 0 };
};

// Makes the session change happen: posts WM_WTSSESSION_CHANGE to every
// registered window and, for a log-off, then WM_QUERYENDSESSION and
// WM_ENDSESSION (wParam 1, lParam ENDSESSION_LOGOFF) to every window. Both
// end-session messages are posted, so the answers to the query are not
// waited for. Journals each delivery as "session.change".
Result<std::vector<Delivery>> changeSession(SessionEvent event);

// "lock", "console-connect"... as the machine tool names the events, and back.
std::string_view commandName(SessionEvent event);
std::optional<SessionEvent> eventFromCommand(std::string_view command);
// "WTS_SESSION_LOCK"...
std::string_view constantName(SessionEvent event);

} // namespace platform::sessions
