// TavioUtilGetString: the text of an id in the calling thread's language,
// English when that language is not held. The export is a shim over
// support::TavioUtilGetString, which these tests call with thread languages
// set; the library-load tests ask the built library itself.

#include "platform/locale.h"
#include "platform/text.h"
#include "support/library_info.h"
#include "support/strings/string_table.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

using platform::text::toUtf8;

constexpr uint16_t English = 1033;
constexpr uint16_t German = 1031;
constexpr std::array<uint32_t, 5> UnusedIds { 14, 29, 65, 84, 85 };

// Sets the calling thread's language for one test and clears it afterwards.
class StringsTest : public ::testing::Test {
protected:
    void TearDown() override { platform::locale::clearThreadUiLanguage(); }

    static void useLanguage(uint16_t language) { ASSERT_TRUE(platform::locale::setThreadUiLanguage(language).ok()); }

    // Asks through the export's code into a buffer whose every unit starts
    // out non-zero, so a missing terminator or a stale text shows.
    struct Lookup {
        uint32_t count;
        std::u16string text;
        bool terminated;
    };
    static Lookup lookup(uint32_t id)
    {
        std::array<char16_t, 260> buffer;
        buffer.fill(u'#');
        uint32_t count = support::TavioUtilGetString(id, buffer.data());
        size_t length = platform::text::boundedLength(buffer.data(), buffer.size());
        return { count, std::u16string(buffer.data(), length), length < buffer.size() };
    }
};

TEST_F(StringsTest, EveryIdInEveryLanguageComesFromThatLanguagesTable)
{
    for (uint16_t language : strings::languages()) {
        useLanguage(language);
        for (uint32_t id : strings::ids()) {
            SCOPED_TRACE("language " + std::to_string(language) + ", id " + std::to_string(id));
            const auto expected = strings::find(id, language);
            ASSERT_TRUE(expected.has_value());
            const Lookup got = lookup(id);
            EXPECT_TRUE(got.terminated);
            EXPECT_EQ(toUtf8(got.text), toUtf8(*expected));
            EXPECT_EQ(got.count, expected->size());
            EXPECT_GT(got.count, 0u);
        }
    }
}

TEST_F(StringsTest, UnusedIdsGiveZeroAndAnEmptyTextInEveryLanguage)
{
    for (uint16_t language : strings::languages()) {
        useLanguage(language);
        for (uint32_t id :
            { UnusedIds[0], UnusedIds[1], UnusedIds[2], UnusedIds[3], UnusedIds[4], 0u, 91u, 0xFFFFFFFFu }) {
            SCOPED_TRACE("language " + std::to_string(language) + ", id " + std::to_string(id));
            const Lookup got = lookup(id);
            EXPECT_EQ(got.count, 0u);
            EXPECT_TRUE(got.terminated);
            EXPECT_EQ(got.text, u"");
        }
    }
}

TEST_F(StringsTest, EnglishTextsKeepTheirBlanksAndAreNeverCut)
{
    useLanguage(English);
    const std::u16string missingText = u"KELTOVDISP.DLL file is missing.  Please install the latest video driver. ";
    const Lookup missingLibrary = lookup(77);
    EXPECT_EQ(toUtf8(missingLibrary.text), toUtf8(missingText));
    EXPECT_EQ(missingLibrary.count, missingText.size());

    const std::u16string longest = u"Performs two actions: Sets extended desktop mode and set Presentation power "
                                   u"settings. This item is grayed out on Tavio Menu if the Default Presentation "
                                   u"Profile is not enabled in NView Desktop Manager.";
    const Lookup presentation = lookup(9);
    EXPECT_EQ(toUtf8(presentation.text), toUtf8(longest));
    EXPECT_EQ(presentation.count, longest.size());
}

TEST_F(StringsTest, TheThreadsLanguageChoosesTheTableAndAnUnheldOneFallsBackToEnglish)
{
    struct Case {
        uint16_t language;
        const char* name;
        std::u16string_view volume;
    };
    const Case cases[] {
        { German, "German", u"Lautstärke" },
        { English, "English", u"Volume" },
        { 1049, "Russian, not held", u"Volume" },
        { 2057, "English (United Kingdom), not held", u"Volume" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        useLanguage(c.language);
        EXPECT_EQ(toUtf8(lookup(19).text), toUtf8(c.volume));
    }
}

TEST_F(StringsTest, NullBufferCopiesNothing)
{
    EXPECT_EQ(support::TavioUtilGetString(19, nullptr), 0u);
}

} // namespace
