// The shared display operations over the machine's display adapter and the
// vendor display library.

#include "common/display_modes.h"
#include "tests/display/display_fixture.h"

#include "platform/journal.h"

#include <functional>

using namespace platform;
using namespace displaytest;

namespace {

struct Shape {
    uint32_t width, height, bpp, orientation;
    friend bool operator==(const Shape&, const Shape&) = default;
};
std::ostream& operator<<(std::ostream& out, const Shape& shape)
{
    return out << shape.width << "x" << shape.height << "x" << shape.bpp << "/" << shape.orientation;
}

Shape primaryShape()
{
    auto mode = display::currentSettings(u"");
    EXPECT_TRUE(mode.ok());
    return mode ? Shape { mode->width, mode->height, mode->bitsPerPixel, mode->orientation } : Shape {};
}

void setPrimary(uint32_t width, uint32_t height, uint32_t orientation)
{
    ASSERT_TRUE(display::setMode(display::InternalDevice, { 0, width, height, 32, orientation, 60, 0 }));
}

void setDriver(const std::function<void(display::Driver&)>& change)
{
    display::Driver driver;
    change(driver);
    ASSERT_TRUE(display::setDriver(driver));
}

class DisplayModesTest : public DisplayMachineTest {
protected:
    // Change requests that reached the display adapter, applied or refused.
    static size_t changeRequests()
    {
        return journal::read("display.change").size() + journal::read("display.refused").size();
    }
};

TEST_F(DisplayModesTest, SetOrientationScenarios)
{
    struct Scenario {
        const char* name;
        std::function<void()> arrange;
        int32_t orientation;
        int32_t status;
        Shape after;
        size_t requests; // change requests that reached the adapter
    };
    const Shape landscape { 1024, 768, 32, 0 };
    const Scenario scenarios[] = {
        { "landscape_1024x768_already_landscape", [] {}, 0, 0, landscape, 0 },
        { "landscape_1024x768_to_portrait", [] {}, 1, 0, { 768, 1024, 32, 1 }, 1 },
        { "landscape_1024x768_upside_down", [] {}, 2, 0, { 1024, 768, 32, 2 }, 1 },
        { "portrait_768x1024_to_portrait_upside_down", [] { setPrimary(768, 1024, 1); }, 3, 0, { 768, 1024, 32, 3 },
            1 },
        { "portrait_768x1024_back_to_landscape", [] { setPrimary(768, 1024, 3); }, 0, 0, landscape, 1 },
        { "landscape_800x600_to_portrait_too_narrow", [] { setPrimary(800, 600, 0); }, 1, 6, { 800, 600, 32, 0 }, 0 },
        { "driver_refuses_32_accepts_24", [] { setDriver([](auto& d) {
                                                   d.depths = { 24, 16 };
                                               }); }, 1, 0,
            { 768, 1024, 24, 1 }, 2 },
        { "driver_refuses_every_depth_down_to_16", [] { setDriver([](auto& d) { d.depths = { 8 }; }); }, 1, 4,
            landscape, 3 },
        { "orientation_5_with_rotation", [] {}, 5, 1, landscape, 0 },
        { "orientation_minus_1_with_rotation", [] {}, -1, 1, landscape, 0 },
        { "no_orientation_field_orientation_5", [] { setDriver([](auto& d) { d.orientationField = false; }); }, 5, 2,
            landscape, 0 },
        { "no_orientation_field_portrait", [] { setDriver([](auto& d) { d.orientationField = false; }); }, 1, 2,
            landscape, 0 },
        { "driver_needs_restart", [] { setDriver([](auto& d) { d.needsRestart = true; }); }, 1, 3, landscape, 1 },
        { "driver_fails", [] { setDriver([](auto& d) { d.failing = true; }); }, 1, 5, landscape, 1 },
    };
    for (const auto& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        setPrimary(1024, 768, 0);
        ASSERT_TRUE(display::setDriver({}));
        scenario.arrange();
        const size_t before = changeRequests();
        EXPECT_EQ(common::SetOrientation(u"", scenario.orientation), scenario.status);
        EXPECT_EQ(primaryShape(), scenario.after);
        EXPECT_EQ(changeRequests() - before, scenario.requests);
    }
}

TEST_F(DisplayModesTest, ARotationIsSavedForEveryoneAndAppliesToTheNamedDevice)
{
    ASSERT_TRUE(display::setMode(display::ExternalDevice, { 0, 1280, 1024, 32, 0, 75, 0 }));
    ASSERT_TRUE(display::setTopology(display::Topology::Extended));
    EXPECT_EQ(common::SetOrientation(display::ExternalDevice, 1), 0);
    EXPECT_EQ(common::GetOrientation(display::ExternalDevice), 1u);
    EXPECT_EQ(common::GetOrientation(u""), 0u);
    auto change = journal::read("display.change").back();
    EXPECT_EQ(change.field("device"), "\\\\.\\DISPLAY2");
    EXPECT_EQ(change.field("width"), "1024");
    EXPECT_EQ(change.field("height"), "1280");
    EXPECT_EQ(change.field("frequency"), "75");
    EXPECT_EQ(change.field("flags"), "9");
    EXPECT_EQ(display::savedSettings(display::ExternalDevice)->orientation, 1u);
    // A device that cannot be read counts as landscape.
    EXPECT_EQ(common::GetOrientation(u"\\\\.\\DISPLAY7"), 0u);
}

TEST_F(DisplayModesTest, BindingFindsAllNineFunctions)
{
    common::VendorDisplayLibrary library;
    EXPECT_EQ(common::BindVendorDisplayLibrary(library), 0);
    EXPECT_NE(library.keltoVenSwitchDisplay, nullptr);
    EXPECT_NE(library.keltoVenSetProfileDefaults, nullptr);
}

TEST_F(DisplayModesTest, LoadProfileIfNeededLoadsOnlyAnotherProfileUnlessForced)
{
    ASSERT_TRUE(keltovdisp::setCurrentProfile(2));
    EXPECT_EQ(common::LoadProfileIfNeeded(common::PROFILE_DOCKED, 0), 0);
    EXPECT_EQ(callsOf("keltoVenLoadProfile"), 0u);
    EXPECT_EQ(callsOf("keltoVenGetCurrentProfile"), 1u);

    EXPECT_EQ(common::LoadProfileIfNeeded(common::PROFILE_DOCKED, 1), 0);
    EXPECT_EQ(callsOf("keltoVenLoadProfile"), 1u);

    // The write profile turns the panel to portrait.
    EXPECT_EQ(common::LoadProfileIfNeeded(common::PROFILE_WRITE, 0), 0);
    EXPECT_EQ(keltovdisp::calls("keltoVenLoadProfile").lastArgument, "3");
    EXPECT_EQ(keltovdisp::currentProfile(), 3u);
    EXPECT_EQ(primaryShape(), (Shape { 768, 1024, 32, 1 }));

    // A profile that is not enabled: the vendor's status comes back.
    ASSERT_TRUE(keltovdisp::setEnabledProfiles(0x07));
    EXPECT_EQ(common::LoadProfileIfNeeded(common::PROFILE_PRESENTATION, 0), keltovdisp::StatusProfileDisabled);
    EXPECT_EQ(keltovdisp::currentProfile(), 3u);
}

TEST_F(DisplayModesTest, QueriesReportTheVendorState)
{
    ASSERT_TRUE(keltovdisp::setCurrentProfile(4));
    ASSERT_TRUE(keltovdisp::setEnabledProfiles(0x88));
    uint32_t profile = 99, mask = 0;
    EXPECT_EQ(common::QueryCurrentProfile(&profile), 0);
    EXPECT_EQ(profile, 4u);
    EXPECT_EQ(common::QueryEnabledProfiles(&mask), 0);
    EXPECT_EQ(mask, 0x88u);
}

using MissingVendorModesTest = MissingVendorTest;

TEST_P(MissingVendorModesTest, BindingFailsAndNoFunctionIsCalled)
{
    {
        common::VendorDisplayLibrary library;
        EXPECT_EQ(common::BindVendorDisplayLibrary(library), -1);
        // A broken copy is handed back loaded, so that the caller releases it.
        EXPECT_EQ(library.module.isLoaded(), GetParam() == Vendor::Broken);
        EXPECT_EQ(library.keltoVenSetProfileDefaults, nullptr);
    }
    ASSERT_TRUE(keltovdisp::setCurrentProfile(4));
    uint32_t profile = 99, mask = 99;
    EXPECT_EQ(common::QueryCurrentProfile(&profile), -1);
    EXPECT_EQ(profile, 0u);
    EXPECT_EQ(common::QueryEnabledProfiles(&mask), -1);
    EXPECT_EQ(common::LoadProfileIfNeeded(common::PROFILE_UNDOCKED, 0), -1);
    EXPECT_EQ(common::LoadProfileIfNeeded(common::PROFILE_UNDOCKED, 1), -1);
    EXPECT_EQ(allCalls(), std::vector<uint32_t>(9, 0));
    EXPECT_EQ(keltovdisp::currentProfile(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Vendor, MissingVendorModesTest, ::testing::Values(Vendor::Broken, Vendor::Absent), vendorName);

} // namespace
