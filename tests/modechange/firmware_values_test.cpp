// The firmware values through WMI and the creation of the request events,
// in-process.

#include "modechange/firmware_values.h"
#include "modechange/requests.h"
#include "tests/modechange/service_fixture.h"

using namespace modechangetest;
using namespace modechange;
namespace wmi = platform::wmi;

namespace {

int32_t code(wmi::HResult result)
{
    return static_cast<int32_t>(wmi::toCode(result));
}

class FirmwareValuesTest : public testkit::MachineTest { };

TEST_F(FirmwareValuesTest, ReadsAndWritesTheNamedInstance)
{
    ASSERT_TRUE(platform::firmware::dock(0x0C));
    uint32_t value = 77;
    EXPECT_EQ(GetFirmwareValue(FirmwareDockState, value), 0);
    EXPECT_EQ(value, 0x0Cu);

    EXPECT_EQ(SetFirmwareValue(FirmwareBrightness, 5), 0);
    EXPECT_EQ(platform::firmware::read()->brightness, 5);
    EXPECT_EQ(GetFirmwareValue(FirmwareBrightness, value), 0);
    EXPECT_EQ(value, 5u);
}

TEST_F(FirmwareValuesTest, AMissingInstanceReadsAsSuccessAndLeavesTheValue)
{
    uint32_t value = 77;
    EXPECT_EQ(GetFirmwareValue(9, value), 0);
    EXPECT_EQ(value, 77u);
    EXPECT_EQ(SetFirmwareValue(9, 1), 0);
    EXPECT_EQ(journalCount("firmware.write"), 0u);

    ASSERT_TRUE(platform::firmware::setInstances(platform::firmware::Instances::Absent));
    EXPECT_EQ(GetFirmwareValue(FirmwareDockState, value), 0);
    EXPECT_EQ(value, 77u);
}

TEST_F(FirmwareValuesTest, RefusalsComeBackAsWmiCodes)
{
    uint32_t value = 77;
    EXPECT_EQ(SetFirmwareValue(FirmwareDockState, 4), code(wmi::HResult::AccessDenied)) << "the state is read only";

    ASSERT_TRUE(wmi::setServiceState(wmi::ServiceState::Stopped));
    EXPECT_EQ(GetFirmwareValue(FirmwareDockState, value), code(wmi::HResult::ServerUnavailable));
    EXPECT_EQ(value, 77u);
    EXPECT_EQ(SetFirmwareValue(FirmwareWireless, 1), code(wmi::HResult::ServerUnavailable));
}

TEST_F(FirmwareValuesTest, UseThePublishedConnectionOrConnectOfTheirOwn)
{
    auto connection = ConnectWmi();
    ASSERT_TRUE(connection);
    EXPECT_EQ(connection.value()->proxyBlanket(), serviceProxyBlanket());
    setWmiServices(connection.value());
    ASSERT_TRUE(platform::firmware::dock(0x04));
    uint32_t value = 0;
    EXPECT_EQ(GetFirmwareValue(FirmwareDockState, value), 0);
    EXPECT_EQ(value, 4u);

    // Without a published connection the operations connect on their own.
    setWmiServices(nullptr);
    ASSERT_TRUE(platform::firmware::dock(0x08));
    EXPECT_EQ(GetFirmwareValue(FirmwareDockState, value), 0);
    EXPECT_EQ(value, 8u);
}

class RequestEventsTest : public testkit::MachineTest {
protected:
    void TearDown() override
    {
        CloseRequestEvents();
        MachineTest::TearDown();
    }
};

TEST_F(RequestEventsTest, FailureCodesNameTheLastEventThatFailed)
{
    struct Case {
        const char* name;
        std::vector<std::u16string_view> takenByMutexes;
        int32_t result;
    };
    const Case cases[] = {
        { "all_created", {}, 0 },
        { "shutdown_taken", { common::EventModeChangeShutdown, common::EventToggleWireless }, 2 },
        { "monitor_stop_taken", { common::EventModeChangeShutdownThread }, 3 },
        { "adjust_profile_taken", { common::EventAdjustProfile }, 4 },
        { "wireless_taken", { common::EventToggleWireless }, 5 },
        { "brightness_and_orientation_taken", { common::EventAdjustScreenOrientation, common::EventToggleBrightness },
            6 },
        { "monitor_stop_and_wireless_taken", { common::EventModeChangeShutdownThread, common::EventToggleWireless },
            5 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<platform::sync::Handle> mutexes;
        for (auto name : c.takenByMutexes) {
            auto mutex = platform::sync::createMutex(name, platform::sync::InitialOwner::No);
            ASSERT_TRUE(mutex);
            mutexes.push_back(std::move(mutex->handle));
        }
        EXPECT_EQ(CreateRequestEvents(), c.result);
        const bool shutdownFailed = c.result == 2;
        EXPECT_EQ(platform::sync::openEvent(common::EventAdjustProfileAndScreenOrientation).ok(), !shutdownFailed)
            << "creation stops only at the shutdown event";
        CloseRequestEvents();
    }
}

} // namespace
