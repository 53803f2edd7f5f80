#include "support/log.h"

#include "common/settings.h"
#include "platform/paths.h"
#include "tests/support/support_fixture.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <string>

namespace {

using namespace supporttest;

std::u16string format(const char16_t* text, ...)
{
    char16_t buffer[support::LogMessageUnits];
    va_list args;
    va_start(args, text);
    size_t length = support::formatMessage(buffer, text, args);
    va_end(args);
    EXPECT_EQ(buffer[length], u'\0');
    return std::u16string(buffer, length);
}

TEST(LogFormat, ConversionsFollowPrintf)
{
    struct Case {
        const char* name;
        std::u16string actual;
        std::u16string expected;
    };
    const Case cases[] = {
        { "zero-padded time field", format(u"%02d:%02d", 5, 12), u"05:12" },
        { "negative decimal", format(u"%d", -42), u"-42" },
        { "smallest int", format(u"%d", INT_MIN), u"-2147483648" },
        { "i is d", format(u"%i", 7), u"7" },
        { "unsigned", format(u"%u", 4294967295u), u"4294967295" },
        { "hexadecimal code", format(u"Error Code = 0x%x", 32u), u"Error Code = 0x20" },
        { "upper-case hexadecimal, zero-padded", format(u"%08X", 0xBEEFu), u"0000BEEF" },
        { "alternate form", format(u"%#x", 255u), u"0xff" },
        { "long modifier is accepted", format(u"%ld %lu %lx", 12, 13u, 14u), u"12 13 e" },
        { "right-aligned width", format(u"[%5d]", 7), u"[    7]" },
        { "left-aligned width", format(u"[%-5d]", 7), u"[7    ]" },
        { "left-aligned wins over zero", format(u"[%-05d]", 7), u"[7    ]" },
        { "zero padding after the sign", format(u"%05d", -7), u"-0007" },
        { "plus sign", format(u"%+d", 7), u"+7" },
        { "width from an argument", format(u"[%*d]", 4, 7), u"[   7]" },
        { "UTF-16 text", format(u"Data Path = %s", u"C:\\Program Files"), u"Data Path = C:\\Program Files" },
        { "text padded", format(u"[%6s][%-6s]", u"ab", u"cd"), u"[    ab][cd    ]" },
        { "text precision", format(u"%.3s", u"abcdef"), u"abc" },
        { "null text", format(u"%s", static_cast<const char16_t*>(nullptr)), u"(null)" },
        { "character", format(u"%c%c", u'O', 0x20AC), u"O\u20AC" },
        { "percent", format(u"100%%"), u"100%" },
        { "unknown conversion kept as written", format(u"%q%d", 5), u"%q5" },
        { "lone percent at the end", format(u"50%"), u"50%" },
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.actual, row.expected);
    }
}

TEST(LogFormat, MessagesAreCutAtTheBuffer)
{
    const std::u16string longText(700, u'x');
    EXPECT_EQ(format(u"%s", longText.c_str()), std::u16string(support::LogMessageUnits - 1, u'x'));
    EXPECT_EQ(format(u"ab%s", longText.c_str()).substr(0, 3), u"abx");
    EXPECT_EQ(format(u"%600d", 1).size(), support::LogMessageUnits - 1);
    EXPECT_EQ(format(nullptr), u"");
}

class LogFileTest : public SupportTest {
protected:
    std::string log() { return bytesOf(logFile()); }
};

TEST_F(LogFileTest, EachMessageIsTimeStampedAndWrittenAsEightBitText)
{
    struct Case {
        const char* name;
        std::u16string message;
        std::string bytes;
    };
    const Case cases[] = {
        { "a line", u"Exit WriteTavioMenuData\n", "14:05:09 09/08/2004: Exit WriteTavioMenuData\r\n" },
        { "leading blank lines", u"\n\nTAVIOSUPPORT: Enter ReadTavioMenuData.\n",
            "14:05:09 09/08/2004: \r\n\r\nTAVIOSUPPORT: Enter ReadTavioMenuData.\r\n" },
        { "Latin-1 units are their own byte", u"caf\u00E9 \u00FF\n", "14:05:09 09/08/2004: caf\xE9 \xFF\r\n" },
        { "units above U+00FF have no byte", u"\u20AC 5 \u4E2D\n", "14:05:09 09/08/2004: ? 5 ?\r\n" },
        { "over-long message cut at 519 units", std::u16string(600, u'a') + u"\n",
            "14:05:09 09/08/2004: " + std::string(519, 'a') },
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(logFile());
        support::LogInfo(u"%s", row.message.c_str());
        EXPECT_EQ(log(), row.bytes);
    }
}

TEST_F(LogFileTest, MessagesAreAppendedAndNeedTheirOwnLineFeed)
{
    support::LogInfo(u"Enter BackupDataFile.");
    support::LogInfo(u" Error Code = 0x%x\n", 5u);
    support::LogInfo(u"%02d/%s\n", 3, u"done");
    EXPECT_EQ(log(),
        "14:05:09 09/08/2004: Enter BackupDataFile.14:05:09 09/08/2004:  Error Code = 0x5\r\n"
        "14:05:09 09/08/2004: 03/done\r\n");
}

TEST_F(LogFileTest, TimeStampIsZeroPadded)
{
    support::setLocalTimeSource([] { return support::LocalTime { 987, 1, 2, 3, 4, 5 }; });
    support::LogInfo(u"x\n");
    EXPECT_EQ(log(), "03:04:05 01/02/0987: x\r\n");
}

TEST_F(LogFileTest, StartUpCreatesAnEmptyLogAndKeepsAnExistingOne)
{
    EXPECT_TRUE(support::LogFileReady);
    ASSERT_TRUE(std::filesystem::exists(logFile()));
    EXPECT_EQ(log(), "");

    support::LogInfo(u"kept\n");
    support::resetProcessState();
    support::attachProcess();
    EXPECT_TRUE(support::LogFileReady);
    EXPECT_EQ(log(), "14:05:09 09/08/2004: kept\r\n");
}

TEST_F(LogFileTest, WithoutALogPathNothingIsWritten)
{
    std::filesystem::remove(logFile());
    support::resetProcessState();
    support::LogInfo(u"lost\n");
    EXPECT_FALSE(std::filesystem::exists(logFile()));
    EXPECT_EQ(bytesOf(machine().host(u"C:\\TavioMenuLog.log")), "");
}

TEST_F(LogFileTest, EachUserHasALogInThePerUserFolder)
{
    auto key = platform::registry::createKey(platform::registry::Root::LocalMachine, common::SettingsKey);
    ASSERT_TRUE(key.ok());
    ASSERT_TRUE(platform::registry::setDword(key->key, common::ValueParameters, common::PARAM_ALL_USERS).ok());
    support::resetProcessState();
    support::attachProcess();
    support::LogInfo(u"mine\n");

    auto appData = platform::paths::knownFolder(platform::paths::KnownFolder::AppData);
    ASSERT_TRUE(appData.ok());
    EXPECT_EQ(bytesOf(machine().host(*appData + u"\\Tavio Menu\\TavioMenuLog.log")), "14:05:09 09/08/2004: mine\r\n");
    EXPECT_EQ(log(), "");
}

} // namespace
