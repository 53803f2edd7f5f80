#pragma once

// What windows.cpp and message_queue.cpp share: the process's own windows
// and the message queues of its threads. Only these two files include it.

#include "platform/windows.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace platform::windows::detail {

// A window of this process, as its procedure and owner thread.
struct LocalWindow {
    WindowProcedure procedure;
    int32_t threadId { 0 };
    Visibility visibility { Visibility::Hidden };
    Rect rect;
};

// Copies of the procedure are handed out, so a procedure may destroy its own
// window (and so its table entry) while it runs.
std::optional<LocalWindow> localWindow(WindowHandle window);

// A message sent by another thread of this process, waiting for the owner
// thread to call the procedure.
struct SentMessage {
    Message message;
    intptr_t result { 0 };
    enum class State { Pending, Answered, Abandoned } state { State::Pending };
};

// The message queue of one thread of this process.
struct ThreadQueue {
    int32_t threadId { 0 };
    int fd { -1 };
    std::mutex mutex;
    std::condition_variable answered;
    std::deque<std::shared_ptr<SentMessage>> sent;
    bool ended { false };
};

int32_t currentThreadId();

// The calling thread's queue, attached to the object manager on first use.
Result<std::shared_ptr<ThreadQueue>> currentQueue();

// Queues a message for a window of the calling thread at once, without the
// round trip through the object manager, so that it is there for the next
// getMessage; false when the thread has no queue on this machine.
bool postToOwnQueue(const Message& message);

// Hands `message` to the queue of another thread of this process and waits
// for its procedure's result. 1400 when the thread ends first.
Result<intptr_t> sendToThread(int32_t threadId, const Message& message);

// The process's window table, kept by windows.cpp.
void addLocalWindow(WindowHandle window, LocalWindow local);
void removeLocalWindow(WindowHandle window);
// Drops the entries of a thread that ended (the manager destroyed its windows).
void removeThreadWindows(int32_t threadId);

} // namespace platform::windows::detail
