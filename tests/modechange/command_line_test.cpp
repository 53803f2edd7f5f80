// The service's command line: how switches are found, and what the real
// program does with each.

#include "modechange/command_line.h"
#include "modechange/service.h"
#include "tests/modechange/service_fixture.h"

#include "platform/text.h"

using namespace modechangetest;
using modechange::NextSwitch;

namespace {

TEST(NextSwitch, ReturnsTheRestAfterTheFirstMark)
{
    struct Case {
        std::u16string_view text;
        std::optional<std::u16string_view> rest;
    };
    const Case cases[] = {
        { u"Modewatch.exe -Start", u"Start" },
        { u"Modewatch.exe /start", u"start" },
        { u"Modewatch.exe -Start -Stop", u"Start -Stop" },
        { u"C:\\My-Tools\\Modewatch.exe -Stop", u"Tools\\Modewatch.exe -Stop" },
        { u"Modewatch.exe -", u"" },
        { u"Modewatch.exe Start", std::nullopt },
        { u"", std::nullopt },
    };
    for (const auto& c : cases) {
        const std::string text = platform::text::toUtf8(c.text);
        auto rest = NextSwitch(c.text, modechange::SwitchMarks);
        ASSERT_EQ(rest.has_value(), c.rest.has_value()) << text;
        if (rest) {
            EXPECT_EQ(platform::text::toUtf8(*rest), platform::text::toUtf8(*c.rest)) << text;
        }
    }
}

TEST(NextSwitch, WalksFromSwitchToSwitch)
{
    std::vector<std::string> rests;
    const std::u16string_view line = u"\"C:\\Program Files\\Tavio Menu\\Modewatch.exe\" /x -Start";
    for (auto rest = NextSwitch(line, modechange::SwitchMarks); rest; rest = NextSwitch(*rest, u"-/"))
        rests.push_back(platform::text::toUtf8(*rest));
    EXPECT_EQ(rests, (std::vector<std::string> { "x -Start", "Start" }));
}

class CommandLineTest : public ServiceMachineTest { };

TEST_F(CommandLineTest, StartAtTheEndOfTheLineMakesTheServiceResident)
{
    for (std::u16string_view line : { u"-Start", u"/start", u"-x -START" }) {
        SCOPED_TRACE(platform::text::toUtf8(line));
        startService(line);
        EXPECT_EQ(shutDownService(), 0u);
    }
}

TEST_F(CommandLineTest, AnythingAfterStartLeavesTheProgramToEndAtOnce)
{
    for (std::u16string_view line : { u"-Start ", u"-Start -Unknown", u"Start", u"-Starting", u"" }) {
        SCOPED_TRACE(platform::text::toUtf8(line));
        EXPECT_EQ(runProgram(line), 0u);
        EXPECT_EQ(waitersOn(common::EventModeChangeShutdown), 0u);
        EXPECT_EQ(liveDockSubscriptions(), 0u);
    }
    EXPECT_EQ(journalCount("wmi.subscribe"), 0u) << "no dock monitor ever ran";
}

TEST_F(CommandLineTest, StopWithNothingResidentEndsWithZero)
{
    EXPECT_EQ(runProgram(u"-Stop"), 0u);
}

class WaitMonitorStoppedTest : public testkit::MachineTest { };

TEST_F(WaitMonitorStoppedTest, TakesTheSemaphoreOrReportsThatThereIsNone)
{
    // No monitor ever ran: there is nothing to wait for.
    EXPECT_EQ(modechange::WaitMonitorStopped(common::SemaphoreModeChangeRunning), -2);

    auto semaphore = platform::sync::createSemaphore(common::SemaphoreModeChangeRunning, 1, 10);
    ASSERT_TRUE(semaphore);
    EXPECT_EQ(modechange::WaitMonitorStopped(common::SemaphoreModeChangeRunning), 0);
    EXPECT_EQ(platform::sync::releaseSemaphore(semaphore->handle, 1).valueOr(-1), 0) << "the count was taken";
}

TEST_F(CommandLineTest, StopEndsTheResidentService)
{
    startService();
    EXPECT_EQ(runProgram(u"/STOP"), 0u);
    auto code = service().wait(20s);
    ASSERT_TRUE(code) << "the resident service did not end";
    EXPECT_EQ(code.value(), 0u);
    EXPECT_TRUE(waitUntil([] { return liveDockSubscriptions() == 0; }));
}

TEST_F(CommandLineTest, WirelessSwitchesEndWithTheFirmwareResult)
{
    ASSERT_TRUE(platform::firmware::setRadio(platform::firmware::Radio::On));
    EXPECT_EQ(runProgram(u"-Wireless_off"), 0u);
    EXPECT_EQ(firmwareWrites("1"), (std::vector<std::string> { "2" }));
    EXPECT_EQ(userValue(common::ValueWireless), 1u) << "the state read back is stored";

    EXPECT_EQ(runProgram(u"/wireless_ON"), 0u);
    EXPECT_EQ(firmwareWrites("1"), (std::vector<std::string> { "2", "1" }));
    EXPECT_EQ(userValue(common::ValueWireless), 3u);
}

TEST_F(CommandLineTest, WirelessSwitchWithoutWmiEndsWithMinusOne)
{
    ASSERT_TRUE(platform::wmi::setServiceState(platform::wmi::ServiceState::Stopped));
    // -1 as the host's 8-bit exit status.
    EXPECT_EQ(runProgram(u"-Wireless_off"), 255u);
    EXPECT_TRUE(firmwareWrites("1").empty());
    EXPECT_FALSE(userValue(common::ValueWireless));
}

} // namespace
