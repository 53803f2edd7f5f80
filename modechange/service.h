#pragma once

// The resident run of the service ("Start"), its worker threads and the stop
// protocol between instances.

#include <chrono>
#include <cstdint>
#include <string_view>

namespace modechange {

// How long a stopper waits for the dock monitor to end.
inline constexpr std::chrono::milliseconds MonitorStopTimeout { 10000 };

// The run sequence of "Start": profile defaults, the request events, the
// worker threads, the dispatcher until "ModeChangeShutdown", then shutdown.
void RunService();

// Starts a dock monitor thread unless one is running or starting, then the
// window thread unless it was ever started. 0, or -1 when a thread could not
// be created. Safe to call from two threads at once.
int32_t StartWorkerThreads();

// Ends the dock monitor and waits (at most 10 s) until it has ended: this
// process's own monitor when it has one, else whichever instance waits on
// "ModeChangeShutdownThread".
void StopMonitor();

// Waits at most 10 s for the named semaphore: 0 when obtained, -1 after the
// time-out, -2 on any other failure (no such semaphore).
int32_t WaitMonitorStopped(std::u16string_view semaphoreName);

// The shutdown steps: the dock monitor is told to end, the events closed and
// the window destroyed; the other threads are not waited for.
void ShutdownService();

} // namespace modechange
