#include "platform/registry.h"

#include "platform/security.h"
#include "platform/text.h"
#include "tests/helpers/registry_pattern.h"
#include "tests/testkit/machine_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <thread>

using namespace platform;
using namespace platform::registry;

namespace {

constexpr std::u16string_view SettingsKey = u"Software\\KELTO\\Tavio Menu";

std::vector<std::byte> bytes(std::initializer_list<int> values)
{
    std::vector<std::byte> out;
    for (int value : values)
        out.push_back(static_cast<std::byte>(value));
    return out;
}

Key create(Root root, std::u16string_view path)
{
    auto created = createKey(root, path);
    EXPECT_TRUE(created) << "createKey: " << describe(created.error());
    return created.value().key;
}

class RegistryTest : public testkit::MachineTest { };

// The caller-buffer rules of a value query, against a REG_SZ of 18 bytes.
TEST_F(RegistryTest, QueryFollowsTheCallerBufferRules)
{
    const std::u16string_view path = u"C:\\Tavio"; // 8 units + terminator = 18 bytes
    Key key = create(Root::LocalMachine, SettingsKey);
    ASSERT_TRUE(setString(key, u"ApplicationPath", path));

    struct Case {
        const char* name;
        const char16_t* valueName;
        bool withBuffer;
        uint32_t capacity;
        bool deleteKeyFirst;
        Error expected;
        uint32_t expectedSize;
    };
    const Case cases[] = {
        { "null data reports the size", u"ApplicationPath", false, 0, false, Error::Success, 18 },
        { "exact size", u"ApplicationPath", true, 18, false, Error::Success, 18 },
        { "larger buffer", u"ApplicationPath", true, 40, false, Error::Success, 18 },
        { "one byte short", u"ApplicationPath", true, 17, false, Error::MoreData, 18 },
        { "empty buffer", u"ApplicationPath", true, 0, false, Error::MoreData, 18 },
        { "missing value", u"Version", true, 40, false, Error::FileNotFound, 40 },
        { "missing key", u"ApplicationPath", true, 40, true, Error::FileNotFound, 40 },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        Key target = key;
        if (test.deleteKeyFirst) {
            ASSERT_TRUE(createKey(Root::LocalMachine, u"Software\\Doomed"));
            target = openKey(Root::LocalMachine, u"Software\\Doomed", Access::Read).value();
            ASSERT_TRUE(deleteTree(Root::LocalMachine, u"Software\\Doomed"));
        }
        std::array<std::byte, 40> buffer;
        buffer.fill(std::byte { 0xCC });
        ValueType type = ValueType::None;
        uint32_t size = test.capacity;
        auto status = queryValue(target, test.valueName, &type, test.withBuffer ? buffer.data() : nullptr, &size);
        EXPECT_EQ(status.error(), test.expected);
        EXPECT_EQ(size, test.expectedSize);
        if (test.expected != Error::FileNotFound) {
            EXPECT_EQ(type, ValueType::String);
        }
        size_t written = test.withBuffer && status ? test.expectedSize : 0;
        EXPECT_EQ(std::memcmp(buffer.data(), path.data(), written), 0);
        EXPECT_TRUE(std::all_of(buffer.begin() + written, buffer.end(), [](auto b) { return b == std::byte { 0xCC }; }))
            << "bytes beyond the value were written";
    }

    // A buffer without its size is a caller's mistake, not a read.
    std::array<std::byte, 40> buffer {};
    EXPECT_EQ(queryValue(key, u"ApplicationPath", nullptr, buffer.data(), nullptr).error(), Error::InvalidParameter);
}

TEST_F(RegistryTest, NamesMatchWithoutRegardToCaseAndKeepTheirSpelling)
{
    Key key = create(Root::LocalMachine, SettingsKey);
    ASSERT_TRUE(setString(key, u"ApplicationPath", u"C:\\Tavio"));
    ASSERT_TRUE(setString(key, u"\u00C4rger", u"latin"));

    auto again = createKey(Root::LocalMachine, u"SOFTWARE\\kelto\\TAVIO MENU");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->disposition, Disposition::OpenedExisting);
    auto opened = openKey(Root::LocalMachine, u"software\\Kelto\\tavio menu\\", Access::Write);
    ASSERT_TRUE(opened);
    EXPECT_EQ(getString(*opened, u"APPLICATIONPATH").valueOr(u""), u"C:\\Tavio");
    EXPECT_EQ(getString(*opened, u"\u00E4RGER").valueOr(u""), u"latin");

    // Overwriting through another spelling keeps the first one, and one value.
    ASSERT_TRUE(setString(*opened, u"applicationpath", u"D:\\Other"));
    EXPECT_EQ(valueNames(key), (std::vector<std::u16string> { u"ApplicationPath", u"\u00C4rger" }));
    EXPECT_EQ(getString(key, u"ApplicationPath").valueOr(u""), u"D:\\Other");

    auto software = openKey(Root::LocalMachine, u"SOFTWARE", Access::Read);
    ASSERT_TRUE(software);
    auto names = subkeys(*software);
    EXPECT_EQ(std::count(names.begin(), names.end(), u"KELTO"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), u"Microsoft"), 1);
}

TEST_F(RegistryTest, ValuesKeepTheirTypeAndBytes)
{
    Key key = create(Root::CurrentUser, SettingsKey);

    // A string is stored as given: no terminator is added or removed.
    std::u16string_view raw = u"abc";
    auto rawBytes = std::as_bytes(std::span(raw.data(), raw.size()));
    ASSERT_TRUE(setValue(key, u"Raw", ValueType::String, rawBytes));
    auto value = getValue(key, u"Raw");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->data.size(), 6u);
    EXPECT_EQ(getString(key, u"Raw").valueOr(u""), u"abc");

    ASSERT_TRUE(setDword(key, u"Wireless", 0x01020304));
    EXPECT_EQ(getValue(key, u"Wireless")->data, bytes({ 4, 3, 2, 1 }));
    EXPECT_EQ(getDword(key, u"Wireless").valueOr(0), 0x01020304u);

    // A REG_DWORD of the wrong size is refused and leaves the value as it was.
    auto three = bytes({ 1, 2, 3 });
    EXPECT_EQ(setValue(key, u"Wireless", ValueType::Dword, three).error(), Error::InvalidParameter);
    EXPECT_EQ(getDword(key, u"Wireless").valueOr(0), 0x01020304u);

    // Reading one type as another is an error, not a reinterpretation.
    EXPECT_EQ(getDword(key, u"Raw").error(), Error::InvalidData);
    EXPECT_EQ(getString(key, u"Wireless").error(), Error::InvalidData);

    // The empty name is the key's default value, apart from a value named "Default".
    ASSERT_TRUE(setString(key, u"", u"unnamed"));
    EXPECT_EQ(getString(key, u"").valueOr(u""), u"unnamed");
    EXPECT_EQ(getString(key, u"Default").error(), Error::FileNotFound);

    ASSERT_TRUE(setValue(key, u"Empty", ValueType::Binary, {}));
    uint32_t size = 99;
    EXPECT_TRUE(queryValue(key, u"Empty", nullptr, nullptr, &size));
    EXPECT_EQ(size, 0u);

    ASSERT_TRUE(deleteValue(key, u"RAW"));
    EXPECT_EQ(getValue(key, u"Raw").error(), Error::FileNotFound);
    EXPECT_EQ(deleteValue(key, u"Raw").error(), Error::FileNotFound);
}

TEST_F(RegistryTest, KeysAreCreatedOpenedAndDeletedAsTrees)
{
    auto created = createKey(Root::LocalMachine, u"Software\\KELTO\\Tavio Menu\\Deep");
    ASSERT_TRUE(created);
    EXPECT_EQ(created->disposition, Disposition::Created);
    EXPECT_EQ(createKey(Root::LocalMachine, u"Software\\KELTO")->disposition, Disposition::OpenedExisting);
    ASSERT_TRUE(setDword(created->key, u"Mode", 7));
    Key sibling = create(Root::LocalMachine, u"Software\\KELTOX");
    ASSERT_TRUE(setDword(sibling, u"Kept", 1));

    EXPECT_EQ(openKey(Root::LocalMachine, u"Software\\Nothing", Access::Read).error(), Error::FileNotFound);
    EXPECT_EQ(openKey(Root::LocalMachine, u"\\Software", Access::Read).error(), Error::BadPathname);
    EXPECT_EQ(openKey(Root::LocalMachine, u"Software\\\\KELTO", Access::Read).error(), Error::BadPathname);
    EXPECT_EQ(createKey(Root::LocalMachine, std::u16string(256, u'k')).error(), Error::InvalidParameter);

    ASSERT_TRUE(deleteTree(Root::LocalMachine, u"software\\kelto"));
    EXPECT_EQ(
        openKey(Root::LocalMachine, u"Software\\KELTO\\Tavio Menu\\Deep", Access::Read).error(), Error::FileNotFound);
    // The values of a deleted key are gone with it, not left to a new key of the same name.
    Key reborn = create(Root::LocalMachine, u"Software\\KELTO\\Tavio Menu\\Deep");
    EXPECT_TRUE(valueNames(reborn).empty());
    EXPECT_EQ(getDword(sibling, u"Kept").valueOr(0), 1u);

    EXPECT_EQ(deleteTree(Root::LocalMachine, u"Software\\Nothing").error(), Error::FileNotFound);
    EXPECT_EQ(deleteTree(Root::LocalMachine, u"").error(), Error::InvalidParameter);
    EXPECT_TRUE(openKey(Root::LocalMachine, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", Access::Read));
}

TEST_F(RegistryTest, AKeyOpenedForReadingCannotWrite)
{
    Key writable = create(Root::CurrentUser, SettingsKey);
    ASSERT_TRUE(setDword(writable, u"Brightness", 1));
    auto readOnly = openKey(Root::CurrentUser, SettingsKey, Access::Read);
    ASSERT_TRUE(readOnly);
    EXPECT_EQ(setDword(*readOnly, u"Brightness", 0).error(), Error::AccessDenied);
    EXPECT_EQ(deleteValue(*readOnly, u"Brightness").error(), Error::AccessDenied);
    EXPECT_EQ(getDword(*readOnly, u"Brightness").valueOr(9), 1u);
}

TEST_F(RegistryTest, CurrentUserIsTheUsersOwnHive)
{
    Key mine = create(Root::CurrentUser, SettingsKey);
    ASSERT_TRUE(setDword(mine, u"Wireless", 3));
    auto viaUsers = openKey(Root::Users, u"owner\\Software\\KELTO\\Tavio Menu", Access::Read);
    ASSERT_TRUE(viaUsers);
    EXPECT_EQ(getDword(*viaUsers, u"Wireless").valueOr(0), 3u);

    // Another user sees a hive of their own, made when first opened.
    ASSERT_TRUE(security::setCurrentUser({ u"Bob", machine::UserRole::StandardUser }));
    EXPECT_EQ(openKey(Root::CurrentUser, SettingsKey, Access::Read).error(), Error::FileNotFound);
    EXPECT_TRUE(openKey(Root::CurrentUser, u"", Access::Write));
    auto users = openKey(Root::Users, u"", Access::Read);
    ASSERT_TRUE(users);
    EXPECT_EQ(subkeys(*users), (std::vector<std::u16string> { u"Bob", u"Owner" }));
    // ...and may not write into another user's.
    EXPECT_EQ(createKey(Root::Users, u"Owner\\Software\\Mine").error(), Error::AccessDenied);
    EXPECT_EQ(openKey(Root::Users, u"Owner\\Software\\KELTO\\Tavio Menu", Access::Write).error(), Error::AccessDenied);
    EXPECT_TRUE(createKey(Root::Users, u"BOB\\Software\\Mine"));
}

TEST(RegistryKeyNames, ParseRootsWithOrWithoutAPath)
{
    struct Case {
        std::u16string_view text;
        Error expected;
        Root root;
        std::u16string_view path;
    };
    const Case cases[] = {
        { u"HKLM", Error::Success, Root::LocalMachine, u"" },
        { u"hklm\\Software\\KELTO", Error::Success, Root::LocalMachine, u"Software\\KELTO" },
        { u"HKEY_LOCAL_MACHINE\\SOFTWARE\\", Error::Success, Root::LocalMachine, u"SOFTWARE" },
        { u"HKCU\\Software", Error::Success, Root::CurrentUser, u"Software" },
        { u"Hkey_Current_User", Error::Success, Root::CurrentUser, u"" },
        { u"HKU\\Owner", Error::Success, Root::Users, u"Owner" },
        { u"HKEY_USERS", Error::Success, Root::Users, u"" },
        { u"HKCR\\.txt", Error::InvalidParameter, Root::LocalMachine, u"" },
        { u"HKLMX\\Software", Error::InvalidParameter, Root::LocalMachine, u"" },
        { u"", Error::InvalidParameter, Root::LocalMachine, u"" },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(text::toUtf8(test.text));
        auto parsed = parseKeyName(test.text);
        EXPECT_EQ(parsed.error(), test.expected);
        if (parsed) {
            EXPECT_EQ(parsed->first, test.root);
            EXPECT_EQ(parsed->second, test.path);
        }
    }
}

class StandardUserRegistryTest : public testkit::MachineTest {
protected:
    machine::InitOptions machineOptions() const override
    {
        return { .userName = u"Pat", .role = machine::UserRole::StandardUser };
    }
};

TEST_F(StandardUserRegistryTest, ReadsButCannotChangeTheMachineKeys)
{
    // The installer runs elevated and writes the machine-wide settings.
    auto installed = testkit::run(testkit::helperProgram("registry_client"),
        { "--elevated", "set-string", "HKLM\\Software\\KELTO\\Tavio Menu", "ApplicationPath",
            "C:\\Program Files\\Tavio Menu" });
    ASSERT_EQ(installed.exitCode, 0) << installed.output;
    auto parameters = testkit::run(testkit::helperProgram("registry_client"),
        { "--elevated", "set-dword", "HKLM\\Software\\KELTO\\Tavio Menu", "Parameters", "2" });
    ASSERT_EQ(parameters.exitCode, 0) << parameters.output;

    EXPECT_FALSE(security::isAdministrator());
    EXPECT_EQ(security::tokenGroups(), (std::vector<std::u16string> { std::u16string(security::UsersGroup) }));

    auto readable = openKey(Root::LocalMachine, SettingsKey, Access::Read);
    ASSERT_TRUE(readable);
    EXPECT_EQ(getString(*readable, u"ApplicationPath").valueOr(u""), u"C:\\Program Files\\Tavio Menu");

    EXPECT_EQ(openKey(Root::LocalMachine, SettingsKey, Access::Write).error(), Error::AccessDenied);
    EXPECT_EQ(createKey(Root::LocalMachine, SettingsKey).error(), Error::AccessDenied);
    EXPECT_EQ(createKey(Root::LocalMachine, u"Software\\Intruder").error(), Error::AccessDenied);
    EXPECT_EQ(setDword(*readable, u"Parameters", 0).error(), Error::AccessDenied);
    EXPECT_EQ(deleteValue(*readable, u"Parameters").error(), Error::AccessDenied);
    EXPECT_EQ(deleteTree(Root::LocalMachine, u"Software\\KELTO").error(), Error::AccessDenied);
    // Opening an existing machine key to read through createKey needs no right to write.
    EXPECT_TRUE(createKey(Root::LocalMachine, SettingsKey, Access::Read));

    // Nothing changed.
    EXPECT_EQ(getDword(*readable, u"Parameters").valueOr(0), 2u);
    EXPECT_EQ(openKey(Root::LocalMachine, u"Software\\Intruder", Access::Read).error(), Error::FileNotFound);
    EXPECT_EQ(valueNames(*readable), (std::vector<std::u16string> { u"ApplicationPath", u"Parameters" }));

    // Their own settings are theirs to write.
    auto own = createKey(Root::CurrentUser, SettingsKey);
    ASSERT_TRUE(own);
    EXPECT_EQ(own->disposition, Disposition::Created);
    EXPECT_TRUE(setDword(own->key, u"Brightness", 1));
    EXPECT_EQ(getDword(own->key, u"Brightness").valueOr(0), 1u);
}

TEST_F(StandardUserRegistryTest, AnElevatedProcessWritesTheMachineKeys)
{
    auto denied = testkit::run(testkit::helperProgram("registry_client"),
        { "set-dword", "HKLM\\Software\\KELTO\\Tavio Menu", "Parameters", "1" });
    EXPECT_EQ(denied.exitCode, 1);
    EXPECT_NE(denied.output.find("error 5"), std::string::npos) << denied.output;
    EXPECT_EQ(openKey(Root::LocalMachine, SettingsKey, Access::Read).error(), Error::FileNotFound);

    auto elevated = testkit::run(testkit::helperProgram("registry_client"),
        { "--elevated", "set-dword", "HKLM\\Software\\KELTO\\Tavio Menu", "Parameters", "1" });
    ASSERT_EQ(elevated.exitCode, 0) << elevated.output;
    auto key = openKey(Root::LocalMachine, SettingsKey, Access::Read);
    ASSERT_TRUE(key);
    EXPECT_EQ(getDword(*key, u"Parameters").valueOr(0), 1u);
}

TEST_F(RegistryTest, ValuesAreSharedWithOtherProcesses)
{
    Key key = create(Root::LocalMachine, SettingsKey);
    ASSERT_TRUE(setString(key, u"Version", u"1.0 \u00E9dition"));
    auto read = testkit::run(
        testkit::helperProgram("registry_client"), { "get-string", "hklm\\software\\kelto\\tavio menu", "VERSION" });
    EXPECT_EQ(read.exitCode, 0);
    EXPECT_EQ(read.output,
        "1.0 \xC3\xA9"
        "dition\n");

    auto written = testkit::run(testkit::helperProgram("registry_client"),
        { "set-dword", "HKCU\\Software\\KELTO\\Tavio Menu", "Wireless", "3" });
    ASSERT_EQ(written.exitCode, 0) << written.output;
    auto mine = openKey(Root::CurrentUser, SettingsKey, Access::Read);
    ASSERT_TRUE(mine);
    EXPECT_EQ(getDword(*mine, u"Wireless").valueOr(0), 3u);

    auto missing = testkit::run(
        testkit::helperProgram("registry_client"), { "get-dword", "HKCU\\Software\\KELTO\\Tavio Menu", "Brightness" });
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.output.find("error 2"), std::string::npos) << missing.output;
}

TEST_F(RegistryTest, ConcurrentWritersLoseAndTearNothing)
{
    constexpr uint32_t Writers = 4;
    constexpr uint32_t Rounds = 150;
    std::vector<testkit::Child> children;
    std::vector<std::filesystem::path> outputs;
    for (uint32_t writer = 0; writer < Writers; ++writer) {
        outputs.push_back(machine().root() / ("hammer" + std::to_string(writer) + ".out"));
        children.push_back(testkit::spawn(testkit::helperProgram("registry_client"),
            { "hammer", std::to_string(writer), std::to_string(Rounds), std::to_string(Writers) }, outputs.back()));
    }
    for (uint32_t writer = 0; writer < Writers; ++writer) {
        auto code = children[writer].wait(std::chrono::seconds(90));
        ASSERT_TRUE(code.has_value()) << "writer " << writer << " did not finish";
        EXPECT_EQ(*code, 0) << "writer " << writer << ": " << testkit::readFile(outputs[writer]);
    }

    auto key = openKey(Root::CurrentUser, u"Software\\Hammer", Access::Read);
    ASSERT_TRUE(key);
    EXPECT_EQ(valueNames(*key).size(), Writers * (Rounds + 1) + 1);
    for (uint32_t writer = 0; writer < Writers; ++writer) {
        std::u16string own = u"Own" + text::toUtf16(std::to_string(writer));
        auto last = getValue(*key, own);
        ASSERT_TRUE(last);
        EXPECT_EQ(registrytest::readPattern(last->data), (registrytest::Stamp { writer, Rounds - 1 }));
        for (uint32_t round = 0; round < Rounds; ++round) {
            auto single = getValue(*key, own + u"R" + text::toUtf16(std::to_string(round)));
            ASSERT_TRUE(single) << "writer " << writer << " round " << round << " lost";
            EXPECT_EQ(registrytest::readPattern(single->data), (registrytest::Stamp { writer, round }));
        }
    }
    auto shared = getValue(*key, u"Shared");
    ASSERT_TRUE(shared);
    auto stamp = registrytest::readPattern(shared->data);
    ASSERT_TRUE(stamp);
    EXPECT_EQ(stamp->round, Rounds - 1);
}

// The threads of one process each use a connection of their own.
TEST_F(RegistryTest, ThreadsOfOneProcessWriteAtOnce)
{
    constexpr uint32_t Threads = 4;
    constexpr uint32_t Rounds = 60;
    Key key = create(Root::CurrentUser, u"Software\\Threads");
    std::atomic<int> failures { 0 };
    std::vector<std::thread> threads;
    for (uint32_t thread = 0; thread < Threads; ++thread) {
        threads.emplace_back([&, thread] {
            for (uint32_t round = 0; round < Rounds; ++round) {
                auto pattern = registrytest::makePattern({ thread, round });
                auto name = u"T" + text::toUtf16(std::to_string(thread)) + u"R" + text::toUtf16(std::to_string(round));
                if (!setValue(key, name, ValueType::Binary, pattern)
                    || !setValue(key, u"Shared", ValueType::Binary, pattern))
                    ++failures;
                auto shared = getValue(key, u"Shared");
                if (!shared || !registrytest::readPattern(shared->data))
                    ++failures;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(valueNames(key).size(), Threads * Rounds + 1);
    for (uint32_t thread = 0; thread < Threads; ++thread) {
        for (uint32_t round = 0; round < Rounds; ++round) {
            auto name = u"T" + text::toUtf16(std::to_string(thread)) + u"R" + text::toUtf16(std::to_string(round));
            auto value = getValue(key, name);
            ASSERT_TRUE(value);
            EXPECT_EQ(registrytest::readPattern(value->data), (registrytest::Stamp { thread, round }));
        }
    }
}

TEST_F(RegistryTest, EachMachineHasItsOwnRegistry)
{
    Key first = create(Root::LocalMachine, SettingsKey);
    ASSERT_TRUE(setDword(first, u"Parameters", 1));
    {
        testkit::TempMachine other;
        EXPECT_EQ(openKey(Root::LocalMachine, SettingsKey, Access::Read).error(), Error::FileNotFound);
        Key second = create(Root::LocalMachine, SettingsKey);
        ASSERT_TRUE(setDword(second, u"Parameters", 2));
    }
    EXPECT_EQ(getDword(first, u"Parameters").valueOr(0), 1u);
}

TEST_F(RegistryTest, AMachineMadeAnewUnderARunningProgramIsSeenAtOnce)
{
    Key key = create(Root::LocalMachine, SettingsKey);
    ASSERT_TRUE(setDword(key, u"Parameters", 3));
    // Another program wipes and remakes this machine while we keep running.
    auto remade = testkit::run(testkit::systemProgram("tavio-machine"), { "init" });
    ASSERT_EQ(remade.exitCode, 0) << remade.output;
    EXPECT_EQ(openKey(Root::LocalMachine, SettingsKey, Access::Read).error(), Error::FileNotFound);
}

} // namespace
