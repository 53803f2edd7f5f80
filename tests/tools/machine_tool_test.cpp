#include "tests/testkit/machine_fixture.h"

#include "platform/journal.h"
#include "platform/registry.h"
#include "platform/text.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

namespace {

using platform::registry::Access;
using platform::registry::Root;
using platform::registry::ValueType;

constexpr const char* TestKey = "HKLM\\Software\\KELTO\\Tool Test";
constexpr std::u16string_view TestKeyPath = u"Software\\KELTO\\Tool Test";

testkit::Completed machineTool(const std::vector<std::string>& args)
{
    return testkit::run(testkit::systemProgram("tavio-machine"), args);
}

// The value as the platform sees it, so that a fault that writes and reads
// back the same wrong bytes does not go unnoticed.
platform::Result<platform::registry::Value> storedValue(Root root, std::u16string_view path, std::u16string_view name)
{
    auto key = platform::registry::openKey(root, path, Access::Read);
    if (!key)
        return key.error();
    return platform::registry::getValue(*key, name);
}

std::vector<std::byte> bytes(std::initializer_list<int> values)
{
    std::vector<std::byte> out;
    for (int value : values)
        out.push_back(static_cast<std::byte>(value));
    return out;
}

class MachineToolTest : public testkit::MachineTest { };

struct RoundTripCase {
    const char* type;
    const char* data;
    ValueType storedType;
    std::vector<std::byte> storedBytes;
    const char* shown; // how "reg query" shows the value
};

TEST_F(MachineToolTest, RegAddStoresTheBytesOfEachTypeAndQueryShowsThem)
{
    const RoundTripCase cases[] = {
        { "REG_SZ", "C:\\Program Files\\Tavio Menu", ValueType::String, {}, "REG_SZ    C:\\Program Files\\Tavio Menu" },
        { "REG_SZ", "", ValueType::String, bytes({ 0, 0 }), "REG_SZ    \n" },
        { "REG_DWORD", "0x1F", ValueType::Dword, bytes({ 0x1f, 0, 0, 0 }), "REG_DWORD    0x0000001f (31)" },
        { "REG_DWORD", "4294967295", ValueType::Dword, bytes({ 0xff, 0xff, 0xff, 0xff }),
            "REG_DWORD    0xffffffff (4294967295)" },
        { "REG_DWORD", "258", ValueType::Dword, bytes({ 2, 1, 0, 0 }), "REG_DWORD    0x00000102 (258)" },
        { "reg_binary", "01 ff7A", ValueType::Binary, bytes({ 1, 0xff, 0x7a }), "REG_BINARY    01 ff 7a" },
        { "REG_MULTI_SZ", "ab\\0c", ValueType::MultiString, bytes({ 'a', 0, 'b', 0, 0, 0, 'c', 0, 0, 0, 0, 0 }),
            "REG_MULTI_SZ    ab\\0c" },
        { "REG_QWORD", "0x100000000", ValueType::Qword, bytes({ 0, 0, 0, 0, 1, 0, 0, 0 }),
            "REG_QWORD    0x0000000100000000 (4294967296)" },
    };
    int index = 0;
    for (const auto& row : cases) {
        SCOPED_TRACE(std::string(row.type) + " '" + row.data + "'");
        std::string name = "Value" + std::to_string(index++);
        auto added = machineTool({ "reg", "add", TestKey, name, row.type, row.data });
        ASSERT_EQ(added.exitCode, 0) << added.output;

        auto stored = storedValue(Root::LocalMachine, TestKeyPath, platform::text::toUtf16(name));
        ASSERT_TRUE(stored.ok()) << stored.code();
        EXPECT_EQ(stored->type, row.storedType);
        if (!row.storedBytes.empty()) {
            EXPECT_EQ(stored->data, row.storedBytes);
        }

        auto queried = machineTool({ "reg", "query", TestKey, name });
        EXPECT_EQ(queried.exitCode, 0) << queried.output;
        EXPECT_NE(queried.output.find("    " + name + "    " + row.shown), std::string::npos) << queried.output;
    }
    auto text = storedValue(Root::LocalMachine, TestKeyPath, u"Value0");
    ASSERT_TRUE(text.ok());
    auto key = platform::registry::openKey(Root::LocalMachine, TestKeyPath, Access::Read);
    ASSERT_TRUE(key.ok());
    EXPECT_EQ(platform::registry::getString(*key, u"Value0").valueOr(u""), u"C:\\Program Files\\Tavio Menu");
}

TEST_F(MachineToolTest, QueryOfAKeyListsItsValuesAndSubkeys)
{
    ASSERT_EQ(machineTool({ "reg", "add", TestKey, "Name", "REG_SZ", "first" }).exitCode, 0);
    ASSERT_EQ(machineTool({ "reg", "add", TestKey, "Count", "REG_DWORD", "7" }).exitCode, 0);
    ASSERT_EQ(machineTool({ "reg", "add", std::string(TestKey) + "\\Child" }).exitCode, 0);

    auto queried = machineTool({ "reg", "query", "hklm\\software\\kelto\\tool test" });
    ASSERT_EQ(queried.exitCode, 0) << queried.output;
    EXPECT_NE(queried.output.find("HKEY_LOCAL_MACHINE\\"), std::string::npos) << queried.output;
    EXPECT_NE(queried.output.find("    Name    REG_SZ    first\n"), std::string::npos) << queried.output;
    EXPECT_NE(queried.output.find("    Count    REG_DWORD    0x00000007 (7)\n"), std::string::npos) << queried.output;
    EXPECT_NE(queried.output.find("\\Child\n"), std::string::npos) << queried.output;
}

TEST_F(MachineToolTest, RegDeleteRemovesAValueOrAWholeKey)
{
    ASSERT_EQ(machineTool({ "reg", "add", TestKey, "Keep", "REG_DWORD", "1" }).exitCode, 0);
    ASSERT_EQ(machineTool({ "reg", "add", TestKey, "Drop", "REG_DWORD", "2" }).exitCode, 0);
    ASSERT_EQ(machineTool({ "reg", "add", std::string(TestKey) + "\\Child", "Deep", "REG_SZ", "x" }).exitCode, 0);

    auto deleted = machineTool({ "reg", "delete", TestKey, "Drop" });
    ASSERT_EQ(deleted.exitCode, 0) << deleted.output;
    EXPECT_EQ(storedValue(Root::LocalMachine, TestKeyPath, u"Drop").error(), platform::Error::FileNotFound);
    EXPECT_TRUE(storedValue(Root::LocalMachine, TestKeyPath, u"Keep").ok());

    auto missing = machineTool({ "reg", "query", TestKey, "Drop" });
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_NE(missing.output.find("(2)"), std::string::npos) << missing.output;

    deleted = machineTool({ "reg", "delete", TestKey });
    ASSERT_EQ(deleted.exitCode, 0) << deleted.output;
    EXPECT_EQ(platform::registry::openKey(Root::LocalMachine, TestKeyPath, Access::Read).error(),
        platform::Error::FileNotFound);
    EXPECT_EQ(
        platform::registry::openKey(Root::LocalMachine, u"Software\\KELTO\\Tool Test\\Child", Access::Read).error(),
        platform::Error::FileNotFound);
    EXPECT_TRUE(platform::registry::openKey(Root::LocalMachine, u"Software\\KELTO", Access::Read).ok());
}

struct BadInput {
    std::vector<std::string> args;
    const char* message; // a part of what the tool must say
};

TEST_F(MachineToolTest, BadInputFailsWithAMessageAndChangesNothing)
{
    const BadInput cases[] = {
        { {}, "no command" },
        { { "frobnicate" }, "unknown command 'frobnicate'" },
        { { "reg" }, "expected query, add or delete" },
        { { "reg", "rename", TestKey }, "unknown operation 'rename'" },
        { { "reg", "add", TestKey, "Bad" }, "expected KEY" },
        { { "reg", "add", TestKey, "Bad", "REG_WORD", "1" }, "unknown type 'REG_WORD'" },
        { { "reg", "add", TestKey, "Bad", "REG_DWORD", "12x" }, "not a 32-bit number" },
        { { "reg", "add", TestKey, "Bad", "REG_DWORD", "0x100000000" }, "not a 32-bit number" },
        { { "reg", "add", TestKey, "Bad", "REG_DWORD", "-1" }, "not a 32-bit number" },
        { { "reg", "add", TestKey, "Bad", "REG_DWORD", "" }, "not a 32-bit number" },
        { { "reg", "add", TestKey, "Bad", "REG_BINARY", "0g" }, "hex bytes" },
        { { "reg", "add", TestKey, "Bad", "REG_BINARY", "abc" }, "hex bytes" },
        { { "reg", "add", "HKXY\\Software\\Tool Test", "Bad", "REG_SZ", "x" }, "not a key name" },
        { { "reg", "query" }, "expected KEY" },
        { { "reg", "delete", "HKLM" }, "will not delete" },
        { { "path" }, "expected one Windows path" },
        { { "journal", "--kind" }, "--kind needs a kind" },
        { { "init", "--bogus" }, "unknown option '--bogus'" },
        { { "init", "--user" }, "--user needs a user name" },
    };
    for (const auto& row : cases) {
        std::string line;
        for (const auto& arg : row.args)
            line += " '" + arg + "'";
        SCOPED_TRACE("tavio-machine" + line);
        auto result = machineTool(row.args);
        EXPECT_EQ(result.exitCode, 2) << result.output;
        EXPECT_NE(result.output.find(row.message), std::string::npos) << result.output;
    }
    EXPECT_EQ(platform::registry::openKey(Root::LocalMachine, TestKeyPath, Access::Read).error(),
        platform::Error::FileNotFound);
    EXPECT_TRUE(platform::machine::exists()) << "a refused init must leave the machine alone";
}

TEST_F(MachineToolTest, PathMapsIntoDriveCWithoutRegardToCase)
{
    const std::filesystem::path driveC = machine().root() / "drive_c";
    struct Case {
        const char* windowsPath;
        std::filesystem::path host;
    } cases[] = {
        { "C:\\Program Files", driveC / "Program Files" },
        { "c:\\program files\\New Folder", driveC / "Program Files" / "New Folder" },
        { "C:\\windows\\SYSTEM32\\x.dll", driveC / "WINDOWS" / "System32" / "x.dll" },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.windowsPath);
        auto result = machineTool({ "path", row.windowsPath });
        EXPECT_EQ(result.exitCode, 0) << result.output;
        EXPECT_EQ(result.output, row.host.string() + "\n");
    }

    auto otherDrive = machineTool({ "path", "D:\\data" });
    EXPECT_EQ(otherDrive.exitCode, 1);
    EXPECT_NE(otherDrive.output.find("(161)"), std::string::npos) << otherDrive.output;

    auto missingFolder = machineTool({ "path", "C:\\No Such Folder\\file.txt" });
    EXPECT_EQ(missingFolder.exitCode, 1);
    EXPECT_NE(missingFolder.output.find("path not found (3)"), std::string::npos) << missingFolder.output;
}

class StandardUserToolTest : public testkit::MachineTest {
protected:
    platform::machine::InitOptions machineOptions() const override
    {
        return { u"Pat", platform::machine::UserRole::StandardUser };
    }
};

TEST_F(StandardUserToolTest, MachineWideWritesAreDeniedButTheUsersOwnHiveIsNot)
{
    auto denied = machineTool({ "reg", "add", TestKey, "Parameters", "REG_DWORD", "1" });
    EXPECT_EQ(denied.exitCode, 1);
    EXPECT_NE(denied.output.find("access denied (5)"), std::string::npos) << denied.output;
    EXPECT_EQ(platform::registry::openKey(Root::LocalMachine, TestKeyPath, Access::Read).error(),
        platform::Error::FileNotFound);

    auto deniedDelete = machineTool({ "reg", "delete", "HKLM\\Software" });
    EXPECT_EQ(deniedDelete.exitCode, 1);
    EXPECT_NE(deniedDelete.output.find("access denied (5)"), std::string::npos) << deniedDelete.output;

    auto own = machineTool({ "reg", "add", "HKCU\\Software\\KELTO\\Tavio Menu", "Brightness", "REG_DWORD", "1" });
    EXPECT_EQ(own.exitCode, 0) << own.output;
    auto stored = storedValue(Root::CurrentUser, u"Software\\KELTO\\Tavio Menu", u"Brightness");
    ASSERT_TRUE(stored.ok()) << stored.code();
    EXPECT_EQ(stored->data, bytes({ 1, 0, 0, 0 }));
}

TEST_F(MachineToolTest, JournalPrintsEveryEntryOrOneKind)
{
    platform::journal::record("tool.test", { { "marker", "first" } });
    platform::journal::record("tool.other", { { "marker", "second" } });

    auto all = machineTool({ "journal" });
    ASSERT_EQ(all.exitCode, 0) << all.output;
    auto init = all.output.find("machine.init");
    auto first = all.output.find("marker=first");
    auto second = all.output.find("marker=second");
    ASSERT_NE(init, std::string::npos) << all.output;
    ASSERT_NE(first, std::string::npos) << all.output;
    ASSERT_NE(second, std::string::npos) << all.output;
    EXPECT_LT(init, first);
    EXPECT_LT(first, second);

    auto one = machineTool({ "journal", "--kind", "tool.other" });
    ASSERT_EQ(one.exitCode, 0) << one.output;
    EXPECT_NE(one.output.find("marker=second"), std::string::npos) << one.output;
    EXPECT_EQ(one.output.find("marker=first"), std::string::npos) << one.output;
    EXPECT_EQ(one.output.find("machine.init"), std::string::npos) << one.output;
}

// Points TAVIO_MACHINE at a folder for the life of the guard.
class MachineFolderGuard {
public:
    explicit MachineFolderGuard(const std::filesystem::path& folder)
    {
        if (const char* previous = std::getenv("TAVIO_MACHINE"))
            m_previous = previous;
        setenv("TAVIO_MACHINE", folder.c_str(), 1);
    }
    ~MachineFolderGuard()
    {
        if (m_previous)
            setenv("TAVIO_MACHINE", m_previous->c_str(), 1);
        else
            unsetenv("TAVIO_MACHINE");
    }

private:
    std::optional<std::string> m_previous;
};

TEST(MachineToolWithoutMachine, CommandsAskForInitAndInitMakesTheMachine)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tavio-tool-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const std::filesystem::path folder = pattern;
    {
        MachineFolderGuard guard(folder / "machine");
        for (std::vector<std::string> args : { std::vector<std::string> { "reg", "query", "HKLM\\Software" },
                 std::vector<std::string> { "journal" }, std::vector<std::string> { "path", "C:\\" } }) {
            SCOPED_TRACE(args[0]);
            auto refused = machineTool(args);
            EXPECT_EQ(refused.exitCode, 1);
            EXPECT_NE(refused.output.find("no machine at"), std::string::npos) << refused.output;
            EXPECT_NE(refused.output.find("tavio-machine init"), std::string::npos) << refused.output;
        }

        auto made = machineTool({ "init", "--standard-user", "--user", "Pat" });
        EXPECT_EQ(made.exitCode, 0) << made.output;
        EXPECT_TRUE(platform::machine::exists());
        auto queried = machineTool({ "reg", "query", "HKLM\\Software" });
        EXPECT_EQ(queried.exitCode, 0) << queried.output;
        auto denied = machineTool({ "reg", "add", TestKey });
        EXPECT_NE(denied.output.find("access denied (5)"), std::string::npos) << denied.output;
        auto profile = machineTool({ "path", "C:\\Documents and Settings\\Pat" });
        EXPECT_EQ(profile.exitCode, 0) << profile.output;
        EXPECT_TRUE(std::filesystem::is_directory(profile.output.substr(0, profile.output.size() - 1)));
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

// Unsets a variable for the life of the guard.
class UnsetVariableGuard {
public:
    explicit UnsetVariableGuard(const char* name)
        : m_name(name)
    {
        if (const char* previous = std::getenv(name))
            m_previous = previous;
        unsetenv(name);
    }
    ~UnsetVariableGuard()
    {
        if (m_previous)
            setenv(m_name, m_previous->c_str(), 1);
    }

private:
    const char* m_name;
    std::optional<std::string> m_previous;
};

TEST(MachineToolWithoutMachine, InitRecordsTheObjectManagerForProgramsRunFromTheMachinesDrive)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tavio-tool-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const std::filesystem::path folder = pattern;
    {
        MachineFolderGuard guard(folder / "machine");
        auto made = machineTool({ "init" });
        ASSERT_EQ(made.exitCode, 0) << made.output;

        // A copy of a program inside the machine has no object manager beside
        // it; with the build folder out of sight it can only find the one that
        // init recorded. Installing opens files, which needs the manager.
        UnsetVariableGuard noBin("TAVIO_BIN");
        UnsetVariableGuard noManager("TAVIO_MACHINED");
        const std::filesystem::path copied = folder / "machine" / "drive_c" / "Program Files" / "tavio-setup";
        std::filesystem::copy_file(testkit::systemProgram("tavio-setup"), copied);
        const std::filesystem::path source = folder / "source";
        std::filesystem::create_directory(source);
        std::ofstream(source / "BlankHtm.htm") << "<html></html>";
        auto installed = testkit::run(copied, { "install", "--source", source.string() });
        EXPECT_EQ(installed.exitCode, 0) << installed.output;
        EXPECT_EQ(testkit::readFile(folder / "machine" / "drive_c" / "Program Files" / "Tavio Menu" / "BlankHtm.htm"),
            "<html></html>");
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

} // namespace
