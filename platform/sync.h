#pragma once

#include "platform/result.h"

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>
#include <vector>

namespace platform::sync {

// Named kernel objects shared by every process of the machine: events,
// mutexes and semaphores in one namespace (names compare exactly, as the
// platform's object names do). An object lives while any handle to it is
// open; the handles of a process are closed when it exits or crashes.
// Objects without a name are private to the handles that refer to them.

class Handle {
public:
    Handle() = default;
    explicit Handle(uint32_t value)
        : m_value(value)
    { }
    Handle(Handle&& other) noexcept
        : m_value(other.release())
    { }
    Handle& operator=(Handle&& other) noexcept;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { close(); }

    bool isValid() const { return m_value != 0; }
    uint32_t value() const { return m_value; }
    uint32_t release()
    {
        uint32_t value = m_value;
        m_value = 0;
        return value;
    }
    void close();

private:
    uint32_t m_value { 0 };
};

struct Created {
    Handle handle;
    Disposition disposition;
};

enum class ResetMode { Auto, Manual };
enum class InitialState { NotSignalled, Signalled };
enum class InitialOwner { No, Yes };

// Creates a named event or opens the one of that name. An existing object
// of another kind under the name gives 6 (invalid handle).
Result<Created> createEvent(std::u16string_view name, ResetMode reset, InitialState initial);
// Opens an existing event; 2 when there is none.
Result<Handle> openEvent(std::u16string_view name);
// Set: stays signalled until a waiter takes it (auto-reset) or until reset.
Status setEvent(const Handle& event);
Status resetEvent(const Handle& event);
// Pulse: releases a waiter waiting at this moment (auto-reset: one; manual:
// all) and leaves the event not signalled; with no waiter it is lost.
Status pulseEvent(const Handle& event);

Result<Created> createMutex(std::u16string_view name, InitialOwner owner);
Result<Handle> openMutex(std::u16string_view name);
// 288 when the calling thread does not own it.
Status releaseMutex(const Handle& mutex);

// initial <= maximum, maximum > 0, else 87.
Result<Created> createSemaphore(std::u16string_view name, int32_t initial, int32_t maximum);
Result<Handle> openSemaphore(std::u16string_view name);
// Returns the previous count; 298 when the count would pass the maximum.
Result<int32_t> releaseSemaphore(const Handle& semaphore, int32_t count);

constexpr std::chrono::milliseconds Infinite { 0xFFFFFFFF };

struct WaitOutcome {
    enum class Kind {
        Signalled, // the object at index was signalled (and taken)
        Abandoned, // the mutex at index was owned by a thread that ended
        TimedOut,
    };
    Kind kind;
    size_t index;

    bool signalled() const { return kind == Kind::Signalled; }
    bool timedOut() const { return kind == Kind::TimedOut; }
};

// Waits until one of the objects is signalled, the lowest index winning when
// several are, or the time-out passes. Waiting costs no CPU.
Result<WaitOutcome> waitAny(std::span<const Handle* const> objects, std::chrono::milliseconds timeout);
Result<WaitOutcome> waitOne(const Handle& object, std::chrono::milliseconds timeout);

// How many threads of the machine wait on the object at this moment, as a
// debugger or the machine tool sees it (no program relies on it).
Result<uint32_t> countWaiters(const Handle& object);

// Sleeps the calling thread (the platform's Sleep).
void sleep(std::chrono::milliseconds duration);

} // namespace platform::sync
