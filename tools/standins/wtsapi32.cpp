// Wtsapi32.dll: the platform's session notification library, which programs
// load by name and bind by export name. Registration is kept in the window's
// record in the machine's object manager, where 'tavio-machine session'
// finds the windows to notify.

#include "platform/sessions.h"

#include <cstdint>

#define TAVIO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using platform::windows::SessionNotification;
using platform::windows::WindowHandle;

} // namespace

// Registers `window` for WM_WTSSESSION_CHANGE; flags NOTIFY_FOR_THIS_SESSION
// (0) or NOTIFY_FOR_ALL_SESSIONS (1). Nonzero on success.
TAVIO_EXPORT int32_t WTSRegisterSessionNotification(uintptr_t window, uint32_t flags)
{
    if (flags != platform::sessions::NOTIFY_FOR_THIS_SESSION && flags != platform::sessions::NOTIFY_FOR_ALL_SESSIONS)
        return 0;
    auto scope = flags == platform::sessions::NOTIFY_FOR_ALL_SESSIONS ? SessionNotification::AllSessions
                                                                      : SessionNotification::ThisSession;
    return platform::sessions::registerNotification(WindowHandle(window), scope).ok() ? 1 : 0;
}

// Ends the notifications of `window`. Nonzero on success.
TAVIO_EXPORT int32_t WTSUnRegisterSessionNotification(uintptr_t window)
{
    return platform::sessions::unregisterNotification(WindowHandle(window)).ok() ? 1 : 0;
}
