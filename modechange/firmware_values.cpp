#include "modechange/firmware_values.h"

#include "modechange/requests.h"

#include "platform/text.h"

#include <mutex>
#include <string>

namespace modechange {

namespace wmi = platform::wmi;

namespace {

// NOTE: the connection is shared between the monitor thread, which sets and
// releases it, and the threads that read firmware values. Each user takes
// its own reference under this lock, so a release never pulls the
// connection from under a call in progress.
std::mutex& servicesLock()
{
    static auto* lock = new std::mutex;
    return *lock;
}

std::shared_ptr<wmi::Services>& servicesSlot()
{
    static auto* slot = new std::shared_ptr<wmi::Services>;
    return *slot;
}

int32_t asCode(wmi::HResult result)
{
    return static_cast<int32_t>(wmi::toCode(result));
}

std::u16string instanceName(uint32_t instance)
{
    return u"ACPI\\PNP0C14\\0_" + platform::text::toUtf16(std::to_string(instance));
}

// The published connection, or a connection of the caller's own when no
// monitor holds one (the session is locked or the console disconnected).
wmi::Result<std::shared_ptr<wmi::Services>> servicesForCall()
{
    if (auto services = wmiServices())
        return services;
    return ConnectWmi();
}

enum class Access { Read, Write };

// The walk both operations share: every instance of the class is visited,
// and the one whose name matches is read or written.
int32_t visitInstance(uint32_t instance, Access access, uint32_t& value)
{
    auto services = servicesForCall();
    if (!services)
        return asCode(services.error());
    auto objects = (*services)->createInstanceEnum(u"keltoDockQuery", wmi::EnumerationFlags::Shallow);
    if (!objects)
        return asCode(objects.error());
    const std::u16string wanted = instanceName(instance);
    int32_t result = 0;
    for (auto& object : objects.value()) {
        auto name = object.getText(u"InstanceName");
        if (!name || !platform::text::equalsIgnoreCase(name.value(), wanted))
            continue;
        if (access == Access::Read) {
            auto state = object.getInt32(u"ulState");
            if (state) {
                value = static_cast<uint32_t>(state.value());
                result = 0;
            } else {
                result = -1;
            }
            continue;
        }
        auto put = object.put(u"ulState", static_cast<int32_t>(value));
        result = asCode(put.error());
        if (put.ok())
            result = asCode((*services)->putInstance(object, wmi::PutFlags::CreateOrUpdate).error());
    }
    return result;
}

} // namespace

wmi::ProxyBlanket serviceProxyBlanket()
{
    wmi::ProxyBlanket blanket;
    blanket.authenticationService = 10; // RPC_C_AUTHN_WINNT
    blanket.authorizationService = 0; // RPC_C_AUTHZ_NONE
    blanket.authenticationLevel = wmi::AuthenticationLevel::Call;
    blanket.impersonationLevel = wmi::ImpersonationLevel::Impersonate;
    blanket.capabilities = 0; // EOAC_NONE
    return blanket;
}

wmi::Result<std::shared_ptr<wmi::Services>> ConnectWmi()
{
    wmi::Locator locator;
    auto services = locator.connectServer(WmiNamespace);
    if (!services)
        return services.error();
    // The blanket's result is not examined: the connection works without it.
    (void)services.value()->setProxyBlanket(serviceProxyBlanket());
    return services;
}

void setWmiServices(std::shared_ptr<wmi::Services> services)
{
    std::shared_ptr<wmi::Services> released;
    {
        std::lock_guard lock(servicesLock());
        released = std::exchange(servicesSlot(), std::move(services));
    }
    // The old connection goes away outside the lock: its last reference
    // cancels subscriptions, which may wait for a callback in progress.
}

std::shared_ptr<wmi::Services> wmiServices()
{
    std::lock_guard lock(servicesLock());
    return servicesSlot();
}

int32_t GetFirmwareValue(uint32_t instance, uint32_t& value)
{
    return visitInstance(instance, Access::Read, value);
}

int32_t SetFirmwareValue(uint32_t instance, uint32_t value)
{
    return visitInstance(instance, Access::Write, value);
}

int32_t SetWirelessFromCommandLine(uint32_t request)
{
    auto services = ConnectWmi();
    if (!services)
        return -1;
    setWmiServices(services.value());
    int32_t result = SetFirmwareValue(FirmwareWireless, request);
    StoreWirelessState();
    setWmiServices(nullptr);
    return result;
}

} // namespace modechange
