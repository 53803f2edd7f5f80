#include "modechange/service.h"

#include "modechange/adjust_modes.h"
#include "modechange/dock_monitor.h"
#include "modechange/requests.h"
#include "modechange/service_state.h"
#include "modechange/session_window.h"

#include "common/names.h"
#include "common/settings.h"

#include "platform/windows.h"

#include <mutex>
#include <system_error>
#include <thread>

namespace modechange {

namespace sync = platform::sync;

namespace {

// NOTE: the session handler (window thread) and the restart requests (main
// thread) may start the workers at the same moment; without this lock both
// could see no monitor and start one each.
std::mutex& startLock()
{
    static auto* lock = new std::mutex;
    return *lock;
}

std::atomic<bool> windowThreadStarted { false };

std::shared_ptr<MonitorRun> makeMonitorRun()
{
    auto stop = sync::createEvent({}, sync::ResetMode::Manual, sync::InitialState::NotSignalled);
    auto changed = sync::createEvent({}, sync::ResetMode::Manual, sync::InitialState::NotSignalled);
    auto finished = sync::createEvent({}, sync::ResetMode::Manual, sync::InitialState::NotSignalled);
    if (!stop || !changed || !finished)
        return nullptr;
    auto run = std::make_shared<MonitorRun>();
    run->stop = std::move(stop->handle);
    run->changed = std::move(changed->handle);
    run->finished = std::move(finished->handle);
    return run;
}

bool monitorActive(const std::shared_ptr<MonitorRun>& run)
{
    return run && !run->ended && !run->stopping;
}

} // namespace

int32_t StartWorkerThreads()
{
    std::lock_guard lock(startLock());
    if (!monitorActive(currentMonitorRun())) {
        auto run = makeMonitorRun();
        if (!run)
            return -1;
        try {
            std::thread(DockMonitorThread, run).detach();
        } catch (const std::system_error&) {
            return -1;
        }
        setCurrentMonitorRun(run);
        WorkerThreadsStarted = true;
    }
    if (!windowThreadStarted) {
        try {
            std::thread(WindowThread).detach();
        } catch (const std::system_error&) {
            return -1;
        }
        windowThreadStarted = true;
        WorkerThreadsStarted = true;
    }
    return 0;
}

void StopMonitor()
{
    auto run = currentMonitorRun();
    if (!run) {
        // Another instance's monitor: only the named event and the semaphore
        // reach it.
        (void)common::PulseNamedEvent(common::EventModeChangeShutdownThread);
        (void)WaitMonitorStopped(common::SemaphoreModeChangeRunning);
        return;
    }
    run->stopping = true;
    (void)sync::setEvent(run->stop);
    // NOTE: the run's own end is waited for rather than the semaphore, which
    // also counts the end of an earlier run that nobody waited for.
    (void)sync::waitOne(run->finished, MonitorStopTimeout);
}

int32_t WaitMonitorStopped(std::u16string_view semaphoreName)
{
    auto semaphore = sync::openSemaphore(semaphoreName);
    if (!semaphore)
        return -2;
    auto woken = sync::waitOne(semaphore.value(), MonitorStopTimeout);
    if (!woken)
        return -2;
    if (woken->timedOut())
        return -1;
    return 0;
}

void RunService()
{
    (void)SetProfileDefaults(0);
    if (CreateRequestEvents() == 0 && StartWorkerThreads() == 0)
        RunDispatcher();
    ShutdownService();
}

void ShutdownService()
{
    if (auto run = currentMonitorRun()) {
        run->stopping = true;
        (void)sync::setEvent(run->stop);
    }
    // NOTE: this process's monitor is reached through its own stop event; a
    // pulse of "ModeChangeShutdownThread" could end another instance's.
    CloseRequestEvents();
    if (auto window = ServiceWindow.load())
        (void)platform::windows::postMessage(
            platform::windows::WindowHandle(window), platform::windows::WM_DESTROY, 0, 0);
}

} // namespace modechange
