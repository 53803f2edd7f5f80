#include "platform/wmi_events_p.h"
#include "platform/wmi_firmware_p.h"

#include "platform/config.h"
#include "platform/journal.h"
#include "platform/text.h"

#include <unistd.h>

namespace platform::wmi::events {

namespace {

// One configuration value per subscription: "wmi.subscription.<semaphore
// name>" = the event class. The semaphore belongs to the subscribing
// process, so a registration whose semaphore is gone is one whose process
// ended without cancelling; the next raise drops it.
constexpr std::string_view RegistrationPrefix = "wmi.subscription.";

// Deliveries a subscription may owe before further events are dropped.
constexpr int32_t MaximumPending = 0x7FFFFFFF;

std::string nextSemaphoreName()
{
    static std::atomic<uint64_t> counter { 0 };
    return "wmi-sink-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

// Calls `reach` with an open handle of every live subscription of the class
// (every class when empty) and drops the registrations of ended processes.
template <typename Reach> void forEachLive(std::u16string_view eventClass, Reach reach)
{
    std::string wanted = text::toUtf8(eventClass);
    for (const auto& [key, registeredClass] : config::list(RegistrationPrefix)) {
        if (!wanted.empty() && !text::equalsIgnoreCase(registeredClass, wanted))
            continue;
        auto semaphore = sync::openSemaphore(text::toUtf16(key.substr(RegistrationPrefix.size())));
        if (!semaphore) {
            // 2: nobody holds the semaphore any more; 6: the name now belongs
            // to an object of another kind. Either way nobody listens.
            if (semaphore.error() == Error::FileNotFound || semaphore.error() == Error::InvalidHandle)
                (void)config::erase(key);
            continue;
        }
        reach(*semaphore, registeredClass);
    }
}

} // namespace

Subscription::Subscription(Token, std::u16string eventClass, NotificationFlags flags, std::shared_ptr<Sink> sink)
    : m_eventClass(std::move(eventClass))
    , m_flags(flags)
    , m_sink(std::move(sink))
{ }

Result<std::shared_ptr<Subscription>> Subscription::start(
    std::u16string eventClass, NotificationFlags flags, std::shared_ptr<Sink> sink)
{
    auto subscription = std::make_shared<Subscription>(Token {}, std::move(eventClass), flags, std::move(sink));
    subscription->m_semaphoreName = nextSemaphoreName();
    auto semaphore = sync::createSemaphore(text::toUtf16(subscription->m_semaphoreName), 0, MaximumPending);
    auto cancelEvent = sync::createEvent(u"", sync::ResetMode::Manual, sync::InitialState::NotSignalled);
    if (!semaphore || !cancelEvent) {
        subscription->m_cancelled = true; // nothing was registered or started
        return HResult::Failed;
    }
    subscription->m_semaphore = std::move(semaphore->handle);
    subscription->m_cancelEvent = std::move(cancelEvent->handle);
    // The semaphore exists before its name is published, so a raise never
    // mistakes a new subscription for an ended one.
    std::string eventClassText = text::toUtf8(subscription->m_eventClass);
    if (!config::set(std::string(RegistrationPrefix) + subscription->m_semaphoreName, eventClassText)) {
        subscription->m_cancelled = true;
        return HResult::Failed;
    }
    Subscription* raw = subscription.get();
    subscription->m_thread = std::thread([raw] { raw->run(); });
    journal::record("wmi.subscribe", { { "class", eventClassText }, { "sink", subscription->m_semaphoreName } });
    return subscription;
}

Subscription::~Subscription()
{
    cancel();
}

void Subscription::cancel()
{
    if (!m_cancelled.exchange(true)) {
        (void)config::erase(std::string(RegistrationPrefix) + m_semaphoreName);
        journal::record("wmi.cancel", { { "class", text::toUtf8(m_eventClass) }, { "sink", m_semaphoreName } });
        (void)sync::setEvent(m_cancelEvent);
    }
    if (!m_thread.joinable())
        return;
    if (m_thread.get_id() == std::this_thread::get_id()) {
        m_keepAlive = shared_from_this();
        m_thread.detach();
        return;
    }
    m_thread.join();
}

void Subscription::run()
{
    // NOTE: the cancel event comes first because a wait serves the lowest
    // index: events that arrive together with the cancellation are dropped.
    const sync::Handle* objects[] = { &m_cancelEvent, &m_semaphore };
    HResult ending = HResult::CallCancelled;
    while (!m_cancelled) {
        auto outcome = sync::waitAny(objects, sync::Infinite);
        if (!outcome || !outcome->signalled()) {
            ending = HResult::Failed;
            break;
        }
        if (outcome->index == 0 || m_cancelled)
            break;
        ClassObject event = provider::eventObject(m_eventClass);
        (void)m_sink->indicate(std::span<const ClassObject>(&event, 1));
    }
    // A subscription that cancelled itself from its own callback has heard its
    // last call already.
    std::shared_ptr<Subscription> keepAlive = std::move(m_keepAlive);
    if (!keepAlive && m_flags == NotificationFlags::SendStatus)
        (void)m_sink->setStatus(StatusFlags::Complete, ending, {}, nullptr);
}

size_t raise(std::u16string_view eventClass)
{
    size_t reached = 0;
    forEachLive(eventClass, [&](const sync::Handle& semaphore, const std::string&) {
        if (sync::releaseSemaphore(semaphore, 1))
            ++reached;
    });
    return reached;
}

std::vector<std::u16string> live()
{
    std::vector<std::u16string> classes;
    forEachLive(
        {}, [&](const sync::Handle&, const std::string& eventClass) { classes.push_back(text::toUtf16(eventClass)); });
    return classes;
}

} // namespace platform::wmi::events
