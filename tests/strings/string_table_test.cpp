#include "support/strings/string_table.h"

#include "platform/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <ostream>
#include <string>
#include <vector>

namespace {

using platform::text::toUtf8;

struct Language {
    uint16_t id;
    const char* name;
};

// The twelve languages the library ships, each named for the test's label.
constexpr std::array<Language, 12> heldLanguages = { {
    { 1028, "ChineseTaiwan" },
    { 1031, "German" },
    { 1033, "English" },
    { 1034, "SpanishTraditionalSort" },
    { 1036, "French" },
    { 1041, "Japanese" },
    { 1042, "Korean" },
    { 1046, "PortugueseBrazil" },
    { 2052, "ChineseSimplified" },
    { 2058, "SpanishMexico" },
    { 3076, "ChineseHongKong" },
    { 3082, "SpanishModernSort" },
} };

void PrintTo(const Language& language, std::ostream* out)
{
    *out << language.name << " (" << language.id << ")";
}

constexpr uint16_t english = 1033;
constexpr uint16_t german = 1031;

// Ids the table leaves out on purpose; other programs rely on them being empty.
constexpr std::array<uint32_t, 5> unusedIds = { 14, 29, 65, 84, 85 };

std::vector<uint32_t> expectedIds()
{
    std::vector<uint32_t> ids;
    for (auto [first, last] : { std::pair { 1u, 13u }, { 15u, 28u }, { 30u, 64u }, { 66u, 83u }, { 86u, 90u } }) {
        for (uint32_t id = first; id <= last; ++id)
            ids.push_back(id);
    }
    return ids;
}

// Copies through the caller's interface into a buffer whose every unit starts
// out non-zero, so a missing terminator or a stale text shows.
struct Copied {
    uint32_t units;
    std::array<char16_t, strings::bufferUnits> buffer;
};

Copied copy(uint32_t id, uint16_t languageId)
{
    Copied copied {};
    copied.buffer.fill(u'#');
    copied.units = strings::copyString(id, languageId, copied.buffer);
    return copied;
}

std::u16string englishText(uint32_t id)
{
    return std::u16string(strings::find(id, english).value());
}

TEST(StringTable, HoldsExactlyTheTwelveLanguages)
{
    std::vector<uint16_t> expected;
    for (const auto& language : heldLanguages)
        expected.push_back(language.id);
    auto held = strings::languages();
    EXPECT_EQ(std::vector<uint16_t>(held.begin(), held.end()), expected);
}

TEST(StringTable, HoldsExactlyTheEightyFiveIds)
{
    auto held = strings::ids();
    EXPECT_EQ(std::vector<uint32_t>(held.begin(), held.end()), expectedIds());
    EXPECT_EQ(held.size(), 85u);
}

TEST(StringTable, EnglishKeepsItsBlanksByteForByte)
{
    // Doubled blanks and a trailing blank are part of these texts.
    const std::u16string missingLibrary = u"KELTOVDISP.DLL file is missing.  Please install the latest video driver. ";
    const std::u16string presentationMode
        = u"Performs two actions: Sets extended desktop mode and set Presentation power settings. This item is grayed "
          u"out on Tavio Menu if the Default Presentation Profile is not enabled in NView Desktop Manager.";
    const std::u16string captureWindow
        = u"Copies current window to clipboard.  Similar to  Keyboard ALT print screen function.";
    const std::u16string tabletSettings
        = u"Access to all your tablet hardware settings and configure the Pen properties. ";

    for (auto [id, expected] : { std::pair { 77u, missingLibrary }, { 9u, presentationMode }, { 7u, captureWindow },
             { 15u, tabletSettings } }) {
        SCOPED_TRACE("id " + std::to_string(id));
        auto copied = copy(id, english);
        EXPECT_EQ(copied.units, expected.size());
        EXPECT_EQ(std::u16string(copied.buffer.data()), expected);
    }
}

TEST(StringTable, LanguageNotHeldGetsEnglish)
{
    // Italian, English (United Kingdom), German (Switzerland), neutral and an invalid id.
    for (uint16_t languageId : { 1040, 2057, 2055, 0, 0xFFFF }) {
        SCOPED_TRACE("language " + std::to_string(languageId));
        EXPECT_EQ(strings::resolveLanguage(languageId), english);
        EXPECT_FALSE(strings::find(17, languageId).has_value());
        for (uint32_t id : { 1u, 17u, 77u, 90u }) {
            auto copied = copy(id, languageId);
            EXPECT_EQ(std::u16string(copied.buffer.data(), copied.units), englishText(id));
        }
    }
}

TEST(StringTable, GermanLookupGetsGermanText)
{
    EXPECT_EQ(strings::resolveLanguage(german), german);
    for (auto [id, expected] : { std::pair { 17u, u"Helligkeit" }, { 43u, u"Entfernen" }, { 87u, u"Abbrechen" },
             { 68u, u"Herunterfahren" } }) {
        SCOPED_TRACE("id " + std::to_string(id));
        auto copied = copy(id, german);
        EXPECT_EQ(std::u16string(copied.buffer.data(), copied.units), expected);
        EXPECT_NE(std::u16string(copied.buffer.data()), englishText(id));
    }
}

TEST(StringTable, BarePointerOverloadCopiesTheSame)
{
    std::array<char16_t, strings::bufferUnits> buffer;
    buffer.fill(u'#');
    EXPECT_EQ(strings::copyString(9, german, buffer.data()), strings::find(9, german)->size());
    EXPECT_EQ(std::u16string_view(buffer.data()), *strings::find(9, german));
}

class EveryLanguage : public testing::TestWithParam<Language> { };

TEST_P(EveryLanguage, HoldsEveryIdAsANonEmptyTextThatFitsTheBuffer)
{
    const uint16_t languageId = GetParam().id;
    for (uint32_t id : expectedIds()) {
        SCOPED_TRACE("id " + std::to_string(id));
        auto text = strings::find(id, languageId);
        ASSERT_TRUE(text.has_value());
        EXPECT_FALSE(text->empty());
        EXPECT_LT(text->size(), strings::bufferUnits);
        EXPECT_EQ(text->find(u'\0'), std::u16string_view::npos);

        // The copy is whole, never cut, and terminated right after the text.
        auto copied = copy(id, languageId);
        ASSERT_EQ(copied.units, text->size());
        EXPECT_EQ(std::u16string_view(copied.buffer.data(), copied.units), *text);
        EXPECT_EQ(copied.buffer[copied.units], u'\0');
    }
}

TEST_P(EveryLanguage, UnusedAndUnknownIdsCopyAnEmptyText)
{
    const uint16_t languageId = GetParam().id;
    std::vector<uint32_t> absent(unusedIds.begin(), unusedIds.end());
    absent.insert(absent.end(), { 0u, 91u, 1000u, 0x10000u + 17u, 0xFFFFFFFFu });
    for (uint32_t id : absent) {
        SCOPED_TRACE("id " + std::to_string(id));
        EXPECT_FALSE(strings::find(id, languageId).has_value());
        auto copied = copy(id, languageId);
        EXPECT_EQ(copied.units, 0u);
        EXPECT_EQ(copied.buffer[0], u'\0');
    }
}

TEST_P(EveryLanguage, KeepsProductAndOutsideNamesAsEnglishWritesThem)
{
    // Names that no translation touches; where the English text of an id
    // holds one, the text of that id in every language holds it too.
    static constexpr std::u16string_view names[] = { u"Tavio Menu", u"Tavio Utility", u"KELTOVDISP.DLL",
        u"NView Desktop Manager", u"Nview Desktop Manager", u"Microsoft Windows" };
    const uint16_t languageId = GetParam().id;
    int checked = 0;
    for (uint32_t id : expectedIds()) {
        for (auto name : names) {
            if (englishText(id).find(name) == std::u16string::npos)
                continue;
            SCOPED_TRACE("id " + std::to_string(id) + ", name " + toUtf8(name));
            auto text = strings::find(id, languageId);
            ASSERT_TRUE(text.has_value());
            EXPECT_NE(text->find(name), std::u16string_view::npos) << toUtf8(*text);
            ++checked;
        }
    }
    // Guards the check itself: the English table names the product in many texts.
    EXPECT_GT(checked, 10);
}

INSTANTIATE_TEST_SUITE_P(
    StringTable, EveryLanguage, testing::ValuesIn(heldLanguages), [](const testing::TestParamInfo<Language>& info) {
        return std::string(info.param.name) + "_" + std::to_string(info.param.id);
    });

class TranslatedLanguage : public testing::TestWithParam<Language> { };

TEST_P(TranslatedLanguage, DiffersFromEnglishInItsSentences)
{
    // A table copied from English, or a sentence left untranslated, shows
    // here; short labels such as "OK" may rightly stay as they are.
    const uint16_t languageId = GetParam().id;
    for (uint32_t id : { 1u, 2u, 9u, 24u, 34u, 35u, 40u, 41u, 49u, 63u, 74u, 77u, 79u, 90u }) {
        SCOPED_TRACE("id " + std::to_string(id));
        EXPECT_NE(std::u16string(strings::find(id, languageId).value()), englishText(id));
    }
}

std::vector<Language> translatedLanguages()
{
    std::vector<Language> languages;
    std::copy_if(heldLanguages.begin(), heldLanguages.end(), std::back_inserter(languages),
        [](const Language& language) { return language.id != english; });
    return languages;
}

INSTANTIATE_TEST_SUITE_P(StringTable, TranslatedLanguage, testing::ValuesIn(translatedLanguages()),
    [](const testing::TestParamInfo<Language>& info) {
        return std::string(info.param.name) + "_" + std::to_string(info.param.id);
    });

} // namespace
