#include "platform/objectd/window_table.h"

#include "platform/text.h"

#include <cstring>

namespace objectd {

using platform::Error;
using namespace platform::objects::wire;

namespace {

constexpr uint32_t WmQueryEndSession = 0x0011;
constexpr uint32_t WmEndSession = 0x0016;
constexpr uint32_t WmWtsSessionChange = 0x02B1;
constexpr uint32_t WtsSessionLogoff = 6;
constexpr uint64_t EndSessionLogoff = 0x80000000u;
// Notification settings: off, this session, all sessions.
constexpr uint32_t LastNotification = 2;
constexpr uint32_t FirstSessionEvent = 1;
constexpr uint32_t LastSessionEvent = 8;

} // namespace

void WindowTable::reply(ConnectionId connection, Error status, const Writer* fields)
{
    Writer message;
    message.u32(platform::toCode(status));
    std::string frame = message.frame();
    if (fields) {
        frame += fields->frame().substr(4);
        uint32_t size = static_cast<uint32_t>(frame.size() - 4);
        std::memcpy(frame.data(), &size, 4);
    }
    m_deliver(connection, frame);
}

void WindowTable::push(const Window& window, PushKind kind, uint32_t message, uint64_t wParam, uint64_t lParam)
{
    Writer frame;
    frame.u32(static_cast<uint32_t>(kind));
    frame.u32(window.handle);
    frame.u32(message);
    frame.u64(wParam);
    frame.u64(lParam);
    m_deliver(window.queue, frame.frame());
}

void WindowTable::writeRecord(Writer& out, const Window& window)
{
    out.u32(window.handle);
    out.text(window.className);
    out.text(window.title);
    out.i32(window.pid);
    out.i32(window.threadId);
    out.u32(window.visible);
    out.i32(window.x);
    out.i32(window.y);
    out.i32(window.width);
    out.i32(window.height);
    out.u32(window.sessionNotification);
    out.u32(static_cast<uint32_t>(window.controls.size()));
    for (const auto& control : window.controls) {
        out.u32(control.id);
        out.text(control.className);
        out.text(control.text);
        out.i32(control.x);
        out.i32(control.y);
        out.i32(control.width);
        out.i32(control.height);
        out.u32(control.visible);
        out.u32(control.enabled);
        out.u32(control.focused);
    }
}

bool WindowTable::readControls(Reader& reader, std::vector<Control>& controls)
{
    uint32_t count = reader.u32();
    // Every control takes at least 48 bytes, so a count past the frame's
    // size is a lie: refuse it before reserving anything.
    if (!reader.ok() || count > MaxFrame / 48)
        return false;
    controls.clear();
    for (uint32_t i = 0; i < count && reader.ok(); ++i) {
        Control control;
        control.id = reader.u32();
        control.className = reader.text();
        control.text = reader.text();
        control.x = reader.i32();
        control.y = reader.i32();
        control.width = reader.i32();
        control.height = reader.i32();
        control.visible = reader.u32() != 0;
        control.enabled = reader.u32() != 0;
        control.focused = reader.u32() != 0;
        controls.push_back(std::move(control));
    }
    return reader.ok();
}

WindowTable::Window* WindowTable::ownWindow(ConnectionId connection, int32_t pid, uint32_t handle, bool mustOwn)
{
    auto found = m_windows.find(handle);
    if (found == m_windows.end()) {
        reply(connection, Error::InvalidWindowHandle);
        return nullptr;
    }
    if (mustOwn && found->second.pid != pid) {
        reply(connection, Error::AccessDenied);
        return nullptr;
    }
    return &found->second;
}

void WindowTable::connectionClosed(ConnectionId connection)
{
    if (m_queues.erase(connection) == 0)
        return;
    std::erase_if(m_windows, [&](const auto& entry) { return entry.second.queue == connection; });
}

void WindowTable::sessionChange(ConnectionId connection, Reader& reader)
{
    uint32_t event = reader.u32();
    uint32_t session = reader.u32();
    if (!reader.ok() || event < FirstSessionEvent || event > LastSessionEvent)
        return reply(connection, Error::InvalidParameter);

    struct Delivery {
        const Window* window;
        uint32_t message;
        uint64_t wParam;
        uint64_t lParam;
    };
    std::vector<Delivery> deliveries;
    for (const auto& [handle, window] : m_windows) {
        if (window.sessionNotification != 0)
            deliveries.push_back({ &window, WmWtsSessionChange, event, session });
    }
    if (event == WtsSessionLogoff) {
        // The session is ending: every top-level window is asked, then told.
        // NOTE: both are posted, so nobody waits for the answers to the query.
        for (const auto& [handle, window] : m_windows)
            deliveries.push_back({ &window, WmQueryEndSession, 0, EndSessionLogoff });
        for (const auto& [handle, window] : m_windows)
            deliveries.push_back({ &window, WmEndSession, 1, EndSessionLogoff });
    }

    Writer fields;
    fields.u32(static_cast<uint32_t>(deliveries.size()));
    for (const auto& delivery : deliveries) {
        push(*delivery.window, PushKind::Posted, delivery.message, delivery.wParam, delivery.lParam);
        fields.u32(delivery.window->handle);
        fields.u32(delivery.message);
        fields.u64(delivery.wParam);
        fields.u64(delivery.lParam);
        fields.text(delivery.window->title);
        fields.i32(delivery.window->pid);
    }
    reply(connection, Error::Success, &fields);
}

void WindowTable::handle(ConnectionId connection, int32_t pid, Operation operation, Reader& reader)
{
    switch (operation) {
    case Operation::AttachQueue: {
        int32_t threadId = reader.i32();
        if (!reader.ok())
            return reply(connection, Error::InvalidParameter);
        m_queues[connection] = Queue { pid, threadId };
        return reply(connection, Error::Success);
    }
    case Operation::CreateWindow: {
        Window window;
        window.className = reader.text();
        window.title = reader.text();
        window.threadId = reader.i32();
        window.visible = reader.u32() != 0;
        window.x = reader.i32();
        window.y = reader.i32();
        window.width = reader.i32();
        window.height = reader.i32();
        if (!reader.ok() || window.className.empty())
            return reply(connection, Error::InvalidParameter);
        window.pid = pid;
        for (const auto& [queue, owner] : m_queues) {
            if (owner.pid == pid && owner.threadId == window.threadId)
                window.queue = queue;
        }
        // The client attaches the thread's queue before its first window.
        if (window.queue == 0)
            return reply(connection, Error::InvalidParameter);
        window.handle = m_nextHandle;
        m_nextHandle += 2;
        Writer fields;
        fields.u32(window.handle);
        m_windows.emplace(window.handle, std::move(window));
        return reply(connection, Error::Success, &fields);
    }
    case Operation::DestroyWindow: {
        uint32_t handle = reader.u32();
        if (!reader.ok())
            return reply(connection, Error::InvalidParameter);
        if (!ownWindow(connection, pid, handle, true))
            return;
        m_windows.erase(handle);
        return reply(connection, Error::Success);
    }
    case Operation::UpdateWindow: {
        uint32_t handle = reader.u32();
        uint32_t visible = reader.u32() != 0;
        int32_t x = reader.i32(), y = reader.i32(), width = reader.i32(), height = reader.i32();
        if (!reader.ok())
            return reply(connection, Error::InvalidParameter);
        Window* window = ownWindow(connection, pid, handle, true);
        if (!window)
            return;
        window->visible = visible;
        window->x = x;
        window->y = y;
        window->width = width;
        window->height = height;
        return reply(connection, Error::Success);
    }
    case Operation::FindWindow: {
        bool hasClass = reader.u32() != 0;
        std::string className = reader.text();
        bool hasTitle = reader.u32() != 0;
        std::string title = reader.text();
        if (!reader.ok() || (!hasClass && !hasTitle))
            return reply(connection, Error::InvalidParameter);
        // The newest window is the one on top.
        for (auto it = m_windows.rbegin(); it != m_windows.rend(); ++it) {
            const Window& window = it->second;
            if (hasClass && !platform::text::equalsIgnoreCase(window.className, className))
                continue;
            if (hasTitle && !platform::text::equalsIgnoreCase(window.title, title))
                continue;
            Writer fields;
            fields.u32(window.handle);
            return reply(connection, Error::Success, &fields);
        }
        return reply(connection, Error::FileNotFound);
    }
    case Operation::WindowInfo: {
        uint32_t handle = reader.u32();
        if (!reader.ok())
            return reply(connection, Error::InvalidParameter);
        const Window* window = ownWindow(connection, pid, handle, false);
        if (!window)
            return;
        Writer fields;
        writeRecord(fields, *window);
        return reply(connection, Error::Success, &fields);
    }
    case Operation::ListWindows: {
        // FIXME: a machine with so many windows and controls that the list
        // passes the 64 KiB frame limit breaks the caller's connection.
        Writer fields;
        fields.u32(static_cast<uint32_t>(m_windows.size()));
        for (const auto& [handle, window] : m_windows)
            writeRecord(fields, window);
        return reply(connection, Error::Success, &fields);
    }
    case Operation::PostMessage:
    case Operation::WakeQueue: {
        uint32_t handle = reader.u32();
        uint32_t message = operation == Operation::PostMessage ? reader.u32() : 0;
        uint64_t wParam = operation == Operation::PostMessage ? reader.u64() : 0;
        uint64_t lParam = operation == Operation::PostMessage ? reader.u64() : 0;
        if (!reader.ok())
            return reply(connection, Error::InvalidParameter);
        const Window* window = ownWindow(connection, pid, handle, false);
        if (!window)
            return;
        push(*window, operation == Operation::PostMessage ? PushKind::Posted : PushKind::Wake, message, wParam, lParam);
        return reply(connection, Error::Success);
    }
    case Operation::SetSessionNotification: {
        uint32_t handle = reader.u32();
        uint32_t notification = reader.u32();
        if (!reader.ok() || notification > LastNotification)
            return reply(connection, Error::InvalidParameter);
        Window* window = ownWindow(connection, pid, handle, false);
        if (!window)
            return;
        window->sessionNotification = notification;
        return reply(connection, Error::Success);
    }
    case Operation::SessionChange:
        return sessionChange(connection, reader);
    case Operation::PublishControls: {
        uint32_t handle = reader.u32();
        std::vector<Control> controls;
        if (!reader.ok() || !readControls(reader, controls))
            return reply(connection, Error::InvalidParameter);
        Window* window = ownWindow(connection, pid, handle, true);
        if (!window)
            return;
        window->controls = std::move(controls);
        return reply(connection, Error::Success);
    }
    default:
        break;
    }
    reply(connection, Error::InvalidFunction);
}

} // namespace objectd
