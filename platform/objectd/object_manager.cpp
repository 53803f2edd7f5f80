#include "platform/objectd/object_manager.h"

#include <algorithm>

namespace objectd {

using platform::Error;
using namespace platform::objects::wire;

namespace {

// The platform's access bits that count for sharing: data read, data write
// (or append) and delete. An open asking none of them shares with anything.
constexpr uint32_t GenericRead = 0x80000000u;
constexpr uint32_t GenericWrite = 0x40000000u;
constexpr uint32_t GenericAll = 0x10000000u;
constexpr uint32_t ReadData = 0x0001;
constexpr uint32_t WriteData = 0x0002;
constexpr uint32_t AppendData = 0x0004;
constexpr uint32_t DeleteAccess = 0x00010000u;

constexpr uint32_t ShareRead = 1;
constexpr uint32_t ShareWrite = 2;
constexpr uint32_t ShareDelete = 4;

struct Wants {
    bool read;
    bool write;
    bool del;
    bool any() const { return read || write || del; }
};

Wants wants(uint32_t access)
{
    return { (access & (GenericRead | GenericAll | ReadData)) != 0,
        (access & (GenericWrite | GenericAll | WriteData | AppendData)) != 0,
        (access & (GenericAll | DeleteAccess)) != 0 };
}

// Two opens of one file can coexist when each shares what the other does.
bool compatible(uint32_t accessA, uint32_t shareA, uint32_t accessB, uint32_t shareB)
{
    Wants a = wants(accessA), b = wants(accessB);
    if (!a.any() || !b.any())
        return true;
    auto allows = [](Wants w, uint32_t share) {
        return (!w.read || (share & ShareRead)) && (!w.write || (share & ShareWrite))
            && (!w.del || (share & ShareDelete));
    };
    return allows(a, shareB) && allows(b, shareA);
}

bool overlaps(uint64_t offsetA, uint64_t lengthA, uint64_t offsetB, uint64_t lengthB)
{
    if (lengthA == 0 || lengthB == 0)
        return false;
    uint64_t endA = offsetA + lengthA < offsetA ? UINT64_MAX : offsetA + lengthA;
    uint64_t endB = offsetB + lengthB < offsetB ? UINT64_MAX : offsetB + lengthB;
    return offsetA < endB && offsetB < endA;
}

} // namespace

void ObjectManager::connectionOpened(ConnectionId connection, int32_t pid)
{
    m_connections[connection] = pid;
    Process& process = m_processes[pid];
    process.pid = pid;
    ++process.connections;
}

void ObjectManager::connectionClosed(ConnectionId connection)
{
    auto found = m_connections.find(connection);
    if (found == m_connections.end())
        return;
    int32_t pid = found->second;
    m_connections.erase(found);
    m_waits.remove_if([&](const Wait& wait) { return wait.connection == connection; });
    abandonMutexesOf(connection);
    m_windows.connectionClosed(connection);

    Process& process = m_processes[pid];
    if (--process.connections == 0) {
        // The program is gone: everything it held goes with it.
        std::vector<uint32_t> handles;
        for (const auto& entry : process.handles)
            handles.push_back(entry.first);
        for (uint32_t handle : handles)
            closeHandle(process, handle);
        for (uint64_t token : std::vector<uint64_t>(process.shareTokens))
            releaseShare(token);
        m_processes.erase(pid);
    }
    wakeWaiters();
}

void ObjectManager::reply(ConnectionId connection, Error status, const Writer* fields)
{
    Writer message;
    message.u32(platform::toCode(status));
    std::string frame = message.frame();
    if (fields) {
        // Append the fields' bytes after the status and fix the length.
        std::string extra = fields->frame().substr(4);
        frame += extra;
        uint32_t size = static_cast<uint32_t>(frame.size() - 4);
        std::memcpy(frame.data(), &size, 4);
    }
    m_deliver(connection, frame);
}

std::shared_ptr<Object> ObjectManager::lookup(ConnectionId connection, uint32_t handle)
{
    auto process = m_processes.find(m_connections[connection]);
    if (process == m_processes.end())
        return nullptr;
    auto found = process->second.handles.find(handle);
    return found == process->second.handles.end() ? nullptr : found->second;
}

uint32_t ObjectManager::addHandle(Process& process, std::shared_ptr<Object> object)
{
    uint32_t handle = process.nextHandle;
    process.nextHandle += 4;
    process.handles.emplace(handle, std::move(object));
    return handle;
}

void ObjectManager::forget(const std::shared_ptr<Object>& object)
{
    if (!object->name.empty() && object.use_count() <= 1) {
        auto found = m_names.find(object->name);
        if (found != m_names.end() && found->second.lock() == object)
            m_names.erase(found);
    }
}

void ObjectManager::closeHandle(Process& process, uint32_t handle)
{
    auto found = process.handles.find(handle);
    if (found == process.handles.end())
        return;
    std::shared_ptr<Object> object = std::move(found->second);
    process.handles.erase(found);
    forget(object);
}

void ObjectManager::create(ConnectionId connection, std::unique_ptr<Object> fresh, bool initialOwner)
{
    Process& process = m_processes[m_connections[connection]];
    std::shared_ptr<Object> object;
    bool created = true;
    if (!fresh->name.empty()) {
        auto found = m_names.find(fresh->name);
        if (found != m_names.end()) {
            if (auto existing = found->second.lock()) {
                if (existing->kind != fresh->kind)
                    return reply(connection, Error::InvalidHandle);
                object = existing;
                created = false;
            }
        }
    }
    if (!object) {
        object = std::shared_ptr<Object>(fresh.release());
        if (initialOwner) {
            object->owner = connection;
            object->recursion = 1;
        }
        if (!object->name.empty())
            m_names[object->name] = object;
    }
    Writer fields;
    fields.u32(addHandle(process, object));
    fields.u32(created ? 1 : 0);
    reply(connection, Error::Success, &fields);
}

void ObjectManager::open(ConnectionId connection, ObjectKind kind, const std::string& name)
{
    auto found = m_names.find(name);
    std::shared_ptr<Object> object = found == m_names.end() ? nullptr : found->second.lock();
    if (!object)
        return reply(connection, Error::FileNotFound);
    if (object->kind != kind)
        return reply(connection, Error::InvalidHandle);
    Writer fields;
    fields.u32(addHandle(m_processes[m_connections[connection]], object));
    reply(connection, Error::Success, &fields);
}

std::optional<WaitResult> ObjectManager::tryTake(Object& object, ConnectionId connection)
{
    switch (object.kind) {
    case ObjectKind::Event:
        if (!object.signalled)
            return std::nullopt;
        if (!object.manualReset)
            object.signalled = false;
        return WaitResult::Signalled;
    case ObjectKind::Mutex:
        if (object.owner && *object.owner != connection)
            return std::nullopt;
        object.owner = connection;
        ++object.recursion;
        if (object.abandoned) {
            object.abandoned = false;
            return WaitResult::Abandoned;
        }
        return WaitResult::Signalled;
    case ObjectKind::Semaphore:
        if (object.count <= 0)
            return std::nullopt;
        --object.count;
        return WaitResult::Signalled;
    }
    return std::nullopt;
}

bool ObjectManager::trySatisfy(Wait& wait)
{
    for (size_t index = 0; index < wait.objects.size(); ++index) {
        if (auto taken = tryTake(*wait.objects[index], wait.connection)) {
            Writer fields;
            fields.u32(static_cast<uint32_t>(*taken));
            fields.u32(static_cast<uint32_t>(index));
            reply(wait.connection, Error::Success, &fields);
            return true;
        }
    }
    return false;
}

void ObjectManager::wakeWaiters()
{
    for (auto it = m_waits.begin(); it != m_waits.end();) {
        if (trySatisfy(*it))
            it = m_waits.erase(it);
        else
            ++it;
    }
}

void ObjectManager::pulse(Object& object)
{
    // Signal for the waiters present at this moment only, then reset: an
    // auto-reset event releases the first waiter that takes it, a
    // manual-reset one every waiter on it.
    object.signalled = true;
    for (auto it = m_waits.begin(); it != m_waits.end() && object.signalled;) {
        bool waitsOnIt = std::any_of(
            it->objects.begin(), it->objects.end(), [&](const auto& candidate) { return candidate.get() == &object; });
        if (waitsOnIt && trySatisfy(*it))
            it = m_waits.erase(it);
        else
            ++it;
    }
    object.signalled = false;
}

void ObjectManager::abandonMutexesOf(ConnectionId connection)
{
    for (auto& [pid, process] : m_processes) {
        for (auto& [handle, object] : process.handles) {
            if (object->kind == ObjectKind::Mutex && object->owner == connection) {
                object->owner.reset();
                object->recursion = 0;
                object->abandoned = true;
            }
        }
    }
}

void ObjectManager::startWait(ConnectionId connection, Reader& reader)
{
    uint32_t timeout = reader.u32();
    uint32_t count = reader.u32();
    if (!reader.ok() || count == 0 || count > MaxWaitObjects)
        return reply(connection, Error::InvalidParameter);
    Wait wait { connection, {}, std::nullopt };
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t handle = reader.u32();
        auto object = reader.ok() ? lookup(connection, handle) : nullptr;
        if (!object)
            return reply(connection, reader.ok() ? Error::InvalidHandle : Error::InvalidParameter);
        wait.objects.push_back(std::move(object));
    }
    if (trySatisfy(wait))
        return;
    if (timeout == 0) {
        Writer fields;
        fields.u32(static_cast<uint32_t>(WaitResult::TimedOut));
        fields.u32(0);
        return reply(connection, Error::Success, &fields);
    }
    if (timeout != InfiniteTimeout)
        wait.deadline = Clock::now() + std::chrono::milliseconds(timeout);
    m_waits.push_back(std::move(wait));
}

std::optional<Clock::time_point> ObjectManager::nextDeadline() const
{
    std::optional<Clock::time_point> nearest;
    for (const auto& wait : m_waits) {
        if (wait.deadline && (!nearest || *wait.deadline < *nearest))
            nearest = wait.deadline;
    }
    return nearest;
}

void ObjectManager::expireWaits(Clock::time_point now)
{
    for (auto it = m_waits.begin(); it != m_waits.end();) {
        if (it->deadline && *it->deadline <= now) {
            Writer fields;
            fields.u32(static_cast<uint32_t>(WaitResult::TimedOut));
            fields.u32(0);
            reply(it->connection, Error::Success, &fields);
            it = m_waits.erase(it);
        } else {
            ++it;
        }
    }
}

void ObjectManager::reserveShare(ConnectionId connection, Reader& reader)
{
    std::string identity = reader.text();
    uint32_t access = reader.u32();
    uint32_t share = reader.u32();
    if (!reader.ok() || identity.empty())
        return reply(connection, Error::InvalidParameter);
    for (const auto& existing : m_reservations) {
        if (existing.identity == identity && !compatible(existing.access, existing.share, access, share))
            return reply(connection, Error::SharingViolation);
    }
    int32_t pid = m_connections[connection];
    uint64_t token = m_nextToken++;
    m_reservations.push_back({ token, identity, access, share, pid });
    m_processes[pid].shareTokens.push_back(token);
    Writer fields;
    fields.u64(token);
    reply(connection, Error::Success, &fields);
}

void ObjectManager::releaseShare(uint64_t token)
{
    auto found = std::find_if(m_reservations.begin(), m_reservations.end(),
        [&](const Reservation& reservation) { return reservation.token == token; });
    if (found == m_reservations.end())
        return;
    auto process = m_processes.find(found->pid);
    if (process != m_processes.end())
        std::erase(process->second.shareTokens, token);
    m_reservations.erase(found);
    std::erase_if(m_locks, [&](const Lock& lock) { return lock.token == token; });
}

void ObjectManager::lockRange(ConnectionId connection, Reader& reader, bool lock)
{
    uint64_t token = reader.u64();
    uint64_t offset = reader.u64();
    uint64_t length = reader.u64();
    int32_t pid = m_connections[connection];
    auto reservation = std::find_if(m_reservations.begin(), m_reservations.end(),
        [&](const Reservation& r) { return r.token == token && r.pid == pid; });
    if (!reader.ok() || reservation == m_reservations.end())
        return reply(connection, Error::InvalidHandle);
    if (!lock) {
        auto held = std::find_if(m_locks.begin(), m_locks.end(),
            [&](const Lock& l) { return l.token == token && l.offset == offset && l.length == length; });
        if (held == m_locks.end())
            return reply(connection, Error::NotLocked);
        m_locks.erase(held);
        return reply(connection, Error::Success);
    }
    for (const auto& held : m_locks) {
        auto owner = std::find_if(
            m_reservations.begin(), m_reservations.end(), [&](const Reservation& r) { return r.token == held.token; });
        if (owner != m_reservations.end() && owner->identity == reservation->identity
            && overlaps(held.offset, held.length, offset, length))
            return reply(connection, Error::LockViolation);
    }
    m_locks.push_back({ token, offset, length });
    reply(connection, Error::Success);
}

void ObjectManager::handle(ConnectionId connection, std::string_view body)
{
    Reader reader(body);
    auto operation = static_cast<Operation>(reader.u32());
    if (!reader.ok())
        return reply(connection, Error::InvalidParameter);
    Process& process = m_processes[m_connections[connection]];

    switch (operation) {
    case Operation::Hello: {
        uint32_t version = reader.u32();
        return reply(connection, reader.ok() && version == Version ? Error::Success : Error::NotSupported);
    }
    case Operation::CreateEvent: {
        auto object = std::make_unique<Object>();
        object->kind = ObjectKind::Event;
        object->name = reader.text();
        object->manualReset = reader.u32() != 0;
        object->signalled = reader.u32() != 0;
        if (!reader.ok())
            return reply(connection, Error::InvalidParameter);
        create(connection, std::move(object), false);
        return wakeWaiters();
    }
    case Operation::CreateMutex: {
        auto object = std::make_unique<Object>();
        object->kind = ObjectKind::Mutex;
        object->name = reader.text();
        bool initialOwner = reader.u32() != 0;
        if (!reader.ok())
            return reply(connection, Error::InvalidParameter);
        return create(connection, std::move(object), initialOwner);
    }
    case Operation::CreateSemaphore: {
        auto object = std::make_unique<Object>();
        object->kind = ObjectKind::Semaphore;
        object->name = reader.text();
        object->count = reader.i32();
        object->maximum = reader.i32();
        if (!reader.ok() || object->maximum <= 0 || object->count < 0 || object->count > object->maximum)
            return reply(connection, Error::InvalidParameter);
        create(connection, std::move(object), false);
        return wakeWaiters();
    }
    case Operation::Open: {
        auto kind = static_cast<ObjectKind>(reader.u32());
        std::string name = reader.text();
        if (!reader.ok() || name.empty())
            return reply(connection, Error::InvalidParameter);
        return open(connection, kind, name);
    }
    case Operation::Close: {
        uint32_t handle = reader.u32();
        if (!reader.ok() || !process.handles.contains(handle))
            return reply(connection, Error::InvalidHandle);
        closeHandle(process, handle);
        return reply(connection, Error::Success);
    }
    case Operation::SetEvent:
    case Operation::ResetEvent:
    case Operation::PulseEvent: {
        auto object = lookup(connection, reader.u32());
        if (!reader.ok() || !object || object->kind != ObjectKind::Event)
            return reply(connection, Error::InvalidHandle);
        if (operation == Operation::SetEvent) {
            object->signalled = true;
            wakeWaiters();
        } else if (operation == Operation::ResetEvent) {
            object->signalled = false;
        } else {
            pulse(*object);
        }
        return reply(connection, Error::Success);
    }
    case Operation::ReleaseMutex: {
        auto object = lookup(connection, reader.u32());
        if (!reader.ok() || !object || object->kind != ObjectKind::Mutex)
            return reply(connection, Error::InvalidHandle);
        if (object->owner != connection)
            return reply(connection, Error::NotOwner);
        if (--object->recursion == 0) {
            object->owner.reset();
            wakeWaiters();
        }
        return reply(connection, Error::Success);
    }
    case Operation::ReleaseSemaphore: {
        auto object = lookup(connection, reader.u32());
        int32_t count = reader.i32();
        if (!reader.ok() || !object || object->kind != ObjectKind::Semaphore)
            return reply(connection, Error::InvalidHandle);
        if (count <= 0)
            return reply(connection, Error::InvalidParameter);
        if (count > object->maximum - object->count)
            return reply(connection, Error::TooManyPosts);
        int32_t previous = object->count;
        object->count += count;
        wakeWaiters();
        Writer fields;
        fields.i32(previous);
        return reply(connection, Error::Success, &fields);
    }
    case Operation::Wait:
        return startWait(connection, reader);
    case Operation::CountWaiters: {
        auto object = lookup(connection, reader.u32());
        if (!reader.ok() || !object)
            return reply(connection, Error::InvalidHandle);
        uint32_t waiting = 0;
        for (const auto& wait : m_waits) {
            if (std::any_of(wait.objects.begin(), wait.objects.end(), [&](const auto& o) { return o == object; }))
                ++waiting;
        }
        Writer fields;
        fields.u32(waiting);
        return reply(connection, Error::Success, &fields);
    }
    case Operation::ReserveShare:
        return reserveShare(connection, reader);
    case Operation::ReleaseShare: {
        uint64_t token = reader.u64();
        if (!reader.ok())
            return reply(connection, Error::InvalidParameter);
        bool ours
            = std::find(process.shareTokens.begin(), process.shareTokens.end(), token) != process.shareTokens.end();
        if (!ours)
            return reply(connection, Error::InvalidHandle);
        releaseShare(token);
        return reply(connection, Error::Success);
    }
    case Operation::CheckDelete: {
        std::string identity = reader.text();
        if (!reader.ok())
            return reply(connection, Error::InvalidParameter);
        for (const auto& existing : m_reservations) {
            if (existing.identity == identity && !compatible(existing.access, existing.share, DeleteAccess, 7))
                return reply(connection, Error::SharingViolation);
        }
        return reply(connection, Error::Success);
    }
    case Operation::LockRange:
        return lockRange(connection, reader, true);
    case Operation::UnlockRange:
        return lockRange(connection, reader, false);
    case Operation::AttachQueue:
    case Operation::CreateWindow:
    case Operation::DestroyWindow:
    case Operation::UpdateWindow:
    case Operation::FindWindow:
    case Operation::WindowInfo:
    case Operation::ListWindows:
    case Operation::PostMessage:
    case Operation::WakeQueue:
    case Operation::SetSessionNotification:
    case Operation::SessionChange:
    case Operation::PublishControls:
        return m_windows.handle(connection, process.pid, operation, reader);
    }
    reply(connection, Error::InvalidFunction);
}

} // namespace objectd
