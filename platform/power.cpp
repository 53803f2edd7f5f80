#include "platform/power.h"

#include "platform/config.h"
#include "platform/journal.h"
#include "platform/security.h"
#include "platform/store_p.h"
#include "platform/text.h"

#include <array>
#include <charconv>
#include <mutex>
#include <set>

/*
 * The machine's power settings and state, format version 1, in the machine
 * configuration:
 *
 *   "power.policy.shutdown"  "grant" (or absent) or "deny": whether the
 *                            machine's users hold the shutdown privilege.
 *   "power.hibernate"        "1" (or absent) hibernation is turned on, "0" off.
 *   "power.state"            "v1 last=standby requests=3": the last accepted
 *                            request and how many there were; absent until
 *                            the first one ("on").
 *
 * The privileges a process has enabled live in the process, as in its token.
 */

namespace platform::power {

namespace {

constexpr std::string_view PolicySetting = "power.policy.shutdown";
constexpr std::string_view HibernateSetting = "power.hibernate";
constexpr std::string_view StateSetting = "power.state";
constexpr std::string_view FormatVersion = "v1";

// The privileges the platform knows by name; only the shutdown privilege is
// given to standard users (by the machine's policy), the others to
// administrators.
constexpr std::array<std::u16string_view, 6> KnownPrivileges {
    SE_SHUTDOWN_NAME,
    u"SeDebugPrivilege",
    u"SeBackupPrivilege",
    u"SeRestorePrivilege",
    u"SeSystemtimePrivilege",
    u"SeRemoteShutdownPrivilege",
};

std::mutex tokenMutex;
std::set<std::u16string> enabledPrivileges;

bool isKnown(std::u16string_view name)
{
    for (auto known : KnownPrivileges) {
        if (text::equalsIgnoreCase(known, name))
            return true;
    }
    return false;
}

bool userHolds(std::u16string_view name)
{
    if (text::equalsIgnoreCase(name, SE_SHUTDOWN_NAME))
        return shutdownPolicy() == Policy::Granted;
    return security::isAdministrator();
}

State parseState(const std::optional<std::string>& value)
{
    State state;
    if (!value || value->compare(0, FormatVersion.size() + 1, std::string(FormatVersion) + " ") != 0)
        return state;
    std::string_view rest = std::string_view(*value).substr(FormatVersion.size() + 1);
    while (!rest.empty()) {
        size_t end = rest.find(' ');
        std::string_view word = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (word.starts_with("last=")) {
            state.last = std::string(word.substr(5));
        } else if (word.starts_with("requests=")) {
            auto digits = word.substr(9);
            uint32_t count = 0;
            if (std::from_chars(digits.data(), digits.data() + digits.size(), count).ec == std::errc())
                state.requests = count;
        }
    }
    return state;
}

// Counts an accepted request in the machine's state and journal.
void recordRequest(std::string_view request, journal::Fields fields)
{
    auto status = store::transact(store::Mode::Write, [&]() -> Status {
        State state = parseState(config::get(StateSetting));
        return config::set(StateSetting,
            std::string(FormatVersion) + " last=" + std::string(request)
                + " requests=" + std::to_string(state.requests + 1));
    });
    (void)status;
    fields.insert(fields.begin(), { "request", std::string(request) });
    journal::record("power.request", std::move(fields));
}

} // namespace

Status enablePrivilege(std::u16string_view name)
{
    if (!isKnown(name))
        return Error::NoSuchPrivilege;
    if (!userHolds(name))
        return Error::NotAllAssigned;
    std::lock_guard lock(tokenMutex);
    enabledPrivileges.insert(text::foldCase(name));
    return {};
}

bool privilegeEnabled(std::u16string_view name)
{
    std::lock_guard lock(tokenMutex);
    return enabledPrivileges.contains(text::foldCase(name));
}

Policy shutdownPolicy()
{
    return config::get(PolicySetting).value_or("grant") == "deny" ? Policy::Denied : Policy::Granted;
}

Status setShutdownPolicy(Policy policy)
{
    return config::set(PolicySetting, policy == Policy::Denied ? "deny" : "grant");
}

Status setSystemPowerState(Suspend suspend, Force force)
{
    if (!privilegeEnabled(SE_SHUTDOWN_NAME))
        return Error::PrivilegeNotHeld;
    if (suspend == Suspend::Hibernate && !hibernationEnabled())
        return Error::NotSupported;
    recordRequest(
        suspend == Suspend::Standby ? "standby" : "hibernate", { { "force", force == Force::Yes ? "1" : "0" } });
    return {};
}

Status exitWindows(uint32_t flags, uint32_t reason)
{
    if ((flags & ~(EWX_SHUTDOWN | EWX_REBOOT | EWX_POWEROFF | EWX_FORCE | EWX_FORCEIFHUNG)) != 0)
        return Error::InvalidParameter;
    std::string_view request;
    switch (flags & (EWX_SHUTDOWN | EWX_REBOOT | EWX_POWEROFF)) {
    case EWX_LOGOFF:
        request = "logoff";
        break;
    case EWX_SHUTDOWN:
        request = "shutdown";
        break;
    case EWX_REBOOT:
        request = "reboot";
        break;
    case EWX_POWEROFF:
    case EWX_SHUTDOWN | EWX_POWEROFF:
        request = "poweroff";
        break;
    default:
        return Error::InvalidParameter;
    }
    if (request != "logoff" && !privilegeEnabled(SE_SHUTDOWN_NAME))
        return Error::PrivilegeNotHeld;
    recordRequest(request, { { "flags", std::to_string(flags) }, { "reason", std::to_string(reason) } });
    return {};
}

bool hibernationEnabled()
{
    return config::get(HibernateSetting).value_or("1") != "0";
}

Status setHibernationEnabled(bool enabled)
{
    return config::set(HibernateSetting, enabled ? "1" : "0");
}

State state()
{
    return parseState(config::get(StateSetting));
}

} // namespace platform::power
