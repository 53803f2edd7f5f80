// Window classes, windows and messages between windows; the queues that carry
// the messages are in message_queue.cpp, the machine-wide records in the
// object manager (objectd/window_table.cpp).

#include "platform/objects_client_p.h"
#include "platform/text.h"
#include "platform/windows_p.h"

#include <array>
#include <charconv>
#include <map>

namespace platform::windows {

namespace {

using objects::wire::Operation;
using objects::wire::Reader;
using objects::wire::Writer;

struct ProcessTables {
    std::mutex mutex;
    std::map<std::u16string, WindowProcedure> classes; // by folded name
    std::map<uintptr_t, detail::LocalWindow> windows;
};

// Leaked on purpose: threads that end during the process's exit still clean
// up their windows here.
ProcessTables& tables()
{
    static auto* instance = new ProcessTables;
    return *instance;
}

Writer requestOf(Operation operation)
{
    Writer message;
    message.u32(static_cast<uint32_t>(operation));
    return message;
}

Status statusOf(const Result<std::string>& reply)
{
    if (!reply)
        return reply.error();
    return {};
}

Rect readRect(Reader& reader)
{
    Rect rect;
    rect.x = reader.i32();
    rect.y = reader.i32();
    rect.width = reader.i32();
    rect.height = reader.i32();
    return rect;
}

void writeRect(Writer& writer, const Rect& rect)
{
    writer.i32(rect.x);
    writer.i32(rect.y);
    writer.i32(rect.width);
    writer.i32(rect.height);
}

Visibility visibilityOf(uint32_t value)
{
    return value ? Visibility::Shown : Visibility::Hidden;
}

WindowInfo readRecord(Reader& reader)
{
    WindowInfo info;
    info.handle = WindowHandle(reader.u32());
    info.className = text::toUtf16(reader.text());
    info.title = text::toUtf16(reader.text());
    info.pid = reader.i32();
    info.threadId = reader.i32();
    info.visibility = visibilityOf(reader.u32());
    info.rect = readRect(reader);
    uint32_t notification = reader.u32();
    info.sessionNotification = notification == 2 ? SessionNotification::AllSessions
        : notification == 1                      ? SessionNotification::ThisSession
                                                 : SessionNotification::Off;
    uint32_t controls = reader.u32();
    for (uint32_t i = 0; i < controls && reader.ok(); ++i) {
        ControlInfo control;
        control.id = reader.u32();
        control.className = text::toUtf16(reader.text());
        control.text = text::toUtf16(reader.text());
        control.rect = readRect(reader);
        control.visibility = visibilityOf(reader.u32());
        control.enabled = reader.u32() != 0;
        control.focused = reader.u32() != 0;
        info.controls.push_back(std::move(control));
    }
    return info;
}

// A window of another process, or none: 5 when it exists, 1400 when not.
Error notOurs(WindowHandle window)
{
    return isWindow(window) ? Error::AccessDenied : Error::InvalidWindowHandle;
}

Status updateWindow(WindowHandle window, const std::function<void(detail::LocalWindow&)>& change)
{
    detail::LocalWindow updated;
    {
        std::lock_guard lock(tables().mutex);
        auto found = tables().windows.find(window.value());
        if (found == tables().windows.end())
            return notOurs(window);
        change(found->second);
        updated = found->second;
    }
    Writer message = requestOf(Operation::UpdateWindow);
    message.u32(static_cast<uint32_t>(window.value()));
    message.u32(updated.visibility == Visibility::Shown ? 1 : 0);
    writeRect(message, updated.rect);
    return statusOf(objects::request(message));
}

constexpr std::array<std::pair<std::string_view, uint32_t>, 10> MessageNames { {
    { "WM_NULL", WM_NULL },
    { "WM_CREATE", WM_CREATE },
    { "WM_DESTROY", WM_DESTROY },
    { "WM_CLOSE", WM_CLOSE },
    { "WM_QUERYENDSESSION", WM_QUERYENDSESSION },
    { "WM_QUIT", WM_QUIT },
    { "WM_ENDSESSION", WM_ENDSESSION },
    { "WM_COMMAND", WM_COMMAND },
    { "WM_TIMER", WM_TIMER },
    { "WM_WTSSESSION_CHANGE", WM_WTSSESSION_CHANGE },
} };

std::optional<uint32_t> parseNumber(std::string_view text)
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

} // namespace

namespace detail {

std::optional<LocalWindow> localWindow(WindowHandle window)
{
    std::lock_guard lock(tables().mutex);
    auto found = tables().windows.find(window.value());
    if (found == tables().windows.end())
        return std::nullopt;
    return found->second;
}

void addLocalWindow(WindowHandle window, LocalWindow local)
{
    std::lock_guard lock(tables().mutex);
    tables().windows[window.value()] = std::move(local);
}

void removeLocalWindow(WindowHandle window)
{
    std::lock_guard lock(tables().mutex);
    tables().windows.erase(window.value());
}

void removeThreadWindows(int32_t threadId)
{
    std::lock_guard lock(tables().mutex);
    std::erase_if(tables().windows, [&](const auto& entry) { return entry.second.threadId == threadId; });
}

} // namespace detail

intptr_t defaultWindowProcedure(WindowHandle window, uint32_t message, uintptr_t, intptr_t)
{
    switch (message) {
    case WM_CLOSE:
        (void)destroyWindow(window);
        return 0;
    case WM_QUERYENDSESSION:
        return 1;
    default:
        return 0;
    }
}

Status registerClass(std::u16string_view className, WindowProcedure procedure)
{
    if (className.empty() || !procedure)
        return Error::InvalidParameter;
    std::lock_guard lock(tables().mutex);
    auto [entry, inserted] = tables().classes.try_emplace(text::foldCase(className), std::move(procedure));
    if (!inserted)
        return Error::ClassAlreadyExists;
    return {};
}

Status unregisterClass(std::u16string_view className)
{
    std::lock_guard lock(tables().mutex);
    if (tables().classes.erase(text::foldCase(className)) == 0)
        return Error::ClassDoesNotExist;
    return {};
}

bool isClassRegistered(std::u16string_view className)
{
    std::lock_guard lock(tables().mutex);
    return tables().classes.contains(text::foldCase(className));
}

Result<WindowHandle> createWindow(
    std::u16string_view className, std::u16string_view title, Visibility visibility, Rect rect)
{
    detail::LocalWindow local;
    {
        std::lock_guard lock(tables().mutex);
        auto found = tables().classes.find(text::foldCase(className));
        if (found == tables().classes.end())
            return Error::CannotFindWndClass;
        local.procedure = found->second;
    }
    // The thread's queue must exist before its first window, so that nothing
    // posted to the window can arrive before there is somewhere to put it.
    TRY_RESULT(queue, detail::currentQueue());
    local.threadId = queue->threadId;
    local.visibility = visibility;
    local.rect = rect;

    Writer message = requestOf(Operation::CreateWindow);
    message.text(text::toUtf8(className));
    message.text(text::toUtf8(title));
    message.i32(local.threadId);
    message.u32(visibility == Visibility::Shown ? 1 : 0);
    writeRect(message, rect);
    TRY_RESULT(reply, objects::request(message));
    Reader reader(reply);
    WindowHandle window(reader.u32());
    if (!reader.ok())
        return Error::InvalidData;
    WindowProcedure procedure = local.procedure;
    detail::addLocalWindow(window, std::move(local));
    (void)procedure(window, WM_CREATE, 0, 0);
    return window;
}

Status destroyWindow(WindowHandle window)
{
    auto local = detail::localWindow(window);
    if (!local)
        return notOurs(window);
    if (local->threadId != detail::currentThreadId())
        return Error::AccessDenied;
    // The window still exists while its procedure hears of its end.
    (void)local->procedure(window, WM_DESTROY, 0, 0);
    detail::removeLocalWindow(window);
    Writer message = requestOf(Operation::DestroyWindow);
    message.u32(static_cast<uint32_t>(window.value()));
    return statusOf(objects::request(message));
}

Status showWindow(WindowHandle window, Visibility visibility)
{
    return updateWindow(window, [&](detail::LocalWindow& local) { local.visibility = visibility; });
}

Status moveWindow(WindowHandle window, Rect rect)
{
    return updateWindow(window, [&](detail::LocalWindow& local) { local.rect = rect; });
}

Status publishControls(WindowHandle window, const std::vector<ControlInfo>& controls)
{
    Writer message = requestOf(Operation::PublishControls);
    message.u32(static_cast<uint32_t>(window.value()));
    message.u32(static_cast<uint32_t>(controls.size()));
    for (const auto& control : controls) {
        message.u32(control.id);
        message.text(text::toUtf8(control.className));
        message.text(text::toUtf8(control.text));
        writeRect(message, control.rect);
        message.u32(control.visibility == Visibility::Shown ? 1 : 0);
        message.u32(control.enabled ? 1 : 0);
        message.u32(control.focused ? 1 : 0);
    }
    return statusOf(objects::request(message));
}

Result<WindowHandle> findWindow(std::optional<std::u16string_view> className, std::optional<std::u16string_view> title)
{
    Writer message = requestOf(Operation::FindWindow);
    message.u32(className ? 1 : 0);
    message.text(className ? text::toUtf8(*className) : std::string());
    message.u32(title ? 1 : 0);
    message.text(title ? text::toUtf8(*title) : std::string());
    TRY_RESULT(reply, objects::request(message));
    Reader reader(reply);
    WindowHandle window(reader.u32());
    if (!reader.ok())
        return Error::InvalidData;
    return window;
}

Result<WindowInfo> windowInfo(WindowHandle window)
{
    if (!window.isValid() || window.value() > UINT32_MAX)
        return Error::InvalidWindowHandle;
    Writer message = requestOf(Operation::WindowInfo);
    message.u32(static_cast<uint32_t>(window.value()));
    TRY_RESULT(reply, objects::request(message));
    Reader reader(reply);
    WindowInfo info = readRecord(reader);
    if (!reader.ok())
        return Error::InvalidData;
    return info;
}

bool isWindow(WindowHandle window)
{
    return windowInfo(window).ok();
}

Result<std::vector<WindowInfo>> listWindows()
{
    TRY_RESULT(reply, objects::request(requestOf(Operation::ListWindows)));
    Reader reader(reply);
    uint32_t count = reader.u32();
    std::vector<WindowInfo> windows;
    for (uint32_t i = 0; i < count && reader.ok(); ++i)
        windows.push_back(readRecord(reader));
    if (!reader.ok())
        return Error::InvalidData;
    return windows;
}

Status postMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (!window.isValid() || window.value() > UINT32_MAX)
        return Error::InvalidWindowHandle;
    // NOTE: a message the thread posts to itself must be in its queue when
    // the post returns; through the manager it could still be on its way.
    auto local = detail::localWindow(window);
    if (local && local->threadId == detail::currentThreadId()
        && detail::postToOwnQueue(Message { window, message, wParam, lParam }))
        return {};
    Writer request = requestOf(Operation::PostMessage);
    request.u32(static_cast<uint32_t>(window.value()));
    request.u32(message);
    request.u64(static_cast<uint64_t>(wParam));
    request.u64(static_cast<uint64_t>(lParam));
    return statusOf(objects::request(request));
}

Result<intptr_t> sendMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    auto local = detail::localWindow(window);
    if (!local)
        return isWindow(window) ? Error::NotSupported : Error::InvalidWindowHandle;
    if (local->threadId == detail::currentThreadId())
        return local->procedure(window, message, wParam, lParam);
    return detail::sendToThread(local->threadId, Message { window, message, wParam, lParam });
}

std::string messageName(uint32_t message)
{
    for (const auto& [name, number] : MessageNames) {
        if (number == message)
            return std::string(name);
    }
    if (message >= WM_APP)
        return message == WM_APP ? "WM_APP" : "WM_APP+" + std::to_string(message - WM_APP);
    if (message >= WM_USER)
        return message == WM_USER ? "WM_USER" : "WM_USER+" + std::to_string(message - WM_USER);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%04X", message);
    return hex;
}

std::optional<uint32_t> messageNumber(std::string_view textValue)
{
    for (const auto& [name, number] : MessageNames) {
        if (text::equalsIgnoreCase(name, textValue))
            return number;
    }
    for (auto [base, number] : { std::pair<std::string_view, uint32_t> { "WM_USER", WM_USER }, { "WM_APP", WM_APP } }) {
        if (textValue.size() < base.size() || !text::equalsIgnoreCase(textValue.substr(0, base.size()), base))
            continue;
        std::string_view rest = textValue.substr(base.size());
        if (rest.empty())
            return number;
        if (rest.front() != '+')
            return std::nullopt;
        auto offset = parseNumber(rest.substr(1));
        if (!offset || *offset > 0xFFFF - number)
            return std::nullopt;
        return number + *offset;
    }
    auto number = parseNumber(textValue);
    if (!number || *number > 0xFFFF)
        return std::nullopt;
    return number;
}

} // namespace platform::windows
