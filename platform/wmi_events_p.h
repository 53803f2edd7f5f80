#pragma once

// Event delivery between the processes of the machine, for the WMI service
// only. Each subscription owns a semaphore with a name of its own and
// registers that name in the machine configuration; raising an event
// releases every registered semaphore, and the subscription's callback thread
// turns each count into one call of its sink.

#include "platform/sync.h"
#include "platform/wmi.h"

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace platform::wmi::events {

class Subscription : public std::enable_shared_from_this<Subscription> {
public:
    // Registers the subscription and starts its callback thread.
    static Result<std::shared_ptr<Subscription>> start(
        std::u16string eventClass, NotificationFlags flags, std::shared_ptr<Sink> sink);
    ~Subscription();
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

    const std::shared_ptr<Sink>& sink() const { return m_sink; }

    // Ends delivery: waits for a callback under way, unless called from the
    // callback thread itself, whose current callback is then the last.
    void cancel();

private:
    struct Token { };

public:
    Subscription(Token, std::u16string eventClass, NotificationFlags flags, std::shared_ptr<Sink> sink);

private:
    void run();

    const std::u16string m_eventClass;
    const NotificationFlags m_flags;
    const std::shared_ptr<Sink> m_sink;
    std::string m_semaphoreName;
    sync::Handle m_semaphore;
    sync::Handle m_cancelEvent;
    std::atomic<bool> m_cancelled { false };
    std::thread m_thread;
    // Set when the callback thread cancels its own subscription: the thread
    // then runs on detached and keeps the object alive until it ends.
    std::shared_ptr<Subscription> m_keepAlive;
};

// Releases every live subscription to the event class on the machine and
// drops the registrations of processes that ended; returns how many it
// reached.
size_t raise(std::u16string_view eventClass);

// The event class of every live subscription on the machine.
std::vector<std::u16string> live();

} // namespace platform::wmi::events
