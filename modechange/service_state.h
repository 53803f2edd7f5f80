#pragma once

// The process-wide state of the mode change service, shared by its main
// thread (command line, request dispatcher), its window thread and its dock
// monitor threads.

#include "platform/sync.h"
#include "platform/windows.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace modechange {

// The dispatcher loops while this is not 0; written by the main thread only.
extern std::atomic<int32_t> KeepRunning;
// 1 once the current dock monitor's subscription is in place (or has finally
// failed), 0 again when it ends.
extern std::atomic<int32_t> MonitorRunning;
// Set by a console disconnect, consumed by the next unlock; window thread only.
extern std::atomic<int32_t> ConsoleDisconnected;
// The hidden window, once created.
extern std::atomic<uintptr_t> ServiceWindow;
// The program's exit code: the result of the last wireless switch handled.
extern std::atomic<int32_t> ExitCode;

// One run of the dock monitor thread, shared by the thread and whoever starts
// or stops it. NOTE: the named stop event is pulsed, and a pulse is lost
// while the monitor is still connecting or subscribing; `stop` is set
// instead, so a stop from this process is never lost.
struct MonitorRun {
    platform::sync::Handle stop; // manual reset: set to end this run
    platform::sync::Handle changed; // manual reset: set when the run reports running or ends
    platform::sync::Handle finished; // manual reset: set when the run ends
    std::atomic<bool> running { false };
    std::atomic<bool> ended { false };
    std::atomic<bool> stopping { false };
};

// The events of the request dispatcher, in their wait-index order, and the
// monitor's stop event, which is created with them but not waited on here.
struct RequestEvents {
    platform::sync::Handle shutdown; // "ModeChangeShutdown", index 0
    platform::sync::Handle shutdownThread; // "ModeChangeShutdownThread"
    platform::sync::Handle adjustScreenOrientation; // index 1
    platform::sync::Handle adjustProfile; // index 2
    platform::sync::Handle adjustProfileAndScreenOrientation; // index 3
    platform::sync::Handle toggleWireless; // index 4
    platform::sync::Handle toggleBrightness; // index 5
};

// The events while the service runs; closed by the shutdown steps.
RequestEvents& requestEvents();

// The last dock monitor run started, or null; `stopping`, `ended` and
// `running` tell its state.
std::shared_ptr<MonitorRun> currentMonitorRun();
void setCurrentMonitorRun(std::shared_ptr<MonitorRun> run);

// Whether worker threads were started in this process: the program then ends
// without waiting for them.
extern std::atomic<bool> WorkerThreadsStarted;

} // namespace modechange
