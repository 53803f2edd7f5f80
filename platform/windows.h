#pragma once

#include "platform/result.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::windows {

// Windows and the messages between them. A window belongs to the thread that
// created it; its record (class, title, owner, visibility, rectangle) lives in
// the machine's object manager, so every process of the machine can find it
// and post to it. Window classes and window procedures belong to the process.
//
// Each thread that creates a window gets a message queue: a connection on
// which the object manager pushes the messages posted to the thread's windows.
// A program without an event loop of its own runs getMessage / dispatchMessage;
// an event loop that watches descriptors (Qt's) watches messageQueueDescriptor()
// and drains the queue with peekMessage when it becomes readable.

// The platform's message numbers, under the platform's names.
inline constexpr uint32_t WM_NULL = 0x0000;
inline constexpr uint32_t WM_CREATE = 0x0001;
inline constexpr uint32_t WM_DESTROY = 0x0002;
inline constexpr uint32_t WM_CLOSE = 0x0010;
inline constexpr uint32_t WM_QUERYENDSESSION = 0x0011;
inline constexpr uint32_t WM_QUIT = 0x0012;
inline constexpr uint32_t WM_ENDSESSION = 0x0016;
inline constexpr uint32_t WM_COMMAND = 0x0111;
inline constexpr uint32_t WM_TIMER = 0x0113;
inline constexpr uint32_t WM_WTSSESSION_CHANGE = 0x02B1;
inline constexpr uint32_t WM_USER = 0x0400;
inline constexpr uint32_t WM_APP = 0x8000;

// The lParam of WM_QUERYENDSESSION and WM_ENDSESSION when the user logs off
// (rather than the machine shutting down).
inline constexpr intptr_t ENDSESSION_LOGOFF = static_cast<intptr_t>(0x80000000u);

// A window on the machine. The value is the same in every process and is
// never reused while the machine's object manager runs.
class WindowHandle {
public:
    constexpr WindowHandle() = default;
    constexpr explicit WindowHandle(uintptr_t value)
        : m_value(value)
    { }
    constexpr uintptr_t value() const { return m_value; }
    constexpr bool isValid() const { return m_value != 0; }
    friend constexpr bool operator==(WindowHandle, WindowHandle) = default;

private:
    uintptr_t m_value { 0 };
};

// Called with (window, message, wParam, lParam); the result goes back to the
// sender (and is dropped for a posted message).
using WindowProcedure = std::function<intptr_t(WindowHandle, uint32_t, uintptr_t, intptr_t)>;

// The default handling of the messages a procedure does not handle itself:
// WM_CLOSE destroys the window, WM_QUERYENDSESSION answers 1, the rest 0.
intptr_t defaultWindowProcedure(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Classes are the process's own; names compare without regard to case.
// 1410 when this process has the class already; 87 for an empty name or no
// procedure.
Status registerClass(std::u16string_view className, WindowProcedure procedure);
// 1411 when this process has no such class.
Status unregisterClass(std::u16string_view className);
bool isClassRegistered(std::u16string_view className);

struct Rect {
    int32_t x { 0 };
    int32_t y { 0 };
    int32_t width { 0 };
    int32_t height { 0 };
    friend bool operator==(const Rect&, const Rect&) = default;
};

enum class Visibility { Hidden, Shown };

// A control inside a window, as a window publishes it for the machine tool's
// view of the window tree.
struct ControlInfo {
    uint32_t id { 0 };
    std::u16string className;
    std::u16string text;
    Rect rect;
    Visibility visibility { Visibility::Shown };
    bool enabled { true };
    bool focused { false };
};

enum class SessionNotification { Off, ThisSession, AllSessions };

// A window as the object manager knows it.
struct WindowInfo {
    WindowHandle handle;
    std::u16string className;
    std::u16string title;
    int32_t pid { 0 };
    int32_t threadId { 0 };
    Visibility visibility { Visibility::Hidden };
    Rect rect;
    SessionNotification sessionNotification { SessionNotification::Off };
    std::vector<ControlInfo> controls;
};

// Creates a top-level window of a class of this process, owned by the
// calling thread, and calls its procedure with WM_CREATE before returning.
// 1407 when this process has no such class.
// FIXME: a WM_CREATE answer of -1 does not yet refuse the creation.
Result<WindowHandle> createWindow(std::u16string_view className, std::u16string_view title,
    Visibility visibility = Visibility::Hidden, Rect rect = {});
// Calls the procedure with WM_DESTROY and removes the window. Only the owning
// thread may destroy a window: 5 for another thread's, 1400 for one that
// does not exist.
Status destroyWindow(WindowHandle window);
// Shows or hides, moves: the owning process only (5 otherwise).
Status showWindow(WindowHandle window, Visibility visibility);
Status moveWindow(WindowHandle window, Rect rect);
// Replaces the controls the window publishes; the owning process only.
Status publishControls(WindowHandle window, const std::vector<ControlInfo>& controls);

// Finds a window of any process of the machine by class and/or title (a
// missing one matches anything), compared without regard to case; the most
// recently created matching window wins. 2 when none matches, 87 when
// neither is given.
Result<WindowHandle> findWindow(std::optional<std::u16string_view> className, std::optional<std::u16string_view> title);
// 1400 for a window that does not exist (any more).
Result<WindowInfo> windowInfo(WindowHandle window);
bool isWindow(WindowHandle window);
// Every window of the machine, oldest first.
Result<std::vector<WindowInfo>> listWindows();

// Puts a message in the queue of the window's thread and returns at once.
// 1400 for a window that does not exist (any more).
Status postMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Calls the window's procedure and returns its result: directly when the
// calling thread owns the window, else through the owning thread's queue,
// waiting until that thread has handled it (the owner handles sent messages
// inside getMessage and peekMessage). 1400 for a window that does not exist
// or whose thread ended before answering.
// FIXME: sending to a window of another process gives 50 (not supported).
Result<intptr_t> sendMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

struct Message {
    WindowHandle window; // none for WM_QUIT from postQuitMessage
    uint32_t message { WM_NULL };
    uintptr_t wParam { 0 };
    intptr_t lParam { 0 };
};

// Waits for the next posted message of the calling thread, handling sent
// messages meanwhile. True for a message, false for WM_QUIT (its wParam the
// exit code). Blocks in the kernel: a waiting thread costs no CPU.
Result<bool> getMessage(Message& message);

enum class PeekMode { Keep, Remove };
// Like getMessage but never waits: false when no posted message is queued.
// Unlike getMessage it returns true for WM_QUIT too (check message.message),
// as the platform's PeekMessage does. Sent messages are handled either way.
Result<bool> peekMessage(Message& message, PeekMode mode = PeekMode::Remove);

// Nothing to translate without a keyboard; kept so that loops read as on
// the platform.
void translateMessage(const Message& message);
// Calls the procedure of the message's window; 0 when it has none (any more).
intptr_t dispatchMessage(const Message& message);

// Makes the calling thread's getMessage return false, with `exitCode` as the
// wParam, once the messages posted before it have been retrieved.
void postQuitMessage(int32_t exitCode);

// The descriptor that becomes readable when a message arrives for the calling
// thread (creating the thread's queue when needed): for a QSocketNotifier,
// after which peekMessage drains the queue. 1062 when the object manager
// cannot be reached.
Result<int> messageQueueDescriptor();

// The platform's name of a message number ("WM_CLOSE", "WM_USER+5"), or its
// number in hex; and back, accepting names, "WM_USER+N" and numbers.
std::string messageName(uint32_t message);
std::optional<uint32_t> messageNumber(std::string_view text);

} // namespace platform::windows
