#include "modechange/session_window.h"

#include "modechange/service.h"
#include "modechange/service_state.h"

#include "common/names.h"

#include "platform/modules.h"
#include "platform/sessions.h"

namespace modechange {

namespace windows = platform::windows;
using platform::sessions::SessionEvent;

namespace {

using RegisterSessionNotificationProc = int32_t (*)(uintptr_t window, uint32_t flags);

// The session library is optional: without it the service runs on without
// session notifications, as after a failed window creation.
void registerForSessionNotifications(windows::WindowHandle window)
{
    auto library = platform::modules::Module::load(u"Wtsapi32.dll");
    if (!library)
        return;
    auto registerNotification = library->symbol<RegisterSessionNotificationProc>("WTSRegisterSessionNotification");
    if (registerNotification)
        (void)registerNotification.value()(window.value(), platform::sessions::NOTIFY_FOR_THIS_SESSION);
}

} // namespace

void HandleSessionChange(uint32_t event)
{
    switch (static_cast<SessionEvent>(event)) {
    case SessionEvent::ConsoleConnect:
    case SessionEvent::RemoteConnect:
        (void)StartWorkerThreads();
        break;
    case SessionEvent::ConsoleDisconnect:
        ConsoleDisconnected = 1;
        StopMonitor();
        break;
    case SessionEvent::Lock:
        StopMonitor();
        break;
    case SessionEvent::Unlock:
        // The connect before this unlock started the monitor already.
        if (ConsoleDisconnected == 1)
            ConsoleDisconnected = 0;
        else
            (void)StartWorkerThreads();
        break;
    case SessionEvent::RemoteDisconnect:
    case SessionEvent::Logon:
    case SessionEvent::Logoff:
    default:
        break;
    }
}

intptr_t ServiceWindowProcedure(windows::WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    switch (message) {
    case windows::WM_CREATE:
        ServiceWindow = window.value();
        return 0;
    case windows::WM_DESTROY:
        windows::postQuitMessage(0);
        return 0;
    case windows::WM_QUERYENDSESSION:
        return 1;
    case windows::WM_ENDSESSION:
        if (wParam == 1) {
            StopMonitor();
            windows::postQuitMessage(0);
        }
        return 0;
    case windows::WM_QUIT:
        return 0;
    case windows::WM_WTSSESSION_CHANGE:
        HandleSessionChange(static_cast<uint32_t>(wParam));
        return 0;
    default:
        return windows::defaultWindowProcedure(window, message, wParam, lParam);
    }
}

void WindowThread()
{
    ServiceWindow = 0;
    if (windows::findWindow(common::ModeChangeWindowClass, common::ModeChangeWindowTitle))
        return; // another instance owns the window
    if (!windows::isClassRegistered(common::ModeChangeWindowClass))
        (void)windows::registerClass(common::ModeChangeWindowClass, ServiceWindowProcedure);
    auto window = windows::createWindow(common::ModeChangeWindowClass, common::ModeChangeWindowTitle,
        windows::Visibility::Hidden, windows::Rect { 0, 0, 0, 0 });
    if (!window)
        return;
    registerForSessionNotifications(window.value());

    windows::Message message;
    for (;;) {
        auto got = windows::getMessage(message);
        if (!got || !got.value())
            break;
        windows::translateMessage(message);
        (void)windows::dispatchMessage(message);
    }
    (void)windows::destroyWindow(window.value());
}

} // namespace modechange
