#pragma once

// The state of the machine's object manager: processes and their handle
// tables, the named kernel objects, waits in progress, share reservations and
// byte-range locks. It knows nothing of sockets: the event loop in main.cpp
// feeds it requests and delivers the replies it produces.

#include "platform/objectd/window_table.h"
#include "platform/objects_protocol_p.h"
#include "platform/result.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace objectd {

using Clock = std::chrono::steady_clock;
using ConnectionId = uint64_t;

struct Object {
    platform::objects::wire::ObjectKind kind;
    std::string name; // empty for an unnamed object
    // Events.
    bool manualReset { false };
    bool signalled { false };
    // Mutexes: owned by one connection (a thread of a program).
    std::optional<ConnectionId> owner;
    uint32_t recursion { 0 };
    bool abandoned { false };
    // Semaphores.
    int32_t count { 0 };
    int32_t maximum { 0 };
};

class ObjectManager {
public:
    // Replies are handed to this callback with the connection they belong to.
    using Deliver = std::function<void(ConnectionId, const std::string& frame)>;
    explicit ObjectManager(Deliver deliver)
        : m_deliver(std::move(deliver))
        , m_windows(m_deliver)
    { }

    void connectionOpened(ConnectionId connection, int32_t pid);
    void connectionClosed(ConnectionId connection);
    // One request frame body. Malformed requests get error 87.
    void handle(ConnectionId connection, std::string_view body);

    // The nearest wait deadline, if any wait has one.
    std::optional<Clock::time_point> nextDeadline() const;
    // Ends the waits whose time-out has passed.
    void expireWaits(Clock::time_point now);

    size_t connectionCount() const { return m_connections.size(); }

private:
    struct Process {
        int32_t pid { 0 };
        uint32_t nextHandle { 4 };
        std::map<uint32_t, std::shared_ptr<Object>> handles;
        std::vector<uint64_t> shareTokens;
        size_t connections { 0 };
    };
    struct Wait {
        ConnectionId connection;
        std::vector<std::shared_ptr<Object>> objects;
        std::optional<Clock::time_point> deadline;
    };
    struct Reservation {
        uint64_t token;
        std::string identity;
        uint32_t access;
        uint32_t share;
        int32_t pid;
    };
    struct Lock {
        uint64_t token;
        uint64_t offset;
        uint64_t length;
    };

    void reply(
        ConnectionId connection, platform::Error status, const platform::objects::wire::Writer* fields = nullptr);
    std::shared_ptr<Object> lookup(ConnectionId connection, uint32_t handle);
    uint32_t addHandle(Process& process, std::shared_ptr<Object> object);
    void create(ConnectionId connection, std::unique_ptr<Object> object, bool initialOwner);
    void open(ConnectionId connection, platform::objects::wire::ObjectKind kind, const std::string& name);
    void closeHandle(Process& process, uint32_t handle);
    void forget(const std::shared_ptr<Object>& object);
    void startWait(ConnectionId connection, platform::objects::wire::Reader& reader);

    // Takes the object for the connection when it is signalled for it.
    std::optional<platform::objects::wire::WaitResult> tryTake(Object& object, ConnectionId connection);
    // Ends the wait if one of its objects is signalled; true when it ended.
    bool trySatisfy(Wait& wait);
    // Lets the waits in arrival order take what is signalled now.
    void wakeWaiters();
    void pulse(Object& object);
    void abandonMutexesOf(ConnectionId connection);

    void reserveShare(ConnectionId connection, platform::objects::wire::Reader& reader);
    void releaseShare(uint64_t token);
    void lockRange(ConnectionId connection, platform::objects::wire::Reader& reader, bool lock);

    Deliver m_deliver;
    WindowTable m_windows;
    std::map<ConnectionId, int32_t> m_connections; // connection -> pid
    std::map<int32_t, Process> m_processes;
    std::map<std::string, std::weak_ptr<Object>> m_names;
    std::list<Wait> m_waits; // in arrival order
    std::vector<Reservation> m_reservations;
    std::vector<Lock> m_locks;
    uint64_t m_nextToken { 1 };
};

} // namespace objectd
