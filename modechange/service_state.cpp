#include "modechange/service_state.h"

#include <mutex>

namespace modechange {

std::atomic<int32_t> KeepRunning { 1 };
std::atomic<int32_t> MonitorRunning { 0 };
std::atomic<int32_t> ConsoleDisconnected { 0 };
std::atomic<uintptr_t> ServiceWindow { 0 };
std::atomic<int32_t> ExitCode { 0 };
std::atomic<bool> WorkerThreadsStarted { false };

namespace {

// NOTE: the state is allocated once and never freed, so that threads still
// running when the program ends never meet destroyed objects.
struct Shared {
    RequestEvents events;
    std::mutex runLock;
    std::shared_ptr<MonitorRun> run;
};

Shared& shared()
{
    static Shared* state = new Shared;
    return *state;
}

} // namespace

RequestEvents& requestEvents()
{
    return shared().events;
}

std::shared_ptr<MonitorRun> currentMonitorRun()
{
    std::lock_guard lock(shared().runLock);
    return shared().run;
}

void setCurrentMonitorRun(std::shared_ptr<MonitorRun> run)
{
    std::lock_guard lock(shared().runLock);
    shared().run = std::move(run);
}

} // namespace modechange
