#pragma once

// The windows of the machine and the message queues of the threads that own
// them, inside the object manager. Like ObjectManager it knows nothing of
// sockets: it hands reply and push frames to the Deliver callback.

#include "platform/objects_protocol_p.h"
#include "platform/result.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace objectd {

using ConnectionId = uint64_t;

class WindowTable {
public:
    using Deliver = std::function<void(ConnectionId, const std::string& frame)>;
    explicit WindowTable(Deliver deliver)
        : m_deliver(std::move(deliver))
    { }

    // One request of the window operations, from a connection of process `pid`.
    void handle(ConnectionId connection, int32_t pid, platform::objects::wire::Operation operation,
        platform::objects::wire::Reader& reader);
    // A queue that closes takes its windows with it.
    void connectionClosed(ConnectionId connection);

private:
    struct Control {
        uint32_t id { 0 };
        std::string className;
        std::string text;
        int32_t x { 0 }, y { 0 }, width { 0 }, height { 0 };
        uint32_t visible { 1 };
        uint32_t enabled { 1 };
        uint32_t focused { 0 };
    };
    struct Window {
        uint32_t handle { 0 };
        std::string className;
        std::string title;
        int32_t pid { 0 };
        int32_t threadId { 0 };
        ConnectionId queue { 0 };
        uint32_t visible { 0 };
        int32_t x { 0 }, y { 0 }, width { 0 }, height { 0 };
        uint32_t sessionNotification { 0 };
        std::vector<Control> controls;
    };
    struct Queue {
        int32_t pid { 0 };
        int32_t threadId { 0 };
    };

    void reply(
        ConnectionId connection, platform::Error status, const platform::objects::wire::Writer* fields = nullptr);
    void push(const Window& window, platform::objects::wire::PushKind kind, uint32_t message, uint64_t wParam,
        uint64_t lParam);
    static void writeRecord(platform::objects::wire::Writer& out, const Window& window);
    static bool readControls(platform::objects::wire::Reader& reader, std::vector<Control>& controls);
    // The window, or nullptr after replying 1400 (or 5 when `pid` must own it).
    Window* ownWindow(ConnectionId connection, int32_t pid, uint32_t handle, bool mustOwn);
    void sessionChange(ConnectionId connection, platform::objects::wire::Reader& reader);

    Deliver m_deliver;
    std::map<uint32_t, Window> m_windows; // by handle, so oldest first
    std::map<ConnectionId, Queue> m_queues;
    uint32_t m_nextHandle { 0x00010010 };
};

} // namespace objectd
