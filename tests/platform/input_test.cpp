#include "platform/input.h"

#include "platform/display.h"
#include "platform/journal.h"
#include "tests/testkit/machine_fixture.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace platform::input;

namespace {

class InputTest : public testkit::MachineTest {
protected:
    static void press(uint8_t key, uint8_t scan)
    {
        keyboardEvent(key, scan, 0, 0);
        keyboardEvent(key, scan, KEYEVENTF_KEYUP, 0);
    }
};

TEST_F(InputTest, TheMuteKeySwitchesTheSoundOnEachPress)
{
    ASSERT_FALSE(audioMuted());
    press(VK_VOLUME_MUTE, 0);
    EXPECT_TRUE(audioMuted());
    press(VK_VOLUME_MUTE, 0);
    EXPECT_FALSE(audioMuted());
    // Only a key going down acts.
    keyboardEvent(VK_VOLUME_MUTE, 0, KEYEVENTF_KEYUP, 0);
    EXPECT_FALSE(audioMuted());

    auto keys = journal::read("input.key");
    ASSERT_EQ(keys.size(), 5u);
    EXPECT_EQ(keys[0].field("vk"), "0xAD");
    EXPECT_EQ(keys[0].field("direction"), "down");
    EXPECT_EQ(keys[1].field("direction"), "up");
    EXPECT_EQ(keys[1].field("flags"), "2");
}

TEST_F(InputTest, PrintScreenPutsTheScreenOrTheActiveWindowOnTheClipboard)
{
    EXPECT_FALSE(clipboardPicture());
    ASSERT_TRUE(display::setMode(display::InternalDevice, { 0, 768, 1024, 32, 1, 60, 0 }));

    struct Case {
        uint8_t scan;
        Capture source;
    };
    const Case cases[] = { { 0, Capture::Screen }, { 1, Capture::ActiveWindow }, { 0, Capture::Screen } };
    uint32_t sequence = 0;
    for (const auto& row : cases) {
        SCOPED_TRACE(int(row.scan));
        press(VK_SNAPSHOT, row.scan);
        auto picture = clipboardPicture();
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->source, row.source);
        EXPECT_EQ(picture->format, CF_DIB);
        EXPECT_EQ(picture->width, 768u);
        EXPECT_EQ(picture->height, 1024u);
        EXPECT_EQ(picture->sequence, ++sequence);
        // A whole BMP of that size: 14 + 40 + palette 8, rows of 96 bytes.
        std::string bytes = testkit::readFile(picture->file);
        ASSERT_EQ(bytes.size(), 62u + 96u * 1024u);
        EXPECT_EQ(bytes.substr(0, 2), "BM");
    }
    EXPECT_EQ(journal::read("clipboard.capture").size(), 3u);

    ASSERT_TRUE(emptyClipboard());
    EXPECT_FALSE(clipboardPicture());
    // Other keys do nothing but go into the journal.
    press(0x41, 0);
    EXPECT_FALSE(clipboardPicture());
    EXPECT_FALSE(audioMuted());
}

} // namespace
