#include "platform/display.h"

#include "platform/config.h"
#include "platform/journal.h"
#include "tests/testkit/machine_fixture.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace platform::display;

namespace {

constexpr uint32_t AllFields = DM_PELSWIDTH | DM_PELSHEIGHT | DM_BITSPERPEL | DM_DISPLAYORIENTATION;

Mode request(uint32_t width, uint32_t height, uint32_t bpp, uint32_t orientation)
{
    return { AllFields, width, height, bpp, orientation, 60, 0 };
}

// Width, height, depth and orientation of a mode, for comparing outcomes.
struct Shape {
    uint32_t width, height, bpp, orientation;
    friend bool operator==(const Shape&, const Shape&) = default;
};
Shape shapeOf(const Mode& mode)
{
    return { mode.width, mode.height, mode.bitsPerPixel, mode.orientation };
}
std::ostream& operator<<(std::ostream& out, const Shape& shape)
{
    return out << shape.width << "x" << shape.height << "x" << shape.bpp << "/" << shape.orientation;
}

class DisplayTest : public testkit::MachineTest { };

TEST_F(DisplayTest, AFreshMachineShowsThePanelAloneAt1024x768)
{
    auto primary = currentSettings(u"");
    ASSERT_TRUE(primary.ok());
    EXPECT_EQ(shapeOf(*primary), (Shape { 1024, 768, 32, 0 }));
    EXPECT_EQ(primary->frequency, 60u);
    EXPECT_EQ(primary->fields, 0x7C0080u);
    auto raw = currentSettings(u"\\\\.\\display1", EDS_RAWMODE);
    ASSERT_TRUE(raw.ok());
    EXPECT_EQ(*raw, *primary);

    // The external output is there but off: it has no current settings.
    EXPECT_EQ(currentSettings(ExternalDevice).error(), Error::GenFailure);
    EXPECT_EQ(currentSettings(u"\\\\.\\DISPLAY3").error(), Error::InvalidParameter);
    EXPECT_EQ(currentSettings(u"", 0x100).error(), Error::InvalidParameter);
    auto list = devices();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_TRUE(list[0].active && list[0].primary);
    EXPECT_FALSE(list[1].active || list[1].primary);
}

// Each row starts from the fresh machine (1024 x 768, 32 bits, orientation 0).
TEST_F(DisplayTest, ChangeRequestsAreAnsweredAsThePlatformDoes)
{
    struct Case {
        const char* name;
        std::u16string_view device;
        std::optional<Mode> mode;
        uint32_t flags;
        ChangeResult answer;
        Shape current;
        Shape saved;
    };
    const Shape fresh { 1024, 768, 32, 0 };
    const Case cases[] = {
        { "portrait saved for everyone", u"", request(768, 1024, 32, 1), CDS_UPDATEREGISTRY | CDS_GLOBAL,
            ChangeResult::Successful, { 768, 1024, 32, 1 }, { 768, 1024, 32, 1 } },
        { "upside down keeps the size", InternalDevice, request(1024, 768, 32, 2), CDS_UPDATEREGISTRY,
            ChangeResult::Successful, { 1024, 768, 32, 2 }, { 1024, 768, 32, 2 } },
        { "dynamic change is not saved", u"", request(800, 600, 16, 0), 0, ChangeResult::Successful,
            { 800, 600, 16, 0 }, fresh },
        { "saved only with NORESET", u"", request(800, 600, 32, 0), CDS_UPDATEREGISTRY | CDS_NORESET,
            ChangeResult::Successful, fresh, { 800, 600, 32, 0 } },
        { "test changes nothing", u"", request(800, 600, 32, 0), CDS_TEST, ChangeResult::Successful, fresh, fresh },
        { "portrait not turned", u"", request(1024, 768, 32, 1), CDS_UPDATEREGISTRY, ChangeResult::BadMode, fresh,
            fresh },
        { "orientation 5", u"", request(1024, 768, 32, 5), CDS_UPDATEREGISTRY, ChangeResult::BadMode, fresh, fresh },
        { "depth the driver lacks", u"", request(1024, 768, 8, 0), CDS_UPDATEREGISTRY, ChangeResult::BadMode, fresh,
            fresh },
        { "size the driver lacks", u"", request(1000, 700, 32, 0), 0, ChangeResult::BadMode, fresh, fresh },
        { "global without saving", u"", request(800, 600, 32, 0), CDS_GLOBAL, ChangeResult::BadFlags, fresh, fresh },
        { "unknown flag", u"", request(800, 600, 32, 0), 0x100, ChangeResult::BadFlags, fresh, fresh },
        { "unknown device", u"\\\\.\\DISPLAY9", request(800, 600, 32, 0), 0, ChangeResult::BadParam, fresh, fresh },
        { "external output is off", ExternalDevice, request(800, 600, 32, 0), 0, ChangeResult::BadParam, fresh, fresh },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(setMode(InternalDevice, request(1024, 768, 32, 0)));
        const size_t journalBefore = journal::read().size();
        EXPECT_EQ(changeSettings(row.device, row.mode, row.flags), row.answer);
        EXPECT_EQ(shapeOf(*currentSettings(InternalDevice)), row.current);
        EXPECT_EQ(shapeOf(*savedSettings(InternalDevice)), row.saved);
        auto entries = journal::read();
        if (row.flags & CDS_TEST) {
            EXPECT_EQ(entries.size(), journalBefore);
        } else {
            ASSERT_EQ(entries.size(), journalBefore + 1);
            EXPECT_EQ(
                entries.back().kind, row.answer == ChangeResult::Successful ? "display.change" : "display.refused");
        }
    }
}

TEST_F(DisplayTest, ChangingOneFieldKeepsTheOthersAndNoModeRestoresTheSaved)
{
    Mode depthOnly;
    depthOnly.fields = DM_BITSPERPEL;
    depthOnly.bitsPerPixel = 16;
    ASSERT_EQ(changeSettings(u"", depthOnly, 0), ChangeResult::Successful);
    EXPECT_EQ(shapeOf(*currentSettings(u"")), (Shape { 1024, 768, 16, 0 }));

    ASSERT_EQ(changeSettings(u"", std::nullopt, 0), ChangeResult::Successful);
    EXPECT_EQ(shapeOf(*currentSettings(u"")), (Shape { 1024, 768, 32, 0 }));

    auto change = journal::read("display.change").front();
    EXPECT_EQ(change.field("device"), "\\\\.\\DISPLAY1");
    EXPECT_EQ(change.field("bpp"), "16");
    EXPECT_EQ(change.field("width"), "1024");
}

TEST_F(DisplayTest, TheDriverCanRefuseRotationDepthsOrEveryChange)
{
    Driver noRotation;
    noRotation.rotation = false;
    ASSERT_TRUE(setDriver(noRotation));
    EXPECT_EQ(changeSettings(u"", request(768, 1024, 32, 1), CDS_UPDATEREGISTRY), ChangeResult::BadMode);
    EXPECT_EQ(currentSettings(u"")->fields & DM_DISPLAYORIENTATION, DM_DISPLAYORIENTATION);

    Driver noField;
    noField.orientationField = false;
    ASSERT_TRUE(setDriver(noField));
    EXPECT_EQ(currentSettings(u"", EDS_RAWMODE)->fields & DM_DISPLAYORIENTATION, 0u);
    EXPECT_EQ(changeSettings(u"", request(768, 1024, 32, 1), CDS_UPDATEREGISTRY), ChangeResult::BadMode);

    Driver only24;
    only24.depths = { 24 };
    ASSERT_TRUE(setDriver(only24));
    EXPECT_EQ(changeSettings(u"", request(768, 1024, 32, 1), CDS_UPDATEREGISTRY), ChangeResult::BadMode);
    EXPECT_EQ(changeSettings(u"", request(768, 1024, 24, 1), CDS_UPDATEREGISTRY), ChangeResult::Successful);

    Driver restart;
    restart.needsRestart = true;
    ASSERT_TRUE(setDriver(restart));
    EXPECT_EQ(changeSettings(u"", request(800, 600, 32, 0), CDS_UPDATEREGISTRY), ChangeResult::Restart);
    EXPECT_EQ(shapeOf(*currentSettings(u"")), (Shape { 768, 1024, 24, 1 }));
    EXPECT_EQ(shapeOf(*savedSettings(u"")), (Shape { 800, 600, 32, 0 }));

    Driver failing;
    failing.failing = true;
    ASSERT_TRUE(setDriver(failing));
    EXPECT_EQ(changeSettings(u"", request(800, 600, 32, 0), CDS_UPDATEREGISTRY), ChangeResult::Failed);

    Driver bad;
    bad.depths = { 12 };
    EXPECT_EQ(setDriver(bad).error(), Error::InvalidParameter);
}

TEST_F(DisplayTest, TheExternalOutputAloneBecomesThePrimaryDisplay)
{
    ASSERT_TRUE(setMode(ExternalDevice, request(1280, 1024, 32, 0)));
    ASSERT_TRUE(setTopology(Topology::External));
    EXPECT_EQ(shapeOf(*currentSettings(u"")), (Shape { 1280, 1024, 32, 0 }));
    EXPECT_EQ(currentSettings(InternalDevice).error(), Error::GenFailure);

    ASSERT_TRUE(setTopology(Topology::Extended));
    EXPECT_TRUE(currentSettings(InternalDevice).ok());
    EXPECT_TRUE(currentSettings(ExternalDevice).ok());
    EXPECT_EQ(topology(), Topology::Extended);
    EXPECT_EQ(journal::read("display.topology").back().field("topology"), "extended");
}

TEST_F(DisplayTest, ADamagedStateReadsAsTheDefaults)
{
    ASSERT_TRUE(config::set("display.device.1", "v9 width=1"));
    ASSERT_TRUE(config::set("display.driver", "v1 depths=abc"));
    EXPECT_EQ(shapeOf(*currentSettings(u"")), (Shape { 1024, 768, 32, 0 }));
    EXPECT_EQ(driver().depths, (std::vector<uint32_t> { 32, 24, 16 }));
    // The next change writes a whole state again.
    ASSERT_EQ(changeSettings(u"", request(800, 600, 32, 0), CDS_UPDATEREGISTRY), ChangeResult::Successful);
    EXPECT_EQ(shapeOf(*currentSettings(u"")), (Shape { 800, 600, 32, 0 }));
}

} // namespace
