#pragma once

#include "platform/result.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::power {

// The machine's power requests and the privilege they need. Nothing here
// touches the host: a request is recorded in the journal and in the
// machine's power state.

inline constexpr std::u16string_view SE_SHUTDOWN_NAME = u"SeShutdownPrivilege";

// Flags of a shut-down request.
inline constexpr uint32_t EWX_LOGOFF = 0x0;
inline constexpr uint32_t EWX_SHUTDOWN = 0x1;
inline constexpr uint32_t EWX_REBOOT = 0x2;
inline constexpr uint32_t EWX_FORCE = 0x4;
inline constexpr uint32_t EWX_POWEROFF = 0x8;
inline constexpr uint32_t EWX_FORCEIFHUNG = 0x10;

// Enables a privilege in the calling process's token. The machine's policy
// decides whether the current user holds the shutdown privilege (granted
// unless denied with 'tavio-machine power policy deny'). Errors: 1300 (not
// all assigned) when the user does not hold it, and the token stays as it
// was; 1313 for a name that is no privilege.
Status enablePrivilege(std::u16string_view name);
// Whether this process enabled the privilege (and its user still holds it).
bool privilegeEnabled(std::u16string_view name);

enum class Policy {
    Granted,
    Denied,
};
Policy shutdownPolicy();
Status setShutdownPolicy(Policy policy);

enum class Suspend {
    Hibernate, // the platform's fSuspend FALSE
    Standby, // fSuspend TRUE
};
enum class Force {
    No,
    Yes,
};

// Puts the machine to standby or hibernation (the platform's
// SetSystemPowerState). Errors: 1314 when the process has not enabled the
// shutdown privilege; 50 for hibernation while the machine has it turned
// off.
Status setSystemPowerState(Suspend suspend, Force force);

// Ends the session or shuts the machine down (the platform's
// ExitWindowsEx). Shutting down, restarting and turning off need the
// shutdown privilege enabled (1314 without it); 87 for flags that name no
// action or more than one.
Status exitWindows(uint32_t flags, uint32_t reason);

// Whether the machine may hibernate (power options), default yes.
bool hibernationEnabled();
Status setHibernationEnabled(bool enabled);

// What became of the machine by the last request: "on" until one is made,
// then "standby", "hibernate", "shutdown", "reboot", "poweroff" or "logoff",
// with a count of all accepted requests.
struct State {
    std::string last { "on" };
    uint32_t requests { 0 };
};
State state();

} // namespace platform::power
