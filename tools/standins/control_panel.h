#pragma once

#include <cstdint>

namespace standins {

// The Control Panel's messages to an applet library's CPlApplet export, with
// the platform's numbers.
enum ControlPanelMessage : uint32_t {
    CPL_INIT = 1,
    CPL_GETCOUNT = 2,
    CPL_INQUIRE = 3,
    CPL_SELECT = 4,
    CPL_DBLCLK = 5,
    CPL_STOP = 6,
    CPL_EXIT = 7,
    CPL_NEWINQUIRE = 8,
};

// The applet entry: window of the Control Panel, message, two arguments;
// the result is 32 bits wide.
using CPlAppletFunction = int32_t (*)(void* window, uint32_t message, intptr_t param1, intptr_t param2);

} // namespace standins
