#include "common/names.h"
#include "common/settings.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "tests/testkit/machine_fixture.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace {

namespace registry = platform::registry;
using common::PARAM_ALL_USERS;
using common::PARAM_LOCKED;

constexpr std::u16string_view AppFolder = u"C:\\Program Files\\Tavio Menu";

class SettingsTest : public testkit::MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        ASSERT_TRUE(platform::files::createDirectory(AppFolder).ok());
        setApplicationPath(AppFolder);
    }

    static registry::Key settingsKey(registry::Root root = registry::Root::LocalMachine)
    {
        auto created = registry::createKey(root, common::SettingsKey);
        EXPECT_TRUE(created.ok());
        return created->key;
    }

    static void setApplicationPath(std::u16string_view path)
    {
        ASSERT_TRUE(registry::setString(settingsKey(), common::ValueApplicationPath, path).ok());
    }

    // Stores Parameters, or removes it for nullopt.
    static void storeParameters(std::optional<uint32_t> value)
    {
        if (value) {
            ASSERT_TRUE(registry::setDword(settingsKey(), common::ValueParameters, *value).ok());
        } else {
            (void)registry::deleteValue(settingsKey(), common::ValueParameters);
        }
    }

    static std::optional<uint32_t> storedParameters()
    {
        auto key = registry::openKey(registry::Root::LocalMachine, common::SettingsKey, registry::Access::Read);
        if (!key)
            return std::nullopt;
        auto value = registry::getDword(*key, common::ValueParameters);
        if (!value)
            return std::nullopt;
        return *value;
    }

    static void becomeStandardUser()
    {
        ASSERT_TRUE(platform::security::setCurrentUser({ u"Owner", platform::machine::UserRole::StandardUser }).ok());
    }

    static std::u16string perUserFolder()
    {
        auto appData = platform::paths::knownFolder(platform::paths::KnownFolder::AppData);
        EXPECT_TRUE(appData.ok());
        return *appData + u"\\Tavio Menu";
    }

    // GetDataFilePath into a buffer that starts out filled with 'X', so that a
    // refused call shows it left the buffer alone.
    struct PathOutcome {
        uint32_t result;
        std::u16string path;
        bool untouched;
    };
    static PathOutcome dataFilePath()
    {
        std::array<char16_t, platform::paths::MaxPath> buffer;
        buffer.fill(u'X');
        uint32_t result = common::GetDataFilePath(buffer);
        bool untouched = std::all_of(buffer.begin(), buffer.end(), [](char16_t unit) { return unit == u'X'; });
        return { result, untouched ? std::u16string() : std::u16string(platform::text::view(buffer)), untouched };
    }
};

TEST_F(SettingsTest, ReadParametersClearsAllUsersWhenLockedAndKeepsOtherBits)
{
    struct Case {
        const char* name;
        std::optional<uint32_t> stored;
        uint32_t expected;
        std::optional<uint32_t> storedAfter;
    };
    const Case cases[] = {
        { "absent reads as 0 and stays absent", std::nullopt, 0, std::nullopt },
        { "no bits", 0, 0, 0 },
        { "locked", PARAM_LOCKED, PARAM_LOCKED, PARAM_LOCKED },
        { "all users", PARAM_ALL_USERS, PARAM_ALL_USERS, PARAM_ALL_USERS },
        { "locked and all users: all users cleared in the registry", 3, 1, 1 },
        { "other bits survive the clearing", 0x80000007u, 0x80000005u, 0x80000005u },
        { "other bits alone are returned as they are", 0x10, 0x10, 0x10 },
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        storeParameters(row.stored);
        EXPECT_EQ(common::ReadParameters(), row.expected);
        EXPECT_EQ(storedParameters(), row.storedAfter);
    }
}

TEST_F(SettingsTest, SetParameterBitsSetsOrClearsOnlyTheMask)
{
    struct Case {
        const char* name;
        std::optional<uint32_t> stored;
        uint32_t mask;
        int32_t set;
        uint32_t expected;
        std::optional<uint32_t> storedAfter;
    };
    const Case cases[] = {
        { "absent: nothing is created", std::nullopt, PARAM_ALL_USERS, 1, 0, std::nullopt },
        { "absent, clearing: nothing is created", std::nullopt, PARAM_ALL_USERS, 0, 0, std::nullopt },
        { "set all users beside locked", PARAM_LOCKED, PARAM_ALL_USERS, 1, 1, 3 },
        { "clear all users", 3, PARAM_ALL_USERS, 0, 1, PARAM_LOCKED },
        { "any nonzero argument sets", 0x10, PARAM_ALL_USERS, -7, 1, 0x12 },
        { "clearing keeps other bits", 0x12, PARAM_ALL_USERS, 0, 1, 0x10 },
        { "setting a set bit changes nothing", 2, PARAM_ALL_USERS, 1, 1, 2 },
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        storeParameters(row.stored);
        EXPECT_EQ(common::SetParameterBits(row.mask, row.set), row.expected);
        EXPECT_EQ(storedParameters(), row.storedAfter);
    }
}

TEST_F(SettingsTest, StandardUserCannotChangeParametersButTheLockStillWins)
{
    storeParameters(3);
    becomeStandardUser();

    EXPECT_EQ(common::SetParameterBits(PARAM_ALL_USERS, 0), 0u);
    EXPECT_EQ(storedParameters(), 3u);
    // The clearing write is refused, yet a locked machine must not hand out
    // per-user data folders.
    EXPECT_EQ(common::ReadParameters(), PARAM_LOCKED);
    EXPECT_EQ(dataFilePath().path, std::u16string(AppFolder) + u"\\MenuData.txt");
}

TEST_F(SettingsTest, DataFileLivesInTheApplicationFolderUnlessAllUsersMayConfigure)
{
    struct Case {
        const char* name;
        std::optional<uint32_t> stored;
    };
    const Case cases[] = {
        { "Parameters absent", std::nullopt },
        { "no bits", 0 },
        { "locked", PARAM_LOCKED },
        { "locked overrides all users", 3 },
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        storeParameters(row.stored);
        auto outcome = dataFilePath();
        EXPECT_EQ(outcome.result, 1u);
        EXPECT_EQ(outcome.path, u"C:\\Program Files\\Tavio Menu\\MenuData.txt");
    }
    EXPECT_EQ(storedParameters(), PARAM_LOCKED);
}

TEST_F(SettingsTest, AllUsersCreatesThePerUserFolderOnceAndFindsItAfterwards)
{
    storeParameters(PARAM_ALL_USERS);
    const std::u16string expected = perUserFolder() + u"\\MenuData.txt";
    ASSERT_FALSE(platform::files::attributes(perUserFolder()).ok());

    auto first = dataFilePath();
    EXPECT_EQ(first.result, 1u);
    EXPECT_EQ(first.path, expected);
    auto attributes = platform::files::attributes(perUserFolder());
    ASSERT_TRUE(attributes.ok());
    EXPECT_NE(*attributes & uint32_t(platform::files::Attribute::Directory), 0u);

    // The folder is there now: its creation reports 183, which is no failure.
    auto second = dataFilePath();
    EXPECT_EQ(second.result, 1u);
    EXPECT_EQ(second.path, expected);
}

TEST_F(SettingsTest, RefusedPathLeavesTheCallersBufferAlone)
{
    // With a file where the user's application-data folder belongs, the
    // per-user folder cannot be made (3, path not found).
    storeParameters(PARAM_ALL_USERS);
    auto appData = machine().host(platform::paths::knownFolder(platform::paths::KnownFolder::AppData).value());
    std::filesystem::remove_all(appData);
    {
        std::ofstream blocker(appData);
    }
    auto missingParent = dataFilePath();
    EXPECT_EQ(missingParent.result, 0u);
    EXPECT_TRUE(missingParent.untouched);

    // An application folder so long that the file name no longer fits in 260
    // units: a cut path would name another file.
    storeParameters(0);
    setApplicationPath(u"C:\\" + std::u16string(250, u'a'));
    auto tooLong = dataFilePath();
    EXPECT_EQ(tooLong.result, 0u);
    EXPECT_TRUE(tooLong.untouched);
}

TEST_F(SettingsTest, MissingApplicationPathLeavesTheFolderPartEmpty)
{
    (void)registry::deleteValue(settingsKey(), common::ValueApplicationPath);
    auto outcome = dataFilePath();
    EXPECT_EQ(outcome.result, 1u);
    EXPECT_EQ(outcome.path, u"\\MenuData.txt");
}

TEST_F(SettingsTest, ApplicationPathOfAnotherTypeCountsAsMissing)
{
    ASSERT_TRUE(registry::setDword(settingsKey(), common::ValueApplicationPath, 0x00430043).ok());
    EXPECT_EQ(dataFilePath().path, u"\\MenuData.txt");
}

TEST_F(SettingsTest, RegistryValuesFollowThePlatformsCodes)
{
    const std::u16string_view userKey = u"Software\\KELTO\\Tavio Menu";
    ASSERT_FALSE(registry::openKey(registry::Root::CurrentUser, userKey, registry::Access::Read).ok());

    // Writing into a per-user key that does not exist yet creates it.
    uint32_t brightness = 1;
    EXPECT_EQ(common::WriteRegistryValue(common::RootKey::CurrentUser, userKey, common::ValueBrightness,
                  common::ValueType::Dword, &brightness, sizeof(brightness)),
        0u);
    EXPECT_TRUE(registry::openKey(registry::Root::CurrentUser, userKey, registry::Access::Read).ok());

    uint32_t value = 0;
    uint32_t size = sizeof(value);
    common::ValueType type = common::ValueType::None;
    EXPECT_EQ(
        common::ReadRegistryValue(common::RootKey::CurrentUser, userKey, common::ValueBrightness, &type, &value, &size),
        0u);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(type, common::ValueType::Dword);

    struct Case {
        const char* name;
        std::u16string_view key;
        std::u16string_view value;
        uint32_t capacity;
        uint32_t expected;
    };
    const Case cases[] = {
        { "missing key", u"Software\\KELTO\\Nothing", u"Brightness", 4, 2 },
        { "missing value", userKey, u"Wireless", 4, 2 },
        { "buffer too small", userKey, u"Brightness", 2, 234 },
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        uint32_t data = 0xCCCCCCCC;
        uint32_t capacity = row.capacity;
        EXPECT_EQ(
            common::ReadRegistryValue(common::RootKey::CurrentUser, row.key, row.value, nullptr, &data, &capacity),
            row.expected);
        EXPECT_EQ(data, 0xCCCCCCCCu) << "a failed read must not write the buffer";
    }

    becomeStandardUser();
    uint32_t parameters = 2;
    EXPECT_EQ(common::WriteRegistryValue(common::RootKey::LocalMachine, common::SettingsKey, common::ValueParameters,
                  common::ValueType::Dword, &parameters, sizeof(parameters)),
        5u);
}

TEST_F(SettingsTest, PulseNamedEventReachesOnlyAnExistingEvent)
{
    EXPECT_EQ(common::PulseNamedEvent(common::EventToggleWireless), 0u);

    auto created = platform::sync::createEvent(
        common::EventToggleWireless, platform::sync::ResetMode::Auto, platform::sync::InitialState::NotSignalled);
    ASSERT_TRUE(created.ok());
    EXPECT_NE(common::PulseNamedEvent(common::EventToggleWireless), 0u);
    // With nobody waiting the pulse is lost: the event is not left signalled.
    auto outcome = platform::sync::waitOne(created->handle, std::chrono::milliseconds(0));
    ASSERT_TRUE(outcome.ok());
    EXPECT_TRUE(outcome->timedOut());
}

} // namespace
