// tavio-machine display, vendor, audio, clipboard and power, run as the real
// program against a machine this test also looks at through the platform.

#include "tests/testkit/machine_fixture.h"

#include "platform/config.h"
#include "platform/display.h"
#include "platform/input.h"
#include "platform/power.h"

#include <filesystem>

namespace {

using namespace platform;

testkit::Completed machineTool(const std::vector<std::string>& args)
{
    return testkit::run(testkit::systemProgram("tavio-machine"), args);
}

class DeviceCommandsTest : public testkit::MachineTest { };

TEST_F(DeviceCommandsTest, DisplayShowsAndChangesTheDevicesAndTheDriver)
{
    ASSERT_EQ(display::changeSettings(u"",
                  display::Mode { display::DM_PELSWIDTH | display::DM_PELSHEIGHT | display::DM_DISPLAYORIENTATION, 768,
                      1024, 0, 3, 0, 0 },
                  display::CDS_UPDATEREGISTRY),
        display::ChangeResult::Successful);
    auto shown = machineTool({ "display" });
    ASSERT_EQ(shown.exitCode, 0) << shown.output;
    EXPECT_NE(shown.output.find("current: 768 x 1024, 32 bits, 60 Hz, orientation 3"), std::string::npos)
        << shown.output;
    EXPECT_NE(shown.output.find("\\\\.\\DISPLAY2  External output, inactive"), std::string::npos) << shown.output;

    auto set = machineTool({ "display", "set", "display1", "800x600", "16", "0" });
    ASSERT_EQ(set.exitCode, 0) << set.output;
    auto mode = display::currentSettings(u"");
    ASSERT_TRUE(mode.ok());
    EXPECT_EQ(mode->width, 800u);
    EXPECT_EQ(mode->bitsPerPixel, 16u);
    EXPECT_EQ(mode->orientation, 0u);

    auto driver
        = machineTool({ "display", "driver", "--depths", "24,16", "--rotation", "off", "--orientation-field", "off" });
    ASSERT_EQ(driver.exitCode, 0) << driver.output;
    EXPECT_EQ(display::driver().depths, (std::vector<uint32_t> { 24, 16 }));
    EXPECT_FALSE(display::driver().rotation);
    EXPECT_EQ(display::currentSettings(u"")->fields & display::DM_DISPLAYORIENTATION, 0u);

    // Bad input is refused and changes nothing.
    struct Case {
        std::vector<std::string> args;
        int exitCode;
    };
    const Case refused[] = {
        { { "display", "set", "DISPLAY3", "800x600" }, 2 },
        { { "display", "set", "DISPLAY1", "800by600" }, 2 },
        { { "display", "set", "DISPLAY1", "800x600", "16", "4" }, 2 },
        { { "display", "driver", "--depths", "12" }, 1 },
        { { "display", "driver", "--rotation", "maybe" }, 2 },
        { { "display", "topology", "sideways" }, 2 },
    };
    for (const auto& row : refused) {
        auto result = machineTool(row.args);
        EXPECT_EQ(result.exitCode, row.exitCode) << result.output;
    }
    EXPECT_EQ(display::currentSettings(u"")->width, 800u);
    EXPECT_EQ(display::driver().depths, (std::vector<uint32_t> { 24, 16 }));
}

TEST_F(DeviceCommandsTest, AudioClipboardAndPowerShowTheMachineState)
{
    input::keyboardEvent(input::VK_VOLUME_MUTE, 0, 0, 0);
    input::keyboardEvent(input::VK_SNAPSHOT, 1, 0, 0);
    auto audio = machineTool({ "audio" });
    EXPECT_NE(audio.output.find("muted: yes"), std::string::npos) << audio.output;
    auto clipboard = machineTool({ "clipboard" });
    EXPECT_NE(clipboard.output.find("1024 x 768, the active window, capture 1"), std::string::npos) << clipboard.output;
    EXPECT_EQ(machineTool({ "clipboard", "empty" }).exitCode, 0);
    EXPECT_FALSE(input::clipboardPicture());

    EXPECT_EQ(machineTool({ "power", "policy", "deny" }).exitCode, 0);
    EXPECT_EQ(power::shutdownPolicy(), power::Policy::Denied);
    auto shown = machineTool({ "power" });
    EXPECT_NE(shown.output.find("shutdown privilege: denied"), std::string::npos) << shown.output;
    EXPECT_NE(shown.output.find("state: on (0 requests)"), std::string::npos) << shown.output;
}

TEST(DeviceCommands, InitInstallsTheVendorLibraryAndVendorRemovesAndRestoresIt)
{
    testkit::TempMachine scratch;
    auto made = machineTool({ "init" });
    ASSERT_EQ(made.exitCode, 0) << made.output;
    const auto library = scratch.root() / "drive_c" / "WINDOWS" / "System32" / "KELTOVDISP.DLL";
    EXPECT_TRUE(std::filesystem::is_regular_file(library));

    EXPECT_EQ(machineTool({ "vendor", "remove" }).exitCode, 0);
    EXPECT_FALSE(std::filesystem::exists(library));
    EXPECT_EQ(machineTool({ "vendor", "remove" }).exitCode, 1);
    auto shown = machineTool({ "vendor" });
    EXPECT_NE(shown.output.find("library: missing from C:\\WINDOWS\\System32"), std::string::npos) << shown.output;

    EXPECT_EQ(machineTool({ "vendor", "install" }).exitCode, 0);
    EXPECT_TRUE(std::filesystem::is_regular_file(library));

    EXPECT_EQ(machineTool({ "vendor", "profile", "3" }).exitCode, 0);
    EXPECT_EQ(machineTool({ "vendor", "enabled", "0x88" }).exitCode, 0);
    EXPECT_EQ(machineTool({ "vendor", "profile", "5" }).exitCode, 2);
    shown = machineTool({ "vendor" });
    EXPECT_NE(shown.output.find("current profile: 3"), std::string::npos) << shown.output;
    EXPECT_NE(shown.output.find("enabled profiles: 0x88"), std::string::npos) << shown.output;
    EXPECT_NE(shown.output.find("keltoVenLoadProfile 0"), std::string::npos) << shown.output;
}

} // namespace
