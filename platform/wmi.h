#pragma once

#include "platform/result.h"

#include <cassert>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace platform::wmi {

// The machine's management service: a locator that connects to a namespace,
// instance enumeration and update of the classes that providers serve, and
// asynchronous event subscriptions. The only provider is the machine's
// firmware (firmware.h) in "\\.\root\wmi": its data class "keltoDockQuery"
// and its event class "keltoDockEvent".
//
// The service can be stopped and started (machine configuration "wmi.running",
// `tavio-machine wmi stop|start`); while it is stopped every call that needs
// it fails with ServerUnavailable and raised events reach nobody.

// The platform's HRESULT values that this service returns, with their numbers.
// Codes that callers pass on unchanged keep the platform's numbering.
enum class HResult : uint32_t {
    Ok = 0x00000000, // WBEM_S_NO_ERROR
    False = 0x00000001, // WBEM_S_FALSE
    NoInterface = 0x80004002, // E_NOINTERFACE
    InvalidArgument = 0x80070057, // E_INVALIDARG
    Failed = 0x80041001, // WBEM_E_FAILED
    NotFound = 0x80041002, // WBEM_E_NOT_FOUND
    AccessDenied = 0x80041003, // WBEM_E_ACCESS_DENIED
    ProviderFailure = 0x80041004, // WBEM_E_PROVIDER_FAILURE
    TypeMismatch = 0x80041005, // WBEM_E_TYPE_MISMATCH
    InvalidParameter = 0x80041008, // WBEM_E_INVALID_PARAMETER
    NotSupported = 0x8004100C, // WBEM_E_NOT_SUPPORTED
    InvalidNamespace = 0x8004100E, // WBEM_E_INVALID_NAMESPACE
    InvalidObject = 0x8004100F, // WBEM_E_INVALID_OBJECT
    InvalidClass = 0x80041010, // WBEM_E_INVALID_CLASS
    InvalidQuery = 0x80041017, // WBEM_E_INVALID_QUERY
    InvalidQueryType = 0x80041018, // WBEM_E_INVALID_QUERY_TYPE
    AlreadyExists = 0x80041019, // WBEM_E_ALREADY_EXISTS
    CallCancelled = 0x80041032, // WBEM_E_CALL_CANCELLED
    ServerUnavailable = 0x800706BA, // RPC_S_SERVER_UNAVAILABLE as an HRESULT: the service is stopped
};

constexpr uint32_t toCode(HResult result)
{
    return static_cast<uint32_t>(result);
}
// Success codes have the severity bit clear (WBEM_S_FALSE succeeds too).
constexpr bool succeeded(HResult result)
{
    return (toCode(result) & 0x80000000u) == 0;
}

// "WBEM_E_NOT_FOUND"; "HRESULT" for a code this service never returns.
std::string_view hresultName(HResult result);
// "0x80041002 (WBEM_E_NOT_FOUND)"
std::string describe(HResult result);

} // namespace platform::wmi

template <> struct platform::ErrorTraits<platform::wmi::HResult> {
    static constexpr wmi::HResult success = wmi::HResult::Ok;
    static constexpr bool failed(wmi::HResult result) { return !wmi::succeeded(result); }
};

namespace platform::wmi {

// The outcome of a call: a value, or a failing HResult.
template <typename T> using Result = platform::Result<T, HResult>;
// The outcome of a call without a value: the HResult itself (WBEM_S_FALSE
// succeeds too).
using Status = platform::Result<void, HResult>;

// A property value as the platform's variants carry them here: VT_NULL,
// VT_I4 (a 32-bit integer) or VT_BSTR (text).
using Value = std::variant<std::monostate, int32_t, std::u16string>;

// A local copy of one instance: changes made with put() stay in this copy
// until Services::putInstance writes them back to the provider.
class ClassObject {
public:
    ClassObject() = default;
    explicit ClassObject(std::u16string className)
        : m_className(std::move(className))
    { }

    const std::u16string& className() const { return m_className; }

    // NotFound when the object has no such property (names ignore case).
    Result<Value> get(std::u16string_view property) const;
    // TypeMismatch when the property holds no 32-bit integer / no text.
    Result<int32_t> getInt32(std::u16string_view property) const;
    Result<std::u16string> getText(std::u16string_view property) const;

    // Changes a property of the copy. The set of properties is fixed by the
    // class (NotFound for others) and each keeps its type (TypeMismatch; a
    // null value is always accepted).
    Status put(std::u16string_view property, Value value);

    std::vector<std::u16string> propertyNames() const;

    // For providers: adds a property to an object they are building.
    void define(std::u16string property, Value value);

private:
    std::u16string m_className;
    std::vector<std::pair<std::u16string, Value>> m_properties;
};

// RPC_C_AUTHN_LEVEL_* and RPC_C_IMP_LEVEL_*, with their numbers.
enum class AuthenticationLevel : uint32_t {
    Default = 0,
    None = 1,
    Connect = 2,
    Call = 3,
    Packet = 4,
    PacketIntegrity = 5,
    PacketPrivacy = 6,
};
enum class ImpersonationLevel : uint32_t {
    Default = 0,
    Anonymous = 1,
    Identify = 2,
    Impersonate = 3,
    Delegate = 4,
};

// The proxy security of a connection. The machine has one user and no
// network, so the service records the blanket and checks nothing against it.
struct ProxyBlanket {
    uint32_t authenticationService { 10 }; // RPC_C_AUTHN_WINNT
    uint32_t authorizationService { 0 }; // RPC_C_AUTHZ_NONE
    AuthenticationLevel authenticationLevel { AuthenticationLevel::Default };
    ImpersonationLevel impersonationLevel { ImpersonationLevel::Default };
    uint32_t capabilities { 0 }; // EOAC_NONE

    bool operator==(const ProxyBlanket&) const = default;
};

enum class EnumerationFlags : uint32_t {
    Deep = 0, // WBEM_FLAG_DEEP
    Shallow = 1, // WBEM_FLAG_SHALLOW
};
enum class PutFlags : uint32_t {
    CreateOrUpdate = 0, // WBEM_FLAG_CREATE_OR_UPDATE
    UpdateOnly = 1, // WBEM_FLAG_UPDATE_ONLY
    CreateOnly = 2, // WBEM_FLAG_CREATE_ONLY
};
enum class NotificationFlags : uint32_t {
    None = 0,
    SendStatus = 0x80, // WBEM_FLAG_SEND_STATUS: the sink also hears how the call ends
};
// The first argument of Sink::setStatus (WBEM_STATUS_*).
enum class StatusFlags : uint32_t {
    Complete = 0,
    Requirements = 1,
    Progress = 2,
};

// The receiver of an asynchronous call. The service keeps a reference for as
// long as the call lasts and calls it only on threads of its own, never on
// the thread that made the call; two calls for one subscription never
// overlap, calls of different subscriptions may.
class Sink {
public:
    virtual ~Sink() = default;
    // One delivery of one or more objects (here: one event per call).
    virtual HResult indicate(std::span<const ClassObject> objects) = 0;
    // How the call ended, when it was made with NotificationFlags::SendStatus.
    virtual HResult setStatus(StatusFlags flags, HResult result, std::u16string_view text, const ClassObject* object)
        = 0;
};

// A connection to one namespace, made by Locator::connectServer. Shared by
// every thread of the process that uses it; the last reference cancels the
// subscriptions still running.
class Services {
public:
    explicit Services(std::u16string namespacePath);
    ~Services();
    Services(const Services&) = delete;
    Services& operator=(const Services&) = delete;

    const std::u16string& namespacePath() const { return m_namespacePath; }

    // InvalidArgument for levels outside the platform's range.
    Status setProxyBlanket(const ProxyBlanket& blanket);
    ProxyBlanket proxyBlanket() const;

    // Every instance of the class, read from its provider now. InvalidClass
    // for a class the namespace does not have.
    Result<std::vector<ClassObject>> createInstanceEnum(std::u16string_view className, EnumerationFlags flags);
    // Writes an instance back to its provider.
    Status putInstance(const ClassObject& instance, PutFlags flags);

    // Subscribes `sink` to the events a query selects ("SELECT * FROM
    // keltoDockEvent" in the language "WQL"), from any process of the
    // machine. Returns once the subscription is in place.
    Status execNotificationQueryAsync(
        std::u16string_view language, std::u16string_view query, NotificationFlags flags, std::shared_ptr<Sink> sink);
    // Ends every call made with this sink. When it returns no callback of
    // those calls runs any more (one under way has finished), unless it is
    // called from that very callback, which then is the last. NotFound when
    // the sink has no call here.
    Status cancelAsyncCall(const std::shared_ptr<Sink>& sink);

private:
    const std::u16string m_namespacePath;
    struct State;
    std::unique_ptr<State> m_state;
};

class Locator {
public:
    // Connects to a namespace of this machine: "\\.\root\wmi" (also
    // "root\wmi", "\\localhost\...", either slash, any case). ServerUnavailable
    // when the service is stopped or another machine is named,
    // InvalidNamespace for a namespace the machine does not have.
    Result<std::shared_ptr<Services>> connectServer(std::u16string_view namespacePath) const;
};

// Starting and stopping the service, as an administrator does (the machine
// tool's `wmi stop|start`).
enum class ServiceState { Running, Stopped };
ServiceState serviceState();
platform::Status setServiceState(ServiceState state);

// The event classes that have live subscriptions on the machine, one entry
// per subscription ("keltoDockEvent"), after dropping those whose process
// ended.
std::vector<std::u16string> liveSubscriptions();

} // namespace platform::wmi
