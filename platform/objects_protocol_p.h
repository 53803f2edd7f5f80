#pragma once

/*
 * The object manager's wire protocol, version 2.
 *
 * Every program of a machine talks to the machine's object manager
 * (tavio-machined) over a Unix stream socket in the abstract namespace named
 * "tavio-objectd-<16 hex digits>", the digits a hash of the machine folder.
 * Each thread of a program has a connection of its own and makes one request
 * at a time; each request gets exactly one reply, in order. A wait's reply
 * comes when the wait ends (the manager keeps the time-out), so a waiting
 * thread sleeps in recv() and costs no CPU.
 *
 * A frame is a little-endian u32 byte count followed by that many bytes:
 *   request: u32 operation, then the operation's fields
 *   reply:   u32 status (a platform error code, 0 for success), then fields
 * Fields are u32, i32, u64 or text (u32 byte count + UTF-8 bytes).
 *
 * The manager knows a program by the process id its socket reports
 * (SO_PEERCRED); all connections of one process share its handle table. When
 * the last connection of a process closes (it exited or crashed) its handles
 * are closed, its mutexes abandoned and its share reservations dropped. When
 * no connection is left at all, the manager exits.
 *
 * Windows (version 2). A thread that owns windows opens one more connection,
 * its message queue, and sends AttachQueue on it; from then on that
 * connection carries no requests, only frames the manager pushes:
 *   push: u32 kind (1 posted message, 2 wake-up), u32 window, u32 message,
 *         u64 wParam, u64 lParam
 * A wake-up only tells the thread that another thread of its process has
 * sent it a message (sent messages travel inside the process). Windows are
 * created on the thread's request connection and belong to the queue of that
 * thread; when the queue's connection closes (the thread or the process
 * ended) its windows are destroyed and its undelivered messages dropped.
 * A window record, in replies, is:
 *   u32 window, text class, text title, i32 pid, i32 thread id, u32 visible,
 *   i32 x, i32 y, i32 width, i32 height, u32 session notification (0 off,
 *   1 this session, 2 all sessions), u32 control count, then per control:
 *   u32 id, text class, text text, i32 x, i32 y, i32 width, i32 height,
 *   u32 visible, u32 enabled, u32 focused
 * Window classes compare and match without regard to case, as do titles.
 */

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace platform::objects::wire {

constexpr uint32_t Version = 2;
constexpr uint32_t MaxFrame = 64 * 1024;
constexpr uint32_t MaxWaitObjects = 64;

enum class Operation : uint32_t {
    Hello = 1, // u32 version -> (status)
    CreateEvent = 2, // text name, u32 manual, u32 initial -> u32 handle, u32 created
    CreateMutex = 3, // text name, u32 initialOwner -> u32 handle, u32 created
    CreateSemaphore = 4, // text name, i32 initial, i32 maximum -> u32 handle, u32 created
    Open = 5, // u32 kind, text name -> u32 handle
    Close = 6, // u32 handle
    SetEvent = 7, // u32 handle
    ResetEvent = 8, // u32 handle
    PulseEvent = 9, // u32 handle
    ReleaseMutex = 10, // u32 handle
    ReleaseSemaphore = 11, // u32 handle, i32 count -> i32 previous
    Wait = 12, // u32 timeoutMs, u32 count, u32 handle... -> u32 outcome, u32 index
    CountWaiters = 13, // u32 handle -> u32 threads waiting on the object now
    ReserveShare = 20, // text identity, u32 access, u32 share -> u64 token
    ReleaseShare = 21, // u64 token
    CheckDelete = 22, // text identity
    LockRange = 23, // u64 token, u64 offset, u64 length
    UnlockRange = 24, // u64 token, u64 offset, u64 length
    AttachQueue = 30, // i32 threadId -> (status); the connection becomes the thread's queue
    CreateWindow = 31, // text class, text title, i32 threadId, u32 visible, i32 x, y, width, height -> u32 window
    DestroyWindow = 32, // u32 window (owning process only)
    UpdateWindow = 33, // u32 window, u32 visible, i32 x, y, width, height (owning process only)
    FindWindow = 34, // u32 hasClass, text class, u32 hasTitle, text title -> u32 window
    WindowInfo = 35, // u32 window -> window record
    ListWindows = 36, // -> u32 count, window records, oldest first
    PostMessage = 37, // u32 window, u32 message, u64 wParam, u64 lParam
    WakeQueue = 38, // u32 window: push a wake-up to the window's queue
    SetSessionNotification = 39, // u32 window, u32 notification (0 off, 1 this session, 2 all)
    SessionChange = 40, // u32 event, u32 session -> u32 count, then per delivery:
                        //   u32 window, u32 message, u64 wParam, u64 lParam, text title, i32 pid
    PublishControls = 41, // u32 window, u32 count, controls as in a window record (owning process only)
};

enum class PushKind : uint32_t {
    Posted = 1,
    Wake = 2,
};

enum class ObjectKind : uint32_t {
    Event = 1,
    Mutex = 2,
    Semaphore = 3,
};

enum class WaitResult : uint32_t {
    Signalled = 0,
    Abandoned = 1,
    TimedOut = 2,
};

constexpr uint32_t InfiniteTimeout = 0xFFFFFFFFu;

class Writer {
public:
    void u32(uint32_t value) { append(&value, 4); }
    void i32(int32_t value) { append(&value, 4); }
    void u64(uint64_t value) { append(&value, 8); }
    void text(std::string_view value)
    {
        u32(static_cast<uint32_t>(value.size()));
        append(value.data(), value.size());
    }
    // The frame with its length prefix.
    std::string frame() const
    {
        std::string out(4, '\0');
        uint32_t size = static_cast<uint32_t>(m_bytes.size());
        std::memcpy(out.data(), &size, 4);
        return out + m_bytes;
    }

private:
    void append(const void* data, size_t size) { m_bytes.append(static_cast<const char*>(data), size); }
    std::string m_bytes;
};

// Reads fields from one frame's body; a field past the end reads as zero and
// marks the reader as failed, so malformed frames are refused, never overrun.
class Reader {
public:
    explicit Reader(std::string_view body)
        : m_body(body)
    { }
    bool ok() const { return m_ok; }
    uint32_t u32() { return read<uint32_t>(); }
    int32_t i32() { return read<int32_t>(); }
    uint64_t u64() { return read<uint64_t>(); }
    std::string text()
    {
        uint32_t size = u32();
        if (!m_ok || size > m_body.size() - m_pos) {
            m_ok = false;
            return {};
        }
        std::string value(m_body.substr(m_pos, size));
        m_pos += size;
        return value;
    }

private:
    template <typename T> T read()
    {
        T value {};
        if (!m_ok || m_body.size() - m_pos < sizeof(T)) {
            m_ok = false;
            return value;
        }
        std::memcpy(&value, m_body.data() + m_pos, sizeof(T));
        m_pos += sizeof(T);
        return value;
    }
    std::string_view m_body;
    size_t m_pos { 0 };
    bool m_ok { true };
};

// The abstract socket name of a machine's object manager.
std::string socketName(const std::string& machineRoot);

} // namespace platform::objects::wire
