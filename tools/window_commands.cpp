#include "tools/machine_commands.h"

#include "platform/sessions.h"
#include "platform/text.h"
#include "platform/windows.h"

#include <cstdio>

namespace tools {

namespace {

using namespace platform::windows;

std::string hex(uint64_t value, int digits)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

std::string_view notificationName(SessionNotification notification)
{
    switch (notification) {
    case SessionNotification::Off:
        return "off";
    case SessionNotification::ThisSession:
        return "this";
    case SessionNotification::AllSessions:
        return "all";
    }
    return "off";
}

// One line per window, oldest first, as key=value pairs so that titles with
// blanks stay readable and scripts can pick fields.
int listCommand(const Console& console, std::span<const std::string> args)
{
    if (!args.empty())
        return fail(console, ExitUsage, "window list: takes no arguments");
    auto windows = listWindows();
    if (!windows)
        return fail(console, ExitFailed, "window list: cannot list the windows: " + explain(windows.error()));
    for (const auto& window : *windows) {
        const auto& rect = window.rect;
        console.out << hex(window.handle.value(), 8) << " title=\"" << platform::text::toUtf8(window.title)
                    << "\" class=\"" << platform::text::toUtf8(window.className) << "\" pid=" << window.pid
                    << " thread=" << window.threadId << ' '
                    << (window.visibility == Visibility::Shown ? "visible" : "hidden") << " rect=" << rect.x << ','
                    << rect.y << ',' << rect.width << 'x' << rect.height
                    << " session=" << notificationName(window.sessionNotification)
                    << " controls=" << window.controls.size() << '\n';
    }
    return ExitSuccess;
}

// A wParam or lParam: decimal or 0x hex, and for convenience a negative
// decimal (an lParam of -1).
std::optional<uint64_t> parseParameter(std::string_view text)
{
    if (text.size() > 1 && text.front() == '-') {
        auto magnitude = parseQword(text.substr(1));
        if (!magnitude || *magnitude > static_cast<uint64_t>(INT64_MAX))
            return std::nullopt;
        return static_cast<uint64_t>(-static_cast<int64_t>(*magnitude));
    }
    return parseQword(text);
}

int postCommand(const Console& console, std::span<const std::string> args)
{
    if (args.size() != 4)
        return fail(console, ExitUsage,
            "window post: expected TITLE MESSAGE WPARAM LPARAM, e.g. \"Calvex Mode Change\" "
            "WM_CLOSE 0 0");
    auto message = messageNumber(args[1]);
    if (!message)
        return fail(console, ExitUsage,
            "window post: '" + args[1]
                + "' is no message; use a number or a name such as WM_CLOSE, WM_COMMAND, WM_USER+1");
    auto wParam = parseParameter(args[2]);
    auto lParam = parseParameter(args[3]);
    if (!wParam || !lParam)
        return fail(
            console, ExitUsage, "window post: '" + (wParam ? args[3] : args[2]) + "' is no number (decimal or 0x hex)");
    auto window = findWindow(std::nullopt, platform::text::toUtf16(args[0]));
    if (!window) {
        if (window.error() == platform::Error::FileNotFound)
            return fail(console, ExitFailed, "window post: no window titled \"" + args[0] + "\"");
        return fail(console, ExitFailed, "window post: cannot look for the window: " + explain(window.error()));
    }
    auto posted = postMessage(
        *window, *message, static_cast<uintptr_t>(*wParam), static_cast<intptr_t>(static_cast<int64_t>(*lParam)));
    if (!posted)
        return fail(console, ExitFailed,
            "window post: cannot post to " + hex(window->value(), 8) + ": " + explain(posted.error()));
    console.out << "Posted " << messageName(*message) << " (" << hex(*message, 4) << ") to " << hex(window->value(), 8)
                << " \"" << args[0] << "\"\n";
    return ExitSuccess;
}

} // namespace

int runWindowCommand(const Console& console, std::span<const std::string> args)
{
    if (!args.empty() && args[0] == "list")
        return listCommand(console, args.subspan(1));
    if (!args.empty() && args[0] == "post")
        return postCommand(console, args.subspan(1));
    return fail(console, ExitUsage, "window: expected 'list' or 'post TITLE MESSAGE WPARAM LPARAM'");
}

int runSessionCommand(const Console& console, std::span<const std::string> args)
{
    using namespace platform::sessions;
    auto event = args.size() == 1 ? eventFromCommand(args[0]) : std::nullopt;
    if (!event)
        return fail(console, ExitUsage,
            "session: expected one of lock, unlock, console-connect, console-disconnect, remote-connect, "
            "remote-disconnect, logon, logoff");
    auto deliveries = changeSession(*event);
    if (!deliveries)
        return fail(
            console, ExitFailed, "session " + args[0] + ": cannot notify the windows: " + explain(deliveries.error()));
    console.out << "Session " << args[0] << " (" << constantName(*event) << "): " << deliveries->size()
                << (deliveries->size() == 1 ? " message" : " messages") << " posted\n";
    for (const auto& delivery : *deliveries) {
        console.out << "  " << messageName(delivery.message) << " wParam=" << delivery.wParam << " to "
                    << hex(delivery.window.value(), 8) << " \"" << platform::text::toUtf8(delivery.title) << "\" (pid "
                    << delivery.pid << ")\n";
    }
    return ExitSuccess;
}

} // namespace tools
