#include "platform/sessions.h"

#include "platform/journal.h"
#include "platform/objects_client_p.h"
#include "platform/text.h"

#include <array>
#include <cstdio>

namespace platform::sessions {

namespace {

using objects::wire::Operation;
using objects::wire::Reader;
using objects::wire::Writer;

struct EventName {
    SessionEvent event;
    std::string_view command;
    std::string_view constant;
};

constexpr std::array<EventName, 8> EventNames { {
    { SessionEvent::ConsoleConnect, "console-connect", "WTS_CONSOLE_CONNECT" },
    { SessionEvent::ConsoleDisconnect, "console-disconnect", "WTS_CONSOLE_DISCONNECT" },
    { SessionEvent::RemoteConnect, "remote-connect", "WTS_REMOTE_CONNECT" },
    { SessionEvent::RemoteDisconnect, "remote-disconnect", "WTS_REMOTE_DISCONNECT" },
    { SessionEvent::Logon, "logon", "WTS_SESSION_LOGON" },
    { SessionEvent::Logoff, "logoff", "WTS_SESSION_LOGOFF" },
    { SessionEvent::Lock, "lock", "WTS_SESSION_LOCK" },
    { SessionEvent::Unlock, "unlock", "WTS_SESSION_UNLOCK" },
} };

Status setNotification(windows::WindowHandle window, uint32_t notification)
{
    if (!window.isValid() || window.value() > UINT32_MAX)
        return Error::InvalidWindowHandle;
    Writer message;
    message.u32(static_cast<uint32_t>(Operation::SetSessionNotification));
    message.u32(static_cast<uint32_t>(window.value()));
    message.u32(notification);
    auto reply = objects::request(message);
    if (!reply)
        return reply.error();
    return {};
}

std::string hex(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

} // namespace

Status registerNotification(windows::WindowHandle window, windows::SessionNotification scope)
{
    return setNotification(window, scope == windows::SessionNotification::AllSessions ? 2 : 1);
}

Status unregisterNotification(windows::WindowHandle window)
{
    return setNotification(window, 0);
}

Result<std::vector<Delivery>> changeSession(SessionEvent event)
{
    Writer message;
    message.u32(static_cast<uint32_t>(Operation::SessionChange));
    message.u32(static_cast<uint32_t>(event));
    message.u32(CurrentSessionId);
    TRY_RESULT(reply, objects::request(message));
    Reader reader(reply);
    uint32_t count = reader.u32();
    std::vector<Delivery> deliveries;
    for (uint32_t i = 0; i < count && reader.ok(); ++i) {
        Delivery delivery;
        delivery.window = windows::WindowHandle(reader.u32());
        delivery.message = reader.u32();
        delivery.wParam = static_cast<uintptr_t>(reader.u64());
        delivery.lParam = static_cast<intptr_t>(reader.u64());
        delivery.title = text::toUtf16(reader.text());
        delivery.pid = reader.i32();
        deliveries.push_back(std::move(delivery));
    }
    if (!reader.ok())
        return Error::InvalidData;
    for (const auto& delivery : deliveries) {
        journal::record("session.change",
            { { "event", std::string(commandName(event)) }, { "window", hex(delivery.window.value()) },
                { "title", text::toUtf8(delivery.title) }, { "pid", std::to_string(delivery.pid) },
                { "message", windows::messageName(delivery.message) }, { "wParam", hex(delivery.wParam) },
                { "lParam", hex(static_cast<uint64_t>(delivery.lParam) & 0xFFFFFFFFu) } });
    }
    return deliveries;
}

std::string_view commandName(SessionEvent event)
{
    for (const auto& name : EventNames) {
        if (name.event == event)
            return name.command;
    }
    return {};
}

std::optional<SessionEvent> eventFromCommand(std::string_view command)
{
    for (const auto& name : EventNames) {
        if (name.command == command)
            return name.event;
    }
    return std::nullopt;
}

std::string_view constantName(SessionEvent event)
{
    for (const auto& name : EventNames) {
        if (name.event == event)
            return name.constant;
    }
    return {};
}

} // namespace platform::sessions
