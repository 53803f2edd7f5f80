// The default menu that InitTavioMenuData writes: 23 entries in a fixed
// order, ten shown, labels in the language of the moment, paths built from
// the Windows folder and the application folder.

#include "platform/locale.h"
#include "platform/text.h"
#include "support/catalogue.h"
#include "support/default_menu.h"
#include "support/menu_data.h"
#include "support/strings/string_table.h"
#include "tests/support/support_fixture.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using platform::text::toUtf8;
using supporttest::AppFolder;

struct ExpectedEntry {
    uint32_t tabId;
    uint32_t labelId;
    uint32_t helpId;
    bool shown;
    std::u16string_view fileName; // " " for the entries that start nothing
};

// The default menu in menu order. FileNames are those of a machine whose
// Windows folder is C:\WINDOWS, with the application in AppFolder.
const std::array<ExpectedEntry, 23> ExpectedMenu { {
    { support::TAB_MUTE, 20, 5, true, u" " },
    { support::TAB_BRIGHTNESS, 17, 2, true, u" " },
    { support::TAB_INTERNAL_ONLY, 60, 61, true, u" " },
    { support::TAB_EXTERNAL_ONLY, 58, 59, false, u" " },
    { support::TAB_INTERNAL_EXTERNAL, 62, 63, true, u" " },
    { support::TAB_EXTENDED_DESKTOP, 75, 76, false, u" " },
    { support::TAB_VOLUME, 19, 4, true, u"C:\\WINDOWS\\System32\\sndvol32.exe" },
    { support::TAB_CAPTURE_SCREEN, 21, 6, false, u" " },
    { support::TAB_CAPTURE_WINDOW, 22, 7, false, u" " },
    { support::TAB_POWER_CONTROL, 23, 8, false, u"C:\\WINDOWS\\System32\\powercfg.cpl" },
    { support::TAB_PRESENTATION, 24, 9, true, u" " },
    { support::TAB_DOCKED_PROFILE, 80, 81, false, u" " },
    { support::TAB_UNDOCKED_PROFILE, 78, 79, false, u" " },
    { support::TAB_WRITE_PROFILE, 82, 83, false, u" " },
    { support::TAB_PORTRAIT_PRIMARY, 25, 10, true, u" " },
    { support::TAB_LANDSCAPE_PRIMARY, 26, 11, true, u" " },
    { support::TAB_PORTRAIT_SECONDARY, 27, 12, false, u" " },
    { support::TAB_LANDSCAPE_SECONDARY, 28, 13, false, u" " },
    { support::TAB_STANDBY, 72, 73, false, u" " },
    { support::TAB_HIBERNATE, 67, 74, false, u" " },
    { support::TAB_SHUTDOWN, 68, 71, false, u" " },
    { support::TAB_TABLET_SETTINGS, 30, 15, true, u"C:\\WINDOWS\\system32\\tabletpc.cpl" },
    { support::TAB_SETTINGS, 32, 33, true, u"C:\\Program Files\\Tavio Menu\\tavioutility.cpl" },
} };

class DefaultMenuTest : public supporttest::SupportTest {
protected:
    void TearDown() override
    {
        platform::locale::clearThreadUiLanguage();
        SupportTest::TearDown();
    }

    // Writes the defaults and reads them back as a program would.
    std::unique_ptr<TavioMenuData> initAndRead()
    {
        EXPECT_EQ(support::InitTavioMenuData(), 1);
        auto data = supporttest::emptyBlock();
        EXPECT_EQ(support::ReadTavioMenuData(data.get()), support::ReadSucceeded);
        return data;
    }

    void expectDefaultMenu(const TavioMenuData& data, uint16_t language)
    {
        ASSERT_EQ(data.NumEntries, 23u);
        EXPECT_EQ(data.DataSize, 24196u);
        EXPECT_EQ(data.LastTabIDUsed, 300u);
        uint32_t shown = 0;
        for (size_t i = 0; i < ExpectedMenu.size(); ++i) {
            const ExpectedEntry& expected = ExpectedMenu[i];
            const TabInfo& entry = data.TabInfo[i];
            SCOPED_TRACE("entry " + std::to_string(i + 1));
            EXPECT_EQ(entry.TabID, expected.tabId);
            EXPECT_EQ(entry.HelpStringID, expected.helpId);
            EXPECT_EQ(entry.Flags, expected.shown ? FLAG_SHOWN : 0u);
            EXPECT_EQ(toUtf8(entry.DisplayName), toUtf8(strings::find(expected.labelId, language).value()));
            EXPECT_EQ(toUtf8(entry.FileName), toUtf8(expected.fileName));
            shown += entry.Flags & FLAG_SHOWN;
        }
        EXPECT_EQ(shown, 10u);
    }
};

TEST_F(DefaultMenuTest, DefaultsAreTheTwentyThreeEntriesInOrderWithTenShown)
{
    platform::locale::setThreadUiLanguage(1033).ok();
    auto data = initAndRead();
    expectDefaultMenu(*data, 1033);
    EXPECT_EQ(bytesOf(dataFile()).size(), 24212u);
    // The backup follows the good write.
    EXPECT_EQ(bytesOf(backupFile()), bytesOf(dataFile()));
    // The wireless entry is never among the defaults: the quick menu adds it.
    for (uint32_t i = 0; i < data->NumEntries; ++i)
        EXPECT_NE(data->TabInfo[i].TabID, support::TAB_WIRELESS);
}

TEST_F(DefaultMenuTest, LabelsAreInTheLanguageOfTheMomentAndStayWhenItChanges)
{
    ASSERT_TRUE(platform::locale::setThreadUiLanguage(1031).ok());
    auto german = initAndRead();
    expectDefaultMenu(*german, 1031);
    EXPECT_EQ(toUtf8(german->TabInfo[6].DisplayName), "Lautstärke");

    // The labels are stored: a later change of language leaves the file as it is.
    ASSERT_TRUE(platform::locale::setThreadUiLanguage(1033).ok());
    auto again = supporttest::emptyBlock();
    ASSERT_EQ(support::ReadTavioMenuData(again.get()), support::ReadSucceeded);
    EXPECT_EQ(toUtf8(again->TabInfo[6].DisplayName), "Lautstärke");

    // A language the table does not hold gives the English labels.
    ASSERT_TRUE(platform::locale::setThreadUiLanguage(1049).ok());
    expectDefaultMenu(*initAndRead(), 1033);
}

TEST_F(DefaultMenuTest, DefaultsReplaceAUserMenu)
{
    ASSERT_EQ(support::WriteTavioMenuData(*supporttest::menuWith(40)), 1u);
    platform::locale::setThreadUiLanguage(1033).ok();
    expectDefaultMenu(*initAndRead(), 1033);
    EXPECT_EQ(bytesOf(dataFile()).size(), 24212u);
}

TEST_F(DefaultMenuTest, WithoutAnApplicationPathTheSettingsEntryHasNoFolder)
{
    auto key = platform::registry::openKey(
        platform::registry::Root::LocalMachine, common::SettingsKey, platform::registry::Access::Write);
    ASSERT_TRUE(key.ok());
    ASSERT_TRUE(platform::registry::deleteValue(*key, common::ValueApplicationPath).ok());
    support::resetProcessState();
    support::attachProcess();

    auto data = support::defaultMenu();
    EXPECT_EQ(toUtf8(data->TabInfo[22].FileName), "\\tavioutility.cpl");
    EXPECT_EQ(toUtf8(data->TabInfo[6].FileName), "C:\\WINDOWS\\System32\\sndvol32.exe");
}

TEST_F(DefaultMenuTest, FailedWriteReportsZeroAndMakesNoBackup)
{
    // The application folder named by the settings does not exist.
    auto key = platform::registry::openKey(
        platform::registry::Root::LocalMachine, common::SettingsKey, platform::registry::Access::Write);
    ASSERT_TRUE(key.ok());
    ASSERT_TRUE(platform::registry::setString(*key, common::ValueApplicationPath, u"C:\\Missing").ok());
    support::resetProcessState();
    support::attachProcess();

    EXPECT_EQ(support::InitTavioMenuData(), 0);
    EXPECT_FALSE(platform::files::attributes(u"C:\\Missing\\MenuData.bak").ok());
}

} // namespace
