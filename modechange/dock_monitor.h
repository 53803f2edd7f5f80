#pragma once

// The dock monitor: a thread that holds the service's WMI connection and its
// subscription to the firmware's dock events, and the sink those events
// reach on the platform's callback threads.

#include "modechange/service_state.h"

#include "platform/wmi.h"

#include <memory>
#include <string_view>

namespace modechange {

inline constexpr std::u16string_view DockEventQuery = u"SELECT * FROM keltoDockEvent";
inline constexpr int SubscriptionAttempts = 10;
inline constexpr std::chrono::milliseconds SubscriptionRetryDelay { 2000 };

// The box shown while WMI refuses the connection: Retry connects again,
// Cancel ends the service.
inline constexpr std::u16string_view WmiErrorCaption = u"Mode Change Service Error";
inline constexpr std::u16string_view WmiErrorText
    = u"Unable to connect to Windows Management Instrumentation service: No such interface is supported."
      u"                        \n"
      u"Press Retry to a connect, Cancel to terminate Mode Change Service.";
// MB_RETRYCANCEL | MB_ICONERROR | MB_SETFOREGROUND
inline constexpr uint32_t WmiErrorStyle = 0x5 | 0x10 | 0x10000;

// Every delivery of dock events brings profile and orientation in line with
// the docking state read afresh; the events' own contents do not matter.
class DockEventSink final : public platform::wmi::Sink {
public:
    platform::wmi::HResult indicate(std::span<const platform::wmi::ClassObject> objects) override;
    platform::wmi::HResult setStatus(platform::wmi::StatusFlags flags, platform::wmi::HResult result,
        std::u16string_view text, const platform::wmi::ClassObject* object) override;
};

// The body of one monitor run: connect (asking Retry/Cancel while WMI
// refuses), adjust the display, store the radio's state, subscribe to the
// dock events, report running, wait for the stop, cancel, clean up and
// release the semaphore.
void DockMonitorThread(std::shared_ptr<MonitorRun> run);

} // namespace modechange
