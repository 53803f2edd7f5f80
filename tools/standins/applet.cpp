// A stand-in Control Panel applet of the platform (powercfg.cpl,
// tabletpc.cpl): it offers one applet, and opening it only records that it
// opened, since the machine has no windows to show.

#include "tools/standins/control_panel.h"

#include "platform/journal.h"

#include <string>

#ifndef TAVIO_APPLET_NAME
#error "TAVIO_APPLET_NAME names the applet file, e.g. \"powercfg.cpl\""
#endif

extern "C" __attribute__((visibility("default"))) int32_t CPlApplet(
    void* window, uint32_t message, intptr_t param1, intptr_t param2)
{
    (void)window;
    (void)param2;
    switch (message) {
    case standins::CPL_INIT:
        return 1;
    case standins::CPL_GETCOUNT:
        return 1;
    case standins::CPL_DBLCLK:
        platform::journal::record(
            "applet.open", { { "applet", TAVIO_APPLET_NAME }, { "index", std::to_string(param1) } });
        return 0; // the platform's "handled"
    default:
        return 0;
    }
}
