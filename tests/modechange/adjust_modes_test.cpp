// The display adjustment by docking state, in-process over the machine's
// firmware, display adapter and vendor display library.

#include "modechange/adjust_modes.h"
#include "tests/modechange/service_fixture.h"

using namespace modechangetest;
using modechange::AdjustModes;

namespace {

struct Scenario {
    const char* name;
    uint32_t dockState;
    uint32_t flags;
    uint32_t enabledProfiles;
    uint32_t currentProfile;
    uint32_t startOrientation; // of the internal panel, the primary display
    uint32_t loadedProfile; // the profile a load call asks for, 0 for no load call
    uint32_t endOrientation;
};

const Scenario Scenarios[] = {
    { "undocked_landscape_profile_enabled", 0x02, 3, 0x01, 3, 1, 1, 0 },
    { "undocked_landscape_second_bit_enables", 0x02, 3, 0x10, 3, 1, 1, 0 },
    { "undocked_landscape_orientation_only", 0x02, 1, 0x0F, 3, 1, 0, 0 },
    { "pen_portrait_orientation_only_changes_nothing", 0x01, 1, 0x0F, 3, 0, 0, 0 },
    { "pen_portrait_profile_enabled", 0x01, 3, 0x11, 3, 0, 1, 1 },
    { "pen_portrait_profile_disabled_changes_nothing", 0x01, 3, 0x22, 3, 0, 0, 0 },
    { "docked_both_bits_the_lower_decides", 0x0C, 3, 0x0F, 1, 0, 2, 1 },
    { "docked_portrait_profile_disabled_still_turns", 0x04, 3, 0x11, 1, 0, 0, 1 },
    { "docked_landscape_profile_current_no_load", 0x08, 3, 0x0F, 2, 1, 0, 0 },
    { "write_portrait_profile_enabled", 0x10, 3, 0x44, 1, 0, 3, 1 },
    { "write_landscape_profile_disabled_still_turns", 0x20, 3, 0x01, 1, 1, 0, 0 },
    { "bit_above_the_table_changes_nothing", 0x40, 3, 0x0F, 3, 1, 0, 1 },
    { "no_bit_set_changes_nothing", 0x00, 3, 0x0F, 3, 1, 0, 1 },
};

class AdjustModesTest : public testkit::MachineTest, public ::testing::WithParamInterface<Scenario> {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        ASSERT_TRUE(keltovdisp::installLibrary(TAVIO_BIN_DIR));
    }

    static void arrange(const Scenario& scenario)
    {
        ASSERT_TRUE(platform::firmware::dock(scenario.dockState));
        ASSERT_TRUE(keltovdisp::setEnabledProfiles(scenario.enabledProfiles));
        ASSERT_TRUE(keltovdisp::setCurrentProfile(scenario.currentProfile));
        const bool portrait = scenario.startOrientation % 2 == 1;
        ASSERT_TRUE(platform::display::setMode(platform::display::InternalDevice,
            { 0, portrait ? 768u : 1024u, portrait ? 1024u : 768u, 32, scenario.startOrientation, 60, 0 }));
        keltovdisp::resetCalls();
    }
};

TEST_P(AdjustModesTest, FollowsTheDockStateTable)
{
    const auto& scenario = GetParam();
    arrange(scenario);

    EXPECT_EQ(AdjustModes(scenario.flags, 0), scenario.dockState);

    EXPECT_EQ(userValue(common::ValueMode), scenario.dockState) << "the state read is stored";
    const auto load = keltovdisp::calls("keltoVenLoadProfile");
    if (scenario.loadedProfile == 0) {
        EXPECT_EQ(load.count, 0u);
    } else {
        EXPECT_EQ(load.count, 1u);
        EXPECT_EQ(load.lastArgument, std::to_string(scenario.loadedProfile));
        EXPECT_EQ(keltovdisp::currentProfile(), scenario.loadedProfile);
    }
    EXPECT_EQ(keltovdisp::calls("keltoVenGetEnabledProfiles").count, (scenario.flags & 2) ? 1u : 0u)
        << "only profile requests ask for the enabled profiles";
    EXPECT_EQ(orientationOf(platform::display::InternalDevice), scenario.endOrientation);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, AdjustModesTest, ::testing::ValuesIn(Scenarios),
    [](const auto& info) { return std::string(info.param.name); });

class AdjustModesWithoutVendorTest : public testkit::MachineTest { };

TEST_F(AdjustModesWithoutVendorTest, TurnsThePictureExceptForThePenState)
{
    ASSERT_TRUE(platform::firmware::dock(0x04));
    EXPECT_EQ(AdjustModes(3, 0), 0x04u);
    EXPECT_EQ(orientationOf(platform::display::InternalDevice), 1u) << "turning needs no vendor library";

    ASSERT_TRUE(platform::firmware::dock(0x08));
    EXPECT_EQ(AdjustModes(3, 0), 0x08u);
    ASSERT_EQ(orientationOf(platform::display::InternalDevice), 0u);

    ASSERT_TRUE(platform::firmware::dock(0x01));
    EXPECT_EQ(AdjustModes(3, 0), 0x01u);
    EXPECT_EQ(orientationOf(platform::display::InternalDevice), 0u) << "state bit 0 turns only with its profile";
}

TEST_F(AdjustModesWithoutVendorTest, FirmwareWithoutInstancesStoresStateZero)
{
    ASSERT_TRUE(platform::firmware::dock(0x04));
    ASSERT_TRUE(platform::firmware::setInstances(platform::firmware::Instances::Absent));
    EXPECT_EQ(AdjustModes(3, 0), 0u);
    EXPECT_EQ(userValue(common::ValueMode), 0u);
    EXPECT_EQ(orientationOf(platform::display::InternalDevice), 0u);
}

class ProfileDefaultsTest : public testkit::MachineTest { };

TEST_F(ProfileDefaultsTest, PassesItsArgumentOrFailsWithoutTheLibrary)
{
    EXPECT_EQ(modechange::SetProfileDefaults(0), -1);

    ASSERT_TRUE(keltovdisp::installLibrary(TAVIO_BIN_DIR));
    EXPECT_EQ(modechange::SetProfileDefaults(0), 0);
    const auto calls = keltovdisp::calls("keltoVenSetProfileDefaults");
    EXPECT_EQ(calls.count, 1u);
    EXPECT_EQ(calls.lastArgument, "0");
}

} // namespace
