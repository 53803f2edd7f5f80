#include "platform/sync.h"

#include "platform/objects_client_p.h"
#include "platform/text.h"

#include <thread>

namespace platform::sync {

using objects::wire::Operation;
using objects::wire::Reader;
using objects::wire::Writer;

namespace {

Writer start(Operation operation)
{
    Writer message;
    message.u32(static_cast<uint32_t>(operation));
    return message;
}

Result<Created> created(Result<std::string> reply)
{
    if (!reply)
        return reply.error();
    Reader reader(reply.value());
    uint32_t handle = reader.u32();
    uint32_t wasCreated = reader.u32();
    if (!reader.ok() || handle == 0)
        return Error::InvalidData;
    return Created { Handle(handle), wasCreated ? Disposition::Created : Disposition::OpenedExisting };
}

Result<Handle> opened(objects::wire::ObjectKind kind, std::u16string_view name)
{
    if (name.empty())
        return Error::InvalidParameter;
    Writer message = start(Operation::Open);
    message.u32(static_cast<uint32_t>(kind));
    message.text(text::toUtf8(name));
    TRY_RESULT(reply, objects::request(message));
    Reader reader(reply);
    uint32_t handle = reader.u32();
    if (!reader.ok() || handle == 0)
        return Error::InvalidData;
    return Handle(handle);
}

Status simple(Operation operation, const Handle& handle)
{
    if (!handle.isValid())
        return Error::InvalidHandle;
    Writer message = start(operation);
    message.u32(handle.value());
    auto reply = objects::request(message);
    if (!reply)
        return reply.error();
    return {};
}

} // namespace

Handle& Handle::operator=(Handle&& other) noexcept
{
    if (this != &other) {
        close();
        m_value = other.release();
    }
    return *this;
}

void Handle::close()
{
    if (m_value == 0)
        return;
    Writer message = start(Operation::Close);
    message.u32(m_value);
    m_value = 0;
    (void)objects::requestIfConnected(message);
}

Result<Created> createEvent(std::u16string_view name, ResetMode reset, InitialState initial)
{
    Writer message = start(Operation::CreateEvent);
    message.text(text::toUtf8(name));
    message.u32(reset == ResetMode::Manual ? 1 : 0);
    message.u32(initial == InitialState::Signalled ? 1 : 0);
    return created(objects::request(message));
}

Result<Handle> openEvent(std::u16string_view name)
{
    return opened(objects::wire::ObjectKind::Event, name);
}
Status setEvent(const Handle& event)
{
    return simple(Operation::SetEvent, event);
}
Status resetEvent(const Handle& event)
{
    return simple(Operation::ResetEvent, event);
}
Status pulseEvent(const Handle& event)
{
    return simple(Operation::PulseEvent, event);
}

Result<Created> createMutex(std::u16string_view name, InitialOwner owner)
{
    Writer message = start(Operation::CreateMutex);
    message.text(text::toUtf8(name));
    message.u32(owner == InitialOwner::Yes ? 1 : 0);
    return created(objects::request(message));
}

Result<Handle> openMutex(std::u16string_view name)
{
    return opened(objects::wire::ObjectKind::Mutex, name);
}
Status releaseMutex(const Handle& mutex)
{
    return simple(Operation::ReleaseMutex, mutex);
}

Result<Created> createSemaphore(std::u16string_view name, int32_t initial, int32_t maximum)
{
    if (maximum <= 0 || initial < 0 || initial > maximum)
        return Error::InvalidParameter;
    Writer message = start(Operation::CreateSemaphore);
    message.text(text::toUtf8(name));
    message.i32(initial);
    message.i32(maximum);
    return created(objects::request(message));
}

Result<Handle> openSemaphore(std::u16string_view name)
{
    return opened(objects::wire::ObjectKind::Semaphore, name);
}

Result<int32_t> releaseSemaphore(const Handle& semaphore, int32_t count)
{
    if (!semaphore.isValid())
        return Error::InvalidHandle;
    if (count <= 0)
        return Error::InvalidParameter;
    Writer message = start(Operation::ReleaseSemaphore);
    message.u32(semaphore.value());
    message.i32(count);
    TRY_RESULT(reply, objects::request(message));
    Reader reader(reply);
    int32_t previous = reader.i32();
    if (!reader.ok())
        return Error::InvalidData;
    return previous;
}

Result<WaitOutcome> waitAny(std::span<const Handle* const> objectsToWait, std::chrono::milliseconds timeout)
{
    if (objectsToWait.empty() || objectsToWait.size() > objects::wire::MaxWaitObjects)
        return Error::InvalidParameter;
    Writer message = start(Operation::Wait);
    uint32_t milliseconds = timeout.count() < 0 ? 0
        : timeout >= Infinite                   ? objects::wire::InfiniteTimeout
                                                : static_cast<uint32_t>(timeout.count());
    message.u32(milliseconds);
    message.u32(static_cast<uint32_t>(objectsToWait.size()));
    for (const Handle* handle : objectsToWait) {
        if (!handle || !handle->isValid())
            return Error::InvalidHandle;
        message.u32(handle->value());
    }
    TRY_RESULT(reply, objects::request(message));
    Reader reader(reply);
    auto result = static_cast<objects::wire::WaitResult>(reader.u32());
    uint32_t index = reader.u32();
    if (!reader.ok())
        return Error::InvalidData;
    switch (result) {
    case objects::wire::WaitResult::Signalled:
        return WaitOutcome { WaitOutcome::Kind::Signalled, index };
    case objects::wire::WaitResult::Abandoned:
        return WaitOutcome { WaitOutcome::Kind::Abandoned, index };
    case objects::wire::WaitResult::TimedOut:
        return WaitOutcome { WaitOutcome::Kind::TimedOut, 0 };
    }
    return Error::InvalidData;
}

Result<WaitOutcome> waitOne(const Handle& object, std::chrono::milliseconds timeout)
{
    const Handle* list[] = { &object };
    return waitAny(list, timeout);
}

Result<uint32_t> countWaiters(const Handle& object)
{
    if (!object.isValid())
        return Error::InvalidHandle;
    Writer message = start(Operation::CountWaiters);
    message.u32(object.value());
    TRY_RESULT(reply, objects::request(message));
    Reader reader(reply);
    uint32_t waiting = reader.u32();
    if (!reader.ok())
        return Error::InvalidData;
    return waiting;
}

void sleep(std::chrono::milliseconds duration)
{
    std::this_thread::sleep_for(duration);
}

} // namespace platform::sync
