#include "tests/testkit/machine_fixture.h"

#include "platform/config.h"
#include "platform/firmware.h"
#include "platform/journal.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "platform/wmi.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using platform::firmware::Radio;
using platform::wmi::HResult;
namespace firmware = platform::firmware;
namespace wmi = platform::wmi;

constexpr auto Patience = 10s;

testkit::Completed machineTool(const std::vector<std::string>& args)
{
    return testkit::run(testkit::systemProgram("tavio-machine"), args);
}

std::shared_ptr<wmi::Services> connect()
{
    auto services = wmi::Locator().connectServer(u"\\\\.\\root\\wmi");
    if (!services) {
        ADD_FAILURE() << "connect: " << wmi::describe(services.error());
        return nullptr;
    }
    return *services;
}

// The walk programs make: list "keltoDockQuery", pick the instance by name.
wmi::Result<wmi::ClassObject> findInstance(wmi::Services& services, uint32_t instance)
{
    auto instances = services.createInstanceEnum(firmware::DataClass, wmi::EnumerationFlags::Shallow);
    if (!instances)
        return instances.error();
    for (auto& object : *instances) {
        auto name = object.getText(u"InstanceName");
        if (name && platform::text::equalsIgnoreCase(*name, firmware::instanceName(instance)))
            return std::move(object);
    }
    return HResult::NotFound;
}

wmi::Result<int32_t> readValue(wmi::Services& services, uint32_t instance)
{
    auto object = findInstance(services, instance);
    if (!object)
        return object.error();
    return object->getInt32(u"ulState");
}

wmi::Status writeValue(wmi::Services& services, uint32_t instance, int32_t value)
{
    auto object = findInstance(services, instance);
    if (!object)
        return object.error();
    if (auto put = object->put(u"ulState", value); !put)
        return put;
    return services.putInstance(*object, wmi::PutFlags::CreateOrUpdate);
}

// Records every call the service makes; a hook may act inside indicate().
class RecordingSink : public wmi::Sink {
public:
    std::function<void()> onIndicate;

    HResult indicate(std::span<const wmi::ClassObject> objects) override
    {
        {
            std::lock_guard lock(m_mutex);
            ++m_inside;
            m_overlapped = m_overlapped || m_inside > 1;
            m_threads.push_back(std::this_thread::get_id());
            for (const auto& object : objects)
                m_classes.push_back(object.className());
        }
        if (onIndicate)
            onIndicate();
        std::lock_guard lock(m_mutex);
        --m_inside;
        ++m_indications;
        m_changed.notify_all();
        return HResult::Ok;
    }

    HResult setStatus(wmi::StatusFlags flags, HResult result, std::u16string_view, const wmi::ClassObject*) override
    {
        std::lock_guard lock(m_mutex);
        m_statuses.emplace_back(flags, result);
        return HResult::Ok;
    }

    bool waitForIndications(int count)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, Patience, [&] { return m_indications >= count; });
    }
    int indications()
    {
        std::lock_guard lock(m_mutex);
        return m_indications;
    }
    std::vector<std::thread::id> threads()
    {
        std::lock_guard lock(m_mutex);
        return m_threads;
    }
    std::vector<std::u16string> classes()
    {
        std::lock_guard lock(m_mutex);
        return m_classes;
    }
    std::vector<std::pair<wmi::StatusFlags, HResult>> statuses()
    {
        std::lock_guard lock(m_mutex);
        return m_statuses;
    }
    bool overlapped()
    {
        std::lock_guard lock(m_mutex);
        return m_overlapped;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_indications { 0 };
    int m_inside { 0 };
    bool m_overlapped { false };
    std::vector<std::thread::id> m_threads;
    std::vector<std::u16string> m_classes;
    std::vector<std::pair<wmi::StatusFlags, HResult>> m_statuses;
};

wmi::Status subscribe(wmi::Services& services, const std::shared_ptr<wmi::Sink>& sink,
    wmi::NotificationFlags flags = wmi::NotificationFlags::SendStatus)
{
    return services.execNotificationQueryAsync(u"WQL", u"SELECT * FROM keltoDockEvent", flags, sink);
}

// A one-shot gate between a callback thread and the test.
class Gate {
public:
    void open()
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    bool wait()
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, Patience, [&] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open { false };
};

// Waits, within a bounded time, for a condition another thread brings about
// and offers no event for.
bool eventually(const std::function<bool()>& condition)
{
    auto deadline = std::chrono::steady_clock::now() + Patience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

class WmiTest : public testkit::MachineTest { };

TEST_F(WmiTest, connectsToTheMachinesNamespacesOnly)
{
    struct Case {
        std::u16string_view path;
        HResult expected;
    };
    const Case cases[] = {
        { u"\\\\.\\root\\wmi", HResult::Ok },
        { u"root\\wmi", HResult::Ok },
        { u"//./ROOT/WMI", HResult::Ok },
        { u"\\\\localhost\\root\\wmi", HResult::Ok },
        { u"\\\\.\\root\\cimv2", HResult::Ok },
        { u"\\\\.\\root\\nothing", HResult::InvalidNamespace },
        { u"", HResult::InvalidNamespace },
        { u"\\\\OTHERPC\\root\\wmi", HResult::ServerUnavailable },
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(platform::text::toUtf8(testCase.path));
        auto services = wmi::Locator().connectServer(testCase.path);
        EXPECT_EQ(services.error(), testCase.expected) << wmi::describe(services.error());
    }
    // The firmware's classes live in root\wmi alone.
    auto other = wmi::Locator().connectServer(u"\\\\.\\root\\cimv2");
    ASSERT_TRUE(other);
    EXPECT_EQ(
        (*other)->createInstanceEnum(u"keltoDockQuery", wmi::EnumerationFlags::Shallow).error(), HResult::InvalidClass);
}

TEST_F(WmiTest, aStoppedServiceRefusesConnectionsAndCallsUntilItStartsAgain)
{
    auto services = connect();
    ASSERT_TRUE(services);
    ASSERT_EQ(machineTool({ "wmi", "stop" }).exitCode, 0);
    EXPECT_EQ(wmi::serviceState(), wmi::ServiceState::Stopped);

    auto refused = wmi::Locator().connectServer(u"\\\\.\\root\\wmi");
    EXPECT_EQ(refused.error(), HResult::ServerUnavailable);
    EXPECT_EQ(wmi::toCode(refused.error()), 0x800706BAu);
    EXPECT_EQ(services->createInstanceEnum(u"keltoDockQuery", wmi::EnumerationFlags::Shallow).error(),
        HResult::ServerUnavailable);
    EXPECT_EQ(subscribe(*services, std::make_shared<RecordingSink>()).error(), HResult::ServerUnavailable);

    ASSERT_EQ(machineTool({ "wmi", "start" }).exitCode, 0);
    EXPECT_TRUE(wmi::Locator().connectServer(u"\\\\.\\root\\wmi"));
    EXPECT_EQ(readValue(*services, 1).error(), HResult::Ok);
}

TEST_F(WmiTest, proxySecurityIsRecordedAndOutOfRangeLevelsRefused)
{
    auto services = connect();
    ASSERT_TRUE(services);
    wmi::ProxyBlanket blanket;
    blanket.authenticationLevel = wmi::AuthenticationLevel::Call;
    blanket.impersonationLevel = wmi::ImpersonationLevel::Impersonate;
    EXPECT_TRUE(services->setProxyBlanket(blanket));
    EXPECT_EQ(services->proxyBlanket(), blanket);

    wmi::ProxyBlanket bad = blanket;
    bad.authenticationLevel = static_cast<wmi::AuthenticationLevel>(7);
    EXPECT_EQ(services->setProxyBlanket(bad).error(), HResult::InvalidArgument);
    EXPECT_EQ(services->proxyBlanket(), blanket);
}

TEST_F(WmiTest, listsTheThreeFirmwareInstancesWithTheirValues)
{
    ASSERT_TRUE(firmware::dock(0x0C));
    ASSERT_TRUE(firmware::setRadio(Radio::On));
    auto services = connect();
    ASSERT_TRUE(services);
    auto instances = services->createInstanceEnum(u"KELTODOCKQUERY", wmi::EnumerationFlags::Shallow);
    ASSERT_TRUE(instances) << wmi::describe(instances.error());
    ASSERT_EQ(instances->size(), 3u);
    const std::u16string_view names[] = { u"ACPI\\PNP0C14\\0_0", u"ACPI\\PNP0C14\\0_1", u"ACPI\\PNP0C14\\0_2" };
    const int32_t values[] = { 0x0C, 3, 0 };
    for (size_t i = 0; i < 3; ++i) {
        const auto& object = (*instances)[i];
        EXPECT_EQ(object.className(), u"keltoDockQuery");
        EXPECT_EQ(object.getText(u"InstanceName").value(), names[i]);
        EXPECT_EQ(object.getInt32(u"ulstate").value(), values[i]) << "instance " << i;
        EXPECT_EQ(object.getInt32(u"InstanceName").error(), HResult::TypeMismatch);
        EXPECT_EQ(object.get(u"Active").error(), HResult::NotFound);
    }

    EXPECT_EQ(
        services->createInstanceEnum(u"keltoNothing", wmi::EnumerationFlags::Shallow).error(), HResult::InvalidClass);
    auto events = services->createInstanceEnum(u"keltoDockEvent", wmi::EnumerationFlags::Shallow);
    ASSERT_TRUE(events);
    EXPECT_TRUE(events->empty());

    // A firmware without the mapping: no instances, so reads find nothing.
    ASSERT_TRUE(firmware::setInstances(firmware::Instances::Absent));
    auto none = services->createInstanceEnum(u"keltoDockQuery", wmi::EnumerationFlags::Shallow);
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
}

TEST_F(WmiTest, putChecksTheClassesPropertiesAndTypesOnTheCopy)
{
    auto services = connect();
    ASSERT_TRUE(services);
    auto object = findInstance(*services, 2);
    ASSERT_TRUE(object);
    EXPECT_EQ(object->put(u"ulState", std::u16string(u"5")).error(), HResult::TypeMismatch);
    EXPECT_EQ(object->put(u"Brightness", 5).error(), HResult::NotFound);
    EXPECT_TRUE(object->put(u"ulState", 5));
    EXPECT_EQ(object->getInt32(u"ulState").value(), 5);
    // Only putInstance reaches the firmware.
    EXPECT_EQ(firmware::read()->brightness, 0);
    EXPECT_TRUE(firmware::read());
    EXPECT_TRUE(platform::journal::read("firmware.write").empty());
}

TEST_F(WmiTest, theRadioAnswersWritesAsTheFirmwareDoes)
{
    struct Case {
        const char* name;
        Radio radio;
        int32_t written;
        int32_t readBack;
        const char* effect;
    };
    const Case cases[] = {
        { "off, asked on", Radio::Off, 1, 3, "radio on" },
        { "on, asked off", Radio::On, 2, 1, "radio off" },
        { "on, asked on", Radio::On, 1, 3, "radio on" },
        { "off, unknown request", Radio::Off, 7, 1, "ignored" },
        { "no radio, asked on", Radio::None, 1, 0, "ignored" },
        { "no radio, asked off", Radio::None, 2, 0, "ignored" },
    };
    auto services = connect();
    ASSERT_TRUE(services);
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        ASSERT_TRUE(firmware::setRadio(testCase.radio));
        size_t journaled = platform::journal::read("firmware.write").size();
        EXPECT_TRUE(writeValue(*services, 1, testCase.written));
        EXPECT_EQ(readValue(*services, 1).valueOr(-1), testCase.readBack);
        auto writes = platform::journal::read("firmware.write");
        ASSERT_EQ(writes.size(), journaled + 1);
        EXPECT_EQ(writes.back().field("instance"), "1");
        EXPECT_EQ(writes.back().field("value"), std::to_string(testCase.written));
        EXPECT_EQ(writes.back().field("effect"), testCase.effect);
    }
}

TEST_F(WmiTest, brightnessReachesTheFirmwareAndTheDockingStateIsReadOnly)
{
    ASSERT_TRUE(firmware::dock(0x02));
    auto services = connect();
    ASSERT_TRUE(services);
    EXPECT_TRUE(writeValue(*services, 2, 1));
    EXPECT_EQ(firmware::read()->brightness, 1);
    EXPECT_EQ(readValue(*services, 2).valueOr(-1), 1);

    EXPECT_EQ(writeValue(*services, 0, 0x08).error(), HResult::AccessDenied);
    EXPECT_EQ(firmware::read()->dockState, 0x02u);

    auto writes = platform::journal::read("firmware.write");
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].field("instance"), "2");
    EXPECT_EQ(writes[0].field("effect"), "brightness");
    EXPECT_EQ(writes[1].field("result"), "WBEM_E_ACCESS_DENIED");
}

TEST_F(WmiTest, aDamagedFirmwareStateIsReportedAndKept)
{
    ASSERT_TRUE(platform::config::set("firmware", "1 dock=twelve"));
    auto services = connect();
    ASSERT_TRUE(services);
    EXPECT_EQ(services->createInstanceEnum(u"keltoDockQuery", wmi::EnumerationFlags::Shallow).error(),
        HResult::ProviderFailure);
    EXPECT_EQ(firmware::writeValue(2, 1).error(), HResult::ProviderFailure);
    EXPECT_FALSE(firmware::dock(4));
    EXPECT_EQ(platform::config::get("firmware"), "1 dock=twelve");
}

TEST_F(WmiTest, refusesQueriesItCannotServe)
{
    auto services = connect();
    ASSERT_TRUE(services);
    auto sink = std::make_shared<RecordingSink>();
    struct Case {
        std::u16string_view language;
        std::u16string_view query;
        HResult expected;
    };
    const Case cases[] = {
        { u"SQL", u"SELECT * FROM keltoDockEvent", HResult::InvalidQueryType },
        { u"WQL", u"SELECT FROM keltoDockEvent", HResult::InvalidQuery },
        { u"WQL", u"", HResult::InvalidQuery },
        { u"WQL", u"SELECT * FROM keltoDockQuery", HResult::InvalidClass },
        { u"WQL", u"SELECT * FROM keltoNothing", HResult::InvalidClass },
        { u"WQL", u"SELECT * FROM keltoDockEvent WITHIN 5", HResult::NotSupported },
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(platform::text::toUtf8(testCase.query));
        EXPECT_EQ(
            services->execNotificationQueryAsync(testCase.language, testCase.query, wmi::NotificationFlags::None, sink)
                .error(),
            testCase.expected);
    }
    EXPECT_EQ(subscribe(*services, nullptr).error(), HResult::InvalidParameter);
    EXPECT_EQ(services->cancelAsyncCall(sink).error(), HResult::NotFound);
    EXPECT_TRUE(wmi::liveSubscriptions().empty());
}

TEST_F(WmiTest, aDockInAnotherProcessReachesTheSinkOnAThreadOfTheService)
{
    auto services = connect();
    ASSERT_TRUE(services);
    auto sink = std::make_shared<RecordingSink>();
    wmi::Result<int32_t> stateSeen = HResult::Failed;
    sink->onIndicate = [&] { stateSeen = readValue(*services, 0); };
    ASSERT_TRUE(services->execNotificationQueryAsync(
        u"wql", u"select  *  from  KELTODOCKEVENT", wmi::NotificationFlags::None, sink));
    EXPECT_EQ(wmi::liveSubscriptions(), std::vector<std::u16string> { u"KELTODOCKEVENT" });

    auto docked = machineTool({ "firmware", "dock", "0x0C" });
    ASSERT_EQ(docked.exitCode, 0) << docked.output;
    ASSERT_TRUE(sink->waitForIndications(1));

    EXPECT_NE(sink->threads().at(0), std::this_thread::get_id());
    EXPECT_EQ(sink->classes(), std::vector<std::u16string> { u"KELTODOCKEVENT" });
    EXPECT_EQ(stateSeen.valueOr(-1), 0x0C);
    auto raised = platform::journal::read("firmware.event");
    ASSERT_EQ(raised.size(), 1u);
    EXPECT_EQ(raised[0].field("dock"), "12");
    EXPECT_EQ(raised[0].field("subscribers"), "1");
    EXPECT_TRUE(services->cancelAsyncCall(sink));
}

TEST_F(WmiTest, eventsInQuickSuccessionAreAllDeliveredOneCallAtATime)
{
    auto services = connect();
    ASSERT_TRUE(services);
    auto first = std::make_shared<RecordingSink>();
    auto second = std::make_shared<RecordingSink>();
    // A slow sink must not lose the events raised while it works.
    Gate release;
    first->onIndicate = [&] { EXPECT_TRUE(release.wait()); };
    ASSERT_TRUE(subscribe(*services, first));
    ASSERT_TRUE(subscribe(*services, second));

    const uint32_t states[] = { 0x01, 0x04, 0x08, 0x10, 0x20 };
    for (uint32_t state : states)
        EXPECT_EQ(firmware::raiseDockEvent(), 2u) << state;
    ASSERT_TRUE(second->waitForIndications(5));
    release.open();
    ASSERT_TRUE(first->waitForIndications(5));
    EXPECT_FALSE(first->overlapped());
    EXPECT_EQ(first->indications(), 5);
    EXPECT_EQ(second->indications(), 5);
    EXPECT_TRUE(services->cancelAsyncCall(first));
    EXPECT_TRUE(services->cancelAsyncCall(second));
}

TEST_F(WmiTest, noCallbackRunsAfterCancelReturnsEvenWhenItCameDuringADelivery)
{
    auto services = connect();
    ASSERT_TRUE(services);
    auto sink = std::make_shared<RecordingSink>();
    Gate entered, release;
    std::atomic<bool> deliveryFinished { false };
    sink->onIndicate = [&] {
        entered.open();
        EXPECT_TRUE(release.wait());
        deliveryFinished = true;
    };
    ASSERT_TRUE(subscribe(*services, sink));
    firmware::raiseDockEvent();
    ASSERT_TRUE(entered.wait());
    // These wait in the subscription's count while the first is delivered.
    firmware::raiseDockEvent();
    firmware::raiseDockEvent();

    std::atomic<bool> finishedWhenCancelReturned { false };
    std::thread canceller([&] {
        EXPECT_TRUE(services->cancelAsyncCall(sink));
        finishedWhenCancelReturned = deliveryFinished.load();
    });
    // Cancel withdraws the registration before it waits for the delivery.
    EXPECT_TRUE(eventually([] { return wmi::liveSubscriptions().empty(); }));
    release.open();
    canceller.join();
    EXPECT_TRUE(finishedWhenCancelReturned);
    EXPECT_EQ(sink->statuses(),
        (std::vector<std::pair<wmi::StatusFlags, HResult>> { { wmi::StatusFlags::Complete, HResult::CallCancelled } }));
    EXPECT_TRUE(wmi::liveSubscriptions().empty());

    // A later event reaches a second subscriber and not the cancelled one.
    auto control = std::make_shared<RecordingSink>();
    ASSERT_TRUE(subscribe(*services, control));
    EXPECT_EQ(firmware::raiseDockEvent(), 1u);
    ASSERT_TRUE(control->waitForIndications(1));
    EXPECT_EQ(sink->indications(), 1);
    EXPECT_EQ(services->cancelAsyncCall(sink).error(), HResult::NotFound);
    EXPECT_TRUE(services->cancelAsyncCall(control));
}

TEST_F(WmiTest, aSinkMayCancelItselfFromItsOwnCallback)
{
    auto services = connect();
    ASSERT_TRUE(services);
    auto sink = std::make_shared<RecordingSink>();
    std::weak_ptr<RecordingSink> weakSink = sink;
    wmi::Status cancelled = HResult::Failed;
    sink->onIndicate = [&] { cancelled = services->cancelAsyncCall(weakSink.lock()); };
    ASSERT_TRUE(subscribe(*services, sink));
    firmware::raiseDockEvent();
    ASSERT_TRUE(sink->waitForIndications(1));
    EXPECT_TRUE(cancelled);

    auto control = std::make_shared<RecordingSink>();
    ASSERT_TRUE(subscribe(*services, control));
    EXPECT_EQ(firmware::raiseDockEvent(), 1u);
    ASSERT_TRUE(control->waitForIndications(1));
    EXPECT_EQ(sink->indications(), 1);
    // Its last call was the one it cancelled from.
    EXPECT_TRUE(sink->statuses().empty());
    EXPECT_TRUE(services->cancelAsyncCall(control));
}

TEST_F(WmiTest, theLastReferenceToAConnectionEndsItsSubscriptions)
{
    auto services = connect();
    ASSERT_TRUE(services);
    auto sink = std::make_shared<RecordingSink>();
    ASSERT_TRUE(subscribe(*services, sink));
    services.reset();
    EXPECT_TRUE(wmi::liveSubscriptions().empty());
    EXPECT_EQ(firmware::raiseDockEvent(), 0u);
    EXPECT_EQ(sink->statuses().size(), 1u);
    EXPECT_EQ(sink->indications(), 0);
}

TEST_F(WmiTest, eventsRaisedWhileTheServiceIsStoppedReachNobody)
{
    auto services = connect();
    ASSERT_TRUE(services);
    auto sink = std::make_shared<RecordingSink>();
    ASSERT_TRUE(subscribe(*services, sink));
    ASSERT_TRUE(wmi::setServiceState(wmi::ServiceState::Stopped));
    EXPECT_EQ(firmware::raiseDockEvent(), 0u);
    ASSERT_TRUE(wmi::setServiceState(wmi::ServiceState::Running));
    EXPECT_EQ(firmware::raiseDockEvent(), 1u);
    ASSERT_TRUE(sink->waitForIndications(1));
    EXPECT_EQ(sink->indications(), 1);
    EXPECT_TRUE(services->cancelAsyncCall(sink));
}

TEST_F(WmiTest, aKilledSubscriberProcessIsDroppedAtTheNextRaise)
{
    auto services = connect();
    ASSERT_TRUE(services);
    auto sink = std::make_shared<RecordingSink>();
    ASSERT_TRUE(subscribe(*services, sink));

    auto ready = platform::sync::createEvent(
        u"wmi-test-subscriber-ready", platform::sync::ResetMode::Manual, platform::sync::InitialState::NotSignalled);
    ASSERT_TRUE(ready);
    auto child = testkit::spawn(testkit::helperProgram("wmi_subscriber"), { "wmi-test-subscriber-ready" });
    auto waited = platform::sync::waitOne(ready->handle, Patience);
    ASSERT_TRUE(waited && waited->signalled()) << "the subscriber did not start";
    EXPECT_EQ(wmi::liveSubscriptions().size(), 2u);
    child.kill();

    EXPECT_EQ(firmware::raiseDockEvent(), 1u);
    ASSERT_TRUE(sink->waitForIndications(1));
    EXPECT_EQ(platform::config::list("wmi.subscription.").size(), 1u);
    EXPECT_EQ(firmware::raiseDockEvent(), 1u);
    ASSERT_TRUE(sink->waitForIndications(2));
    EXPECT_TRUE(services->cancelAsyncCall(sink));
}

} // namespace
