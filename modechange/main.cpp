// Modewatch: the mode change service. "-Start" keeps it resident for the
// logon session; "-Stop" ends a resident instance; "-Wireless_on" and
// "-Wireless_off" switch the radio and end.

#include "modechange/command_line.h"
#include "modechange/service_state.h"

#include "platform/process.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    const int32_t exitCode = modechange::RunCommandLine(platform::process::commandLine(argc, argv));
    if (modechange::WorkerThreadsStarted) {
        // NOTE: the program ends without waiting for its window and monitor
        // threads, as the platform ends a process; skipping the exit handlers
        // keeps those threads from meeting destroyed objects meanwhile.
        std::fflush(nullptr);
        std::_Exit(exitCode);
    }
    return exitCode;
}
