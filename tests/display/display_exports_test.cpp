// The display exports of the support library over the machine's display
// adapter and vendor display library.

#include "common/display_modes.h"
#include "common/names.h"
#include "support/display.h"
#include "tests/display/display_fixture.h"

#include "platform/journal.h"

using namespace platform;
using namespace displaytest;

namespace {

class DisplayExportsTest : public DisplayMachineTest { };

TEST_F(DisplayExportsTest, VideoSwitchCallsTheVendorFunctionOfEachCode)
{
    struct Case {
        int32_t code;
        std::string_view function;
        std::string_view argument;
        int32_t result;
        display::Topology topology;
    };
    // The library refuses 0, so the codes without a meaning report failure.
    const Case cases[] = {
        { 1, "keltoVenSwitchDisplay", "1", 1, display::Topology::Internal },
        { 2, "keltoVenSwitchDisplay", "2", 1, display::Topology::External },
        { 3, "keltoVenSwitchDisplay", "3", 1, display::Topology::Clone },
        { 4, "keltoVenSetExtendedDesktop", "0", 1, display::Topology::Extended },
        { 0, "keltoVenSwitchDisplay", "0", 0, display::Topology::Extended },
        { 5, "keltoVenSwitchDisplay", "0", 0, display::Topology::Extended },
        { 7, "keltoVenSwitchDisplay", "0", 0, display::Topology::Extended },
        { -1, "keltoVenSwitchDisplay", "0", 0, display::Topology::Extended },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.code);
        keltovdisp::resetCalls();
        EXPECT_EQ(support::VideoSwitch(row.code), row.result);
        // One call, of the right function, and nothing else.
        for (auto name : keltovdisp::FunctionNames)
            EXPECT_EQ(callsOf(name), name == row.function ? 1u : 0u) << name;
        EXPECT_EQ(keltovdisp::calls(row.function).lastArgument, row.argument);
        EXPECT_EQ(display::topology(), row.topology);
    }
}

TEST_F(DisplayExportsTest, PresentationQueriesFollowTheVendorState)
{
    ASSERT_TRUE(keltovdisp::setCurrentProfile(4));
    EXPECT_EQ(support::IsPresentationModeON(), 1);
    ASSERT_TRUE(keltovdisp::setCurrentProfile(1));
    EXPECT_EQ(support::IsPresentationModeON(), 0);

    struct Case {
        uint32_t mask;
        int32_t enabled;
    };
    const Case cases[] = { { 0x88, 1 }, { 0x80, 1 }, { 0x08, 1 }, { 0x77, 0 }, { 0x00, 0 }, { 0xFF, 1 } };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.mask);
        ASSERT_TRUE(keltovdisp::setEnabledProfiles(row.mask));
        EXPECT_EQ(support::IsPresentationProfileEnable(), row.enabled);
    }
}

TEST_F(DisplayExportsTest, SetCurrentProfileLoadsOnlyAnotherProfile)
{
    ASSERT_TRUE(keltovdisp::setCurrentProfile(2));
    support::SetCurrentProfile(2);
    EXPECT_EQ(callsOf("keltoVenLoadProfile"), 0u);

    support::SetCurrentProfile(4);
    EXPECT_EQ(callsOf("keltoVenLoadProfile"), 1u);
    EXPECT_EQ(keltovdisp::currentProfile(), 4u);
    EXPECT_EQ(display::topology(), display::Topology::Clone);
}

TEST_F(DisplayExportsTest, EnteringPresentationModeAsksForTheOrientationEvenWhenAlreadyOn)
{
    ASSERT_TRUE(keltovdisp::setCurrentProfile(4));
    EventWaiter waiter(common::EventAdjustScreenOrientation);
    support::SetPresentationMode(1);
    EXPECT_TRUE(waiter.released());
    EXPECT_EQ(callsOf("keltoVenLoadProfile"), 0u);
}

TEST_F(DisplayExportsTest, EnteringPresentationModeLoadsTheProfileThenAsksForTheOrientation)
{
    EventWaiter waiter(common::EventAdjustScreenOrientation);
    support::SetPresentationMode(1);
    EXPECT_TRUE(waiter.released());
    EXPECT_EQ(keltovdisp::calls("keltoVenLoadProfile").lastArgument, "4");
    EXPECT_EQ(keltovdisp::currentProfile(), 4u);
}

TEST_F(DisplayExportsTest, APresentationProfileThatCannotLoadSendsNoRequest)
{
    ASSERT_TRUE(keltovdisp::setEnabledProfiles(0x07));
    EventWaiter orientation(common::EventAdjustScreenOrientation);
    support::SetPresentationMode(1);
    EXPECT_EQ(callsOf("keltoVenLoadProfile"), 1u);
    EXPECT_TRUE(orientation.stillWaiting());
    // Values other than 0 and 1 do nothing at all.
    support::SetPresentationMode(2);
    EXPECT_TRUE(orientation.stillWaiting());
    EXPECT_EQ(allCalls(), (std::vector<uint32_t> { 0, 0, 0, 1, 1, 0, 0, 0, 0 }));
}

TEST_F(DisplayExportsTest, RotateScreenAlwaysReportsZero)
{
    EXPECT_EQ(support::RotateScreen(1), 0);
    EXPECT_EQ(common::GetOrientation(u""), 1u);
    ASSERT_TRUE(display::setMode(display::InternalDevice, { 0, 800, 600, 32, 0, 60, 0 }));
    EXPECT_EQ(support::RotateScreen(1), 0);
    EXPECT_EQ(support::RotateScreen(9), 0);
    EXPECT_EQ(common::GetOrientation(u""), 0u);
}

using MissingVendorExportsTest = MissingVendorTest;

TEST_P(MissingVendorExportsTest, EveryDisplayExportFailsQuietly)
{
    ASSERT_TRUE(keltovdisp::setCurrentProfile(4));
    ASSERT_TRUE(keltovdisp::setEnabledProfiles(0xFF));
    EXPECT_EQ(support::VideoSwitch(1), 0);
    EXPECT_EQ(support::IsPresentationModeON(), 0);
    EXPECT_EQ(support::IsPresentationProfileEnable(), 0);
    support::SetCurrentProfile(2);
    {
        EventWaiter orientation(common::EventAdjustScreenOrientation);
        support::SetPresentationMode(1);
        EXPECT_TRUE(orientation.stillWaiting());
    }
    EXPECT_EQ(allCalls(), std::vector<uint32_t>(9, 0));
    EXPECT_EQ(keltovdisp::currentProfile(), 4u);
    EXPECT_TRUE(journal::read("messagebox.show").empty());

    // Leaving presentation mode needs no vendor library: the service chooses.
    EventWaiter again(common::EventAdjustProfileAndScreenOrientation);
    support::SetPresentationMode(0);
    EXPECT_TRUE(again.released());
}

INSTANTIATE_TEST_SUITE_P(
    Vendor, MissingVendorExportsTest, ::testing::Values(Vendor::Broken, Vendor::Absent), vendorName);

} // namespace
