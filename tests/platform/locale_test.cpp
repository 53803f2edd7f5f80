#include "platform/locale.h"

#include "platform/security.h"
#include "tests/testkit/machine_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace {

using platform::locale::LanguageId;

// Sets the locale variables of this process for one test and puts back what
// was there before.
class LocaleEnvironment {
public:
    LocaleEnvironment()
    {
        for (size_t i = 0; i < Variables.size(); ++i) {
            if (const char* value = std::getenv(Variables[i]))
                m_saved[i] = value;
            unsetenv(Variables[i]);
        }
    }
    ~LocaleEnvironment()
    {
        for (size_t i = 0; i < Variables.size(); ++i) {
            if (m_saved[i])
                setenv(Variables[i], m_saved[i]->c_str(), 1);
            else
                unsetenv(Variables[i]);
        }
    }
    void set(const char* lcAll, const char* lcMessages, const char* lang)
    {
        const char* values[] = { lcAll, lcMessages, lang };
        for (size_t i = 0; i < Variables.size(); ++i) {
            if (values[i])
                setenv(Variables[i], values[i], 1);
            else
                unsetenv(Variables[i]);
        }
    }

private:
    static constexpr std::array<const char*, 3> Variables { "LC_ALL", "LC_MESSAGES", "LANG" };
    std::array<std::optional<std::string>, 3> m_saved;
};

class LocaleTest : public testkit::MachineTest {
protected:
    void TearDown() override
    {
        platform::locale::clearThreadUiLanguage();
        MachineTest::TearDown();
    }
    LocaleEnvironment environment;
};

TEST(LocaleNames, mapToThePlatformsLanguages)
{
    struct Case {
        const char* name;
        std::optional<LanguageId> expected;
    };
    const Case cases[] = {
        { "de_DE.UTF-8", 1031 },
        { "de_AT", 3079 },
        { "de_LU.UTF-8", 1031 }, // a territory not held: the language's own
        { "fr", 1036 },
        { "fr_CA.UTF-8", 3084 },
        { "ja_JP.UTF-8", 1041 },
        { "ko_KR.eucKR", 1042 },
        { "pt_BR", 1046 },
        { "pt_PT", 2070 },
        { "zh_TW.UTF-8", 1028 },
        { "zh_CN.GB18030", 2052 },
        { "zh_HK", 3076 },
        { "zh", 2052 },
        { "es_MX", 2058 },
        { "es_ES@euro", 3082 },
        { "es", 3082 },
        { "en_US.UTF-8", 1033 },
        { "en_GB", 2057 },
        { "de-DE", 1031 },
        { "C", 1033 },
        { "C.UTF-8", 1033 },
        { "POSIX", 1033 },
        { "xx_YY", std::nullopt },
        { "", std::nullopt },
        { "_DE", std::nullopt },
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        EXPECT_EQ(platform::locale::languageOfLocaleName(testCase.name), testCase.expected);
    }
}

TEST(LocaleNames, parseNumbersTagsAndLocaleNames)
{
    struct Case {
        const char* text;
        std::optional<LanguageId> expected;
    };
    const Case cases[] = {
        { "1031", 1031 },
        { "0x0407", 1031 },
        { "2058", 2058 },
        { "de-DE", 1031 },
        { "ZH-tw", 1028 },
        { "es-ES_tradnl", 1034 },
        { "fr_FR.UTF-8", 1036 },
        { "0", std::nullopt },
        { "65536", std::nullopt },
        { "1031x", std::nullopt },
        { "-1", std::nullopt },
        { "de DE", std::nullopt },
        { "", std::nullopt },
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.text);
        EXPECT_EQ(platform::locale::parseLanguage(testCase.text), testCase.expected);
    }
    EXPECT_EQ(platform::locale::languageTag(1031), "de-DE");
    EXPECT_EQ(platform::locale::languageTag(9999), "");
}

TEST_F(LocaleTest, processLocaleFollowsTheHostsOrderOfVariables)
{
    struct Case {
        const char* scenario;
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        LanguageId expected;
    };
    const Case cases[] = {
        { "none_set", nullptr, nullptr, nullptr, 1033 },
        { "lang_only", nullptr, nullptr, "ja_JP.UTF-8", 1041 },
        { "messages_over_lang", nullptr, "ko_KR.UTF-8", "ja_JP.UTF-8", 1042 },
        { "all_over_messages", "fr_FR.UTF-8", "ko_KR.UTF-8", "ja_JP.UTF-8", 1036 },
        { "empty_all_is_unset", "", "pt_BR.UTF-8", nullptr, 1046 },
        { "unknown_language_is_english", nullptr, nullptr, "xx_YY", 1033 },
        { "unknown_first_variable_decides", "xx_YY", nullptr, "de_DE", 1033 },
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.scenario);
        environment.set(testCase.lcAll, testCase.lcMessages, testCase.lang);
        EXPECT_EQ(platform::locale::threadUiLanguage(), testCase.expected);
    }
}

TEST_F(LocaleTest, userSettingBeatsTheProcessLocaleAndBelongsToTheUser)
{
    environment.set(nullptr, nullptr, "de_DE.UTF-8");
    EXPECT_EQ(platform::locale::userUiLanguage(), std::nullopt);
    EXPECT_EQ(platform::locale::threadUiLanguage(), 1031);

    ASSERT_TRUE(platform::locale::setUserUiLanguage(2058).ok());
    EXPECT_EQ(platform::locale::userUiLanguage(), 2058);
    EXPECT_EQ(platform::locale::threadUiLanguage(), 2058);
    EXPECT_EQ(platform::locale::setUserUiLanguage(0).error(), platform::Error::InvalidParameter);
    EXPECT_EQ(platform::locale::threadUiLanguage(), 2058);

    // Another user of the machine has a language of their own.
    ASSERT_TRUE(platform::security::setCurrentUser({ u"Visitor", platform::machine::UserRole::StandardUser }).ok());
    EXPECT_EQ(platform::locale::threadUiLanguage(), 1031);
    ASSERT_TRUE(platform::security::setCurrentUser({ u"Owner", platform::machine::UserRole::Administrator }).ok());
    EXPECT_EQ(platform::locale::threadUiLanguage(), 2058);

    ASSERT_TRUE(platform::locale::clearUserUiLanguage().ok());
    EXPECT_EQ(platform::locale::clearUserUiLanguage().error(), platform::Error::FileNotFound);
    EXPECT_EQ(platform::locale::threadUiLanguage(), 1031);
}

TEST_F(LocaleTest, threadChoiceBeatsEverythingForThatThreadOnly)
{
    environment.set(nullptr, nullptr, "de_DE.UTF-8");
    ASSERT_TRUE(platform::locale::setUserUiLanguage(1036).ok());
    ASSERT_TRUE(platform::locale::setThreadUiLanguage(1041).ok());
    EXPECT_EQ(platform::locale::threadUiLanguage(), 1041);

    LanguageId otherThread = 0;
    std::thread([&] { otherThread = platform::locale::threadUiLanguage(); }).join();
    EXPECT_EQ(otherThread, 1036);

    EXPECT_EQ(platform::locale::setThreadUiLanguage(0).error(), platform::Error::InvalidParameter);
    EXPECT_EQ(platform::locale::threadUiLanguage(), 1041);
    platform::locale::clearThreadUiLanguage();
    EXPECT_EQ(platform::locale::threadUiLanguage(), 1036);
}

} // namespace
