#pragma once

// The hidden window of the resident service: it receives the session's
// notifications (lock, unlock, console connect and disconnect) and the end of
// the session, and starts or stops the dock monitor accordingly.

#include "platform/windows.h"

#include <cstdint>

namespace modechange {

// The window procedure of the class "Calvex Mode Change ".
intptr_t ServiceWindowProcedure(
    platform::windows::WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// What a session change does to the dock monitor.
void HandleSessionChange(uint32_t event);

// The window thread: unless another instance owns the window, creates it,
// registers it for this session's notifications through "Wtsapi32.dll" and
// runs its message loop until the quit message.
void WindowThread();

} // namespace modechange
