// A process that subscribes to "keltoDockEvent" and then stays, for the WMI
// tests that end a subscriber without letting it cancel:
//   wmi_subscriber READY   subscribe, set the event READY, block forever

#include "platform/sync.h"
#include "platform/text.h"
#include "platform/wmi.h"

#include <cstdlib>

using namespace platform;

namespace {

class IgnoringSink : public wmi::Sink {
public:
    wmi::HResult indicate(std::span<const wmi::ClassObject>) override { return wmi::HResult::Ok; }
    wmi::HResult setStatus(wmi::StatusFlags, wmi::HResult, std::u16string_view, const wmi::ClassObject*) override
    {
        return wmi::HResult::Ok;
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 64;
    auto services = wmi::Locator().connectServer(u"\\\\.\\root\\wmi");
    if (!services)
        return 10;
    auto subscribed = (*services)->execNotificationQueryAsync(
        u"WQL", u"SELECT * FROM keltoDockEvent", wmi::NotificationFlags::None, std::make_shared<IgnoringSink>());
    if (!subscribed)
        return 11;
    auto ready = sync::openEvent(text::toUtf16(argv[1]));
    if (!ready || !sync::setEvent(*ready))
        return 12;
    auto never = sync::createEvent(u"", sync::ResetMode::Manual, sync::InitialState::NotSignalled);
    if (!never)
        return 13;
    (void)sync::waitOne(never->handle, sync::Infinite);
    return 0;
}
