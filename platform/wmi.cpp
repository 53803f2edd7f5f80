#include "platform/wmi.h"
#include "platform/wmi_events_p.h"
#include "platform/wmi_firmware_p.h"

#include "platform/config.h"
#include "platform/journal.h"
#include "platform/text.h"

#include <array>
#include <cstdio>
#include <mutex>

namespace platform::wmi {

std::string_view hresultName(HResult result)
{
    switch (result) {
    case HResult::Ok:
        return "WBEM_S_NO_ERROR";
    case HResult::False:
        return "WBEM_S_FALSE";
    case HResult::NoInterface:
        return "E_NOINTERFACE";
    case HResult::InvalidArgument:
        return "E_INVALIDARG";
    case HResult::Failed:
        return "WBEM_E_FAILED";
    case HResult::NotFound:
        return "WBEM_E_NOT_FOUND";
    case HResult::AccessDenied:
        return "WBEM_E_ACCESS_DENIED";
    case HResult::ProviderFailure:
        return "WBEM_E_PROVIDER_FAILURE";
    case HResult::TypeMismatch:
        return "WBEM_E_TYPE_MISMATCH";
    case HResult::InvalidParameter:
        return "WBEM_E_INVALID_PARAMETER";
    case HResult::NotSupported:
        return "WBEM_E_NOT_SUPPORTED";
    case HResult::InvalidNamespace:
        return "WBEM_E_INVALID_NAMESPACE";
    case HResult::InvalidObject:
        return "WBEM_E_INVALID_OBJECT";
    case HResult::InvalidClass:
        return "WBEM_E_INVALID_CLASS";
    case HResult::InvalidQuery:
        return "WBEM_E_INVALID_QUERY";
    case HResult::InvalidQueryType:
        return "WBEM_E_INVALID_QUERY_TYPE";
    case HResult::AlreadyExists:
        return "WBEM_E_ALREADY_EXISTS";
    case HResult::CallCancelled:
        return "WBEM_E_CALL_CANCELLED";
    case HResult::ServerUnavailable:
        return "RPC_S_SERVER_UNAVAILABLE";
    }
    return "HRESULT";
}

std::string describe(HResult result)
{
    char number[16];
    std::snprintf(number, sizeof number, "0x%08X", toCode(result));
    return std::string(number) + " (" + std::string(hresultName(result)) + ")";
}

// ClassObject

Result<Value> ClassObject::get(std::u16string_view property) const
{
    for (const auto& [name, value] : m_properties) {
        if (text::equalsIgnoreCase(name, property))
            return value;
    }
    return HResult::NotFound;
}

Result<int32_t> ClassObject::getInt32(std::u16string_view property) const
{
    auto value = get(property);
    if (!value)
        return value.error();
    if (const auto* number = std::get_if<int32_t>(&*value))
        return *number;
    return HResult::TypeMismatch;
}

Result<std::u16string> ClassObject::getText(std::u16string_view property) const
{
    auto value = get(property);
    if (!value)
        return value.error();
    if (const auto* text = std::get_if<std::u16string>(&*value))
        return *text;
    return HResult::TypeMismatch;
}

Status ClassObject::put(std::u16string_view property, Value value)
{
    for (auto& [name, stored] : m_properties) {
        if (!text::equalsIgnoreCase(name, property))
            continue;
        bool typeKept = std::holds_alternative<std::monostate>(stored) || std::holds_alternative<std::monostate>(value)
            || stored.index() == value.index();
        if (!typeKept)
            return HResult::TypeMismatch;
        stored = std::move(value);
        return {};
    }
    return HResult::NotFound;
}

std::vector<std::u16string> ClassObject::propertyNames() const
{
    std::vector<std::u16string> names;
    for (const auto& property : m_properties)
        names.push_back(property.first);
    return names;
}

void ClassObject::define(std::u16string property, Value value)
{
    m_properties.emplace_back(std::move(property), std::move(value));
}

// Service state

namespace {

constexpr std::string_view RunningName = "wmi.running";

// The namespaces of the machine; only root\wmi has classes (the firmware's).
constexpr std::array<std::u16string_view, 4> Namespaces { u"root", u"root\\wmi", u"root\\cimv2", u"root\\default" };
constexpr std::u16string_view FirmwareNamespace = u"root\\wmi";

struct NamespacePath {
    std::u16string server; // "." unless another was named
    std::u16string name; // "root\wmi"
};

NamespacePath splitNamespace(std::u16string_view path)
{
    std::u16string normalized(path);
    for (auto& unit : normalized) {
        if (unit == u'/')
            unit = u'\\';
    }
    NamespacePath split { u".", {} };
    std::u16string_view rest = normalized;
    if (rest.starts_with(u"\\\\")) {
        rest.remove_prefix(2);
        size_t end = rest.find(u'\\');
        split.server = std::u16string(rest.substr(0, end));
        rest = end == std::u16string_view::npos ? std::u16string_view() : rest.substr(end + 1);
    }
    split.name = std::u16string(rest);
    return split;
}

} // namespace

ServiceState serviceState()
{
    return config::get(RunningName).value_or("1") == "0" ? ServiceState::Stopped : ServiceState::Running;
}

platform::Status setServiceState(ServiceState state)
{
    bool running = state == ServiceState::Running;
    TRY_STATUS(config::set(RunningName, running ? "1" : "0"));
    journal::record("wmi.service", { { "state", running ? "running" : "stopped" } });
    return {};
}

std::vector<std::u16string> liveSubscriptions()
{
    return events::live();
}

// Services

struct Services::State {
    mutable std::mutex mutex;
    ProxyBlanket blanket;
    bool hasFirmware { false };
    std::vector<std::shared_ptr<events::Subscription>> subscriptions;
};

Services::Services(std::u16string namespacePath)
    : m_namespacePath(std::move(namespacePath))
    , m_state(std::make_unique<State>())
{
    m_state->hasFirmware = text::equalsIgnoreCase(splitNamespace(m_namespacePath).name, FirmwareNamespace);
}

Services::~Services()
{
    std::vector<std::shared_ptr<events::Subscription>> subscriptions;
    {
        std::lock_guard lock(m_state->mutex);
        subscriptions.swap(m_state->subscriptions);
    }
    for (const auto& subscription : subscriptions)
        subscription->cancel();
}

Status Services::setProxyBlanket(const ProxyBlanket& blanket)
{
    if (blanket.authenticationLevel > AuthenticationLevel::PacketPrivacy
        || blanket.impersonationLevel > ImpersonationLevel::Delegate)
        return HResult::InvalidArgument;
    std::lock_guard lock(m_state->mutex);
    m_state->blanket = blanket;
    return {};
}

ProxyBlanket Services::proxyBlanket() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->blanket;
}

Result<std::vector<ClassObject>> Services::createInstanceEnum(std::u16string_view className, EnumerationFlags)
{
    // NOTE: the firmware's classes have no subclasses, so a deep and a
    // shallow enumeration list the same instances.
    if (serviceState() == ServiceState::Stopped)
        return HResult::ServerUnavailable;
    if (!m_state->hasFirmware)
        return HResult::InvalidClass;
    return provider::enumerate(className);
}

Status Services::putInstance(const ClassObject& instance, PutFlags flags)
{
    if (serviceState() == ServiceState::Stopped)
        return HResult::ServerUnavailable;
    if (!m_state->hasFirmware)
        return HResult::InvalidClass;
    return provider::put(instance, flags);
}

namespace {

// The one query form event consumers use: "SELECT * FROM <class>", keywords
// in any case, any blanks between the words. The class, or the failure.
Result<std::u16string> parseEventQuery(std::u16string_view query)
{
    std::vector<std::u16string_view> words;
    while (!query.empty()) {
        size_t start = query.find_first_not_of(u" \t\r\n");
        if (start == std::u16string_view::npos)
            break;
        query.remove_prefix(start);
        size_t end = query.find_first_of(u" \t\r\n");
        words.push_back(query.substr(0, end));
        query.remove_prefix(end == std::u16string_view::npos ? query.size() : end);
    }
    if (words.size() < 4 || !text::equalsIgnoreCase(words[0], u"SELECT") || words[1] != u"*"
        || !text::equalsIgnoreCase(words[2], u"FROM"))
        return HResult::InvalidQuery;
    // FIXME: WITHIN and WHERE clauses are not understood; no program here
    // needs them, and a subscription that ignored them would deliver events
    // its consumer did not ask for.
    if (words.size() > 4)
        return HResult::NotSupported;
    return std::u16string(words[3]);
}

} // namespace

Status Services::execNotificationQueryAsync(
    std::u16string_view language, std::u16string_view query, NotificationFlags flags, std::shared_ptr<Sink> sink)
{
    if (!sink)
        return HResult::InvalidParameter;
    if (serviceState() == ServiceState::Stopped)
        return HResult::ServerUnavailable;
    if (!text::equalsIgnoreCase(language, u"WQL"))
        return HResult::InvalidQueryType;
    auto eventClass = parseEventQuery(query);
    if (!eventClass)
        return eventClass.error();
    if (!m_state->hasFirmware || provider::findClass(*eventClass) != provider::ClassKind::Event)
        return HResult::InvalidClass;
    auto subscription = events::Subscription::start(std::move(*eventClass), flags, std::move(sink));
    if (!subscription)
        return subscription.error();
    std::lock_guard lock(m_state->mutex);
    m_state->subscriptions.push_back(std::move(*subscription));
    return {};
}

Status Services::cancelAsyncCall(const std::shared_ptr<Sink>& sink)
{
    std::vector<std::shared_ptr<events::Subscription>> ending;
    {
        std::lock_guard lock(m_state->mutex);
        auto& subscriptions = m_state->subscriptions;
        for (auto it = subscriptions.begin(); it != subscriptions.end();) {
            if ((*it)->sink() == sink) {
                ending.push_back(std::move(*it));
                it = subscriptions.erase(it);
            } else {
                ++it;
            }
        }
    }
    if (ending.empty())
        return HResult::NotFound;
    // Outside the lock: a callback under way may itself call into this
    // connection before it returns.
    for (const auto& subscription : ending)
        subscription->cancel();
    return {};
}

// Locator

Result<std::shared_ptr<Services>> Locator::connectServer(std::u16string_view namespacePath) const
{
    auto path = splitNamespace(namespacePath);
    if (path.server != u"." && !text::equalsIgnoreCase(path.server, u"localhost"))
        return HResult::ServerUnavailable;
    if (serviceState() == ServiceState::Stopped)
        return HResult::ServerUnavailable;
    bool known = false;
    for (auto name : Namespaces)
        known = known || text::equalsIgnoreCase(path.name, name);
    if (!known)
        return HResult::InvalidNamespace;
    return std::make_shared<Services>(std::u16string(namespacePath));
}

} // namespace platform::wmi
