#include "tests/testkit/machine_fixture.h"

#include "platform/config.h"
#include "platform/firmware.h"
#include "platform/journal.h"
#include "platform/wmi.h"

namespace {

using platform::firmware::Radio;
namespace firmware = platform::firmware;
namespace wmi = platform::wmi;

testkit::Completed machineTool(const std::vector<std::string>& args)
{
    return testkit::run(testkit::systemProgram("tavio-machine"), args);
}

class FirmwareToolTest : public testkit::MachineTest { };

TEST_F(FirmwareToolTest, showsTheValuesAsProgramsReadThem)
{
    ASSERT_TRUE(firmware::dock(0x0C));
    ASSERT_TRUE(firmware::setRadio(Radio::On));
    ASSERT_TRUE(firmware::writeValue(2, 4));
    auto shown = machineTool({ "firmware" });
    EXPECT_EQ(shown.exitCode, 0) << shown.output;
    EXPECT_EQ(shown.output,
        "ACPI\\PNP0C14\\0_0  ulState 0x0000000C  (docking state)\n"
        "ACPI\\PNP0C14\\0_1  ulState 3  (wireless: radio on)\n"
        "ACPI\\PNP0C14\\0_2  ulState 4  (brightness)\n");

    ASSERT_EQ(machineTool({ "firmware", "instances", "absent" }).exitCode, 0);
    EXPECT_NE(machineTool({ "firmware" }).output.find("no instances"), std::string::npos);
}

TEST_F(FirmwareToolTest, dockTakesDecimalOrHexAndRaisesTheEvent)
{
    for (const auto& [text, state] : { std::pair { "0x0C", 0x0Cu }, std::pair { "2", 2u } }) {
        SCOPED_TRACE(text);
        auto docked = machineTool({ "firmware", "dock", text });
        EXPECT_EQ(docked.exitCode, 0) << docked.output;
        EXPECT_EQ(firmware::read()->dockState, state);
    }
    auto raised = platform::journal::read("firmware.event");
    ASSERT_EQ(raised.size(), 2u);
    EXPECT_EQ(raised[0].field("dock"), "12");
    EXPECT_EQ(raised[1].field("dock"), "2");
}

TEST_F(FirmwareToolTest, radioAndSetChangeWhatTheFirmwareReports)
{
    struct Step {
        std::vector<std::string> args;
        int32_t wireless; // instance 1 afterwards
    };
    const Step steps[] = {
        { { "firmware", "radio", "on" }, 3 },
        { { "firmware", "radio", "present" }, 3 }, // a fitted radio keeps its power
        { { "firmware", "set", "1", "2" }, 1 },
        { { "firmware", "radio", "none" }, 0 },
        { { "firmware", "set", "1", "1" }, 0 }, // nothing to switch on
        { { "firmware", "radio", "present" }, 1 },
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.args[1] + " " + step.args[2]);
        auto ran = machineTool(step.args);
        EXPECT_EQ(ran.exitCode, 0) << ran.output;
        EXPECT_EQ(firmware::readValue(1).valueOr(-1), step.wireless);
    }
    EXPECT_EQ(platform::journal::read("firmware.write").size(), 2u);

    auto refused = machineTool({ "firmware", "set", "0", "4" });
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.output.find("WBEM_E_ACCESS_DENIED"), std::string::npos) << refused.output;
}

TEST_F(FirmwareToolTest, refusesBadArgumentsAndChangesNothing)
{
    ASSERT_TRUE(firmware::dock(0x04));
    const std::vector<std::string> cases[] = {
        { "firmware", "dock" },
        { "firmware", "dock", "docked" },
        { "firmware", "dock", "0x100000000" },
        { "firmware", "radio", "maybe" },
        { "firmware", "set", "3", "1" },
        { "firmware", "set", "2" },
        { "firmware", "set", "2", "bright" },
        { "firmware", "instances", "some" },
        { "firmware", "flash" },
        { "wmi", "restart" },
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.back());
        auto ran = machineTool(args);
        EXPECT_EQ(ran.exitCode, 2) << ran.output;
        EXPECT_NE(ran.output.find("tavio-machine: "), std::string::npos) << ran.output;
    }
    EXPECT_EQ(firmware::read().value(), (firmware::State { 0x04, Radio::Off, 0, firmware::Instances::Present }));
    EXPECT_TRUE(platform::journal::read("firmware.write").empty());
    EXPECT_EQ(wmi::serviceState(), wmi::ServiceState::Running);
}

TEST_F(FirmwareToolTest, aDamagedStateIsReportedNotOverwritten)
{
    ASSERT_TRUE(platform::config::set("firmware", "2 dock=4"));
    for (const std::vector<std::string>& args :
        { std::vector<std::string> { "firmware" }, std::vector<std::string> { "firmware", "dock", "4" },
            std::vector<std::string> { "firmware", "radio", "on" } }) {
        SCOPED_TRACE(args.back());
        auto ran = machineTool(args);
        EXPECT_EQ(ran.exitCode, 1) << ran.output;
    }
    EXPECT_EQ(platform::config::get("firmware"), "2 dock=4");
}

TEST_F(FirmwareToolTest, wmiStopsStartsAndListsSubscriptions)
{
    EXPECT_EQ(machineTool({ "wmi" }).output, "running\n");
    ASSERT_EQ(machineTool({ "wmi", "stop" }).exitCode, 0);
    EXPECT_EQ(machineTool({ "wmi" }).output, "stopped\n");
    EXPECT_EQ(wmi::serviceState(), wmi::ServiceState::Stopped);
    ASSERT_EQ(machineTool({ "wmi", "start" }).exitCode, 0);
    EXPECT_EQ(wmi::serviceState(), wmi::ServiceState::Running);

    class QuietSink : public wmi::Sink {
        wmi::HResult indicate(std::span<const wmi::ClassObject>) override { return wmi::HResult::Ok; }
        wmi::HResult setStatus(wmi::StatusFlags, wmi::HResult, std::u16string_view, const wmi::ClassObject*) override
        {
            return wmi::HResult::Ok;
        }
    };
    auto services = wmi::Locator().connectServer(u"\\\\.\\root\\wmi");
    ASSERT_TRUE(services);
    ASSERT_TRUE((*services)->execNotificationQueryAsync(
        u"WQL", u"SELECT * FROM keltoDockEvent", wmi::NotificationFlags::None, std::make_shared<QuietSink>()));
    EXPECT_EQ(machineTool({ "wmi" }).output, "running\nsubscription: keltoDockEvent\n");
}

} // namespace
