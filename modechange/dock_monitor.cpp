#include "modechange/dock_monitor.h"

#include "modechange/adjust_modes.h"
#include "modechange/firmware_values.h"
#include "modechange/requests.h"

#include "common/names.h"

#include "platform/dialogs.h"
#include "platform/sync.h"

#include <array>

namespace modechange {

namespace sync = platform::sync;
namespace wmi = platform::wmi;

namespace {

constexpr std::chrono::milliseconds RetryPause { 1000 };

// Waits for either way of stopping the run: the named event (a "Stop" run of
// another process) or the run's own stop event. True when one came.
bool waitForStop(const sync::Handle& namedStop, const MonitorRun& run, std::chrono::milliseconds timeout)
{
    std::array<const sync::Handle*, 2> waits { &run.stop, &namedStop };
    std::span<const sync::Handle* const> list(waits.data(), namedStop.isValid() ? 2 : 1);
    auto woken = sync::waitAny(list, timeout);
    if (!woken)
        return true; // a wait that fails would fail again: treat it as the end
    return woken->signalled();
}

// The connection, asking the user while WMI refuses it. Null when the user
// chose to end the service or the run was stopped meanwhile.
std::shared_ptr<wmi::Services> connectOrAsk(const MonitorRun& run)
{
    for (;;) {
        auto services = ConnectWmi();
        if (services)
            return services.value();
        auto answer = platform::dialogs::messageBox(0, WmiErrorText, WmiErrorCaption, WmiErrorStyle);
        if (answer && answer.value() == platform::dialogs::Answer::Retry) {
            // NOTE: an automated run answers the box at once; a short pause
            // before the next attempt keeps a machine whose WMI stays
            // stopped from spinning through boxes. A stop ends the pause.
            const sync::Handle* stop[] = { &run.stop };
            auto woken = sync::waitAny(stop, RetryPause);
            if (run.stopping || (woken && woken->signalled()))
                return nullptr;
            continue;
        }
        // NOTE: a pulse would be lost while the dispatcher is busy or waits
        // for this very monitor; set, the request stays until it is seen.
        if (auto shutdown = sync::openEvent(common::EventModeChangeShutdown))
            (void)sync::setEvent(shutdown.value());
        return nullptr;
    }
}

} // namespace

wmi::HResult DockEventSink::indicate(std::span<const wmi::ClassObject>)
{
    (void)AdjustModes(AdjustProfileAndOrientation, 0);
    return wmi::HResult::Ok;
}

wmi::HResult DockEventSink::setStatus(wmi::StatusFlags, wmi::HResult, std::u16string_view, const wmi::ClassObject*)
{
    return wmi::HResult::Ok;
}

void DockMonitorThread(std::shared_ptr<MonitorRun> run)
{
    sync::Handle semaphore;
    if (auto created
        = sync::createSemaphore(common::SemaphoreModeChangeRunning, 0, common::SemaphoreModeChangeRunningMaximum))
        semaphore = std::move(created->handle);
    sync::Handle namedStop;
    if (auto created = sync::createEvent(
            common::EventModeChangeShutdownThread, sync::ResetMode::Auto, sync::InitialState::NotSignalled))
        namedStop = std::move(created->handle);
    auto sink = std::make_shared<DockEventSink>();

    auto services = connectOrAsk(*run);
    if (services) {
        setWmiServices(services);
        (void)AdjustModes(AdjustProfileAndOrientation, 0);
        StoreWirelessState();

        bool subscribed = false;
        bool stopped = false;
        for (int attempt = 0; attempt < SubscriptionAttempts && !subscribed && !stopped; ++attempt) {
            subscribed
                = services->execNotificationQueryAsync(u"WQL", DockEventQuery, wmi::NotificationFlags::SendStatus, sink)
                      .ok();
            // NOTE: the subscription is in place when the call returns, so
            // only a refused attempt waits before the next one.
            if (!subscribed)
                stopped = waitForStop(namedStop, *run, SubscriptionRetryDelay);
        }

        // Reported also when every attempt failed: the monitor then waits
        // for its stop like a subscribed one, and dock events go unseen
        // until it is started again.
        if (currentMonitorRun() == run)
            MonitorRunning = 1;
        run->running = true;
        (void)sync::setEvent(run->changed);
        if (!stopped)
            (void)waitForStop(namedStop, *run, sync::Infinite);
        if (subscribed)
            (void)services->cancelAsyncCall(sink);
        // Released only when it is still this run's: a late end of a run
        // that a newer one replaced must not take the newer connection.
        if (wmiServices() == services)
            setWmiServices(nullptr);
        services.reset();
    }

    if (currentMonitorRun() == run)
        MonitorRunning = 0;
    run->ended = true;
    (void)sync::setEvent(run->changed);
    (void)sync::setEvent(run->finished);
    if (semaphore.isValid())
        (void)sync::releaseSemaphore(semaphore, 1);
}

} // namespace modechange
