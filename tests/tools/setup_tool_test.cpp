#include "tests/testkit/machine_fixture.h"

#include "platform/files.h"
#include "platform/journal.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/text.h"

#include <filesystem>
#include <fstream>
#include <set>

namespace {

namespace fs = std::filesystem;
using platform::registry::Access;
using platform::registry::Root;

constexpr std::u16string_view SettingsKey = u"Software\\KELTO\\Tavio Menu";

testkit::Completed setupTool(const std::vector<std::string>& args)
{
    return testkit::run(testkit::systemProgram("tavio-setup"), args);
}

void writeHostFile(const fs::path& path, const std::string& content, fs::perms permissions = fs::perms(0644))
{
    std::ofstream(path, std::ios::binary) << content;
    fs::permissions(path, permissions);
}

// A folder of stand-in deliverables, as the build would leave them beside
// the installer.
class SourceFolder {
public:
    SourceFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "tavio-setup-source-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a source folder");
        m_path = pattern;
    }
    ~SourceFolder()
    {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    const fs::path& path() const { return m_path; }
    std::string string() const { return m_path.string(); }

private:
    fs::path m_path;
};

class SetupToolTest : public testkit::MachineTest {
protected:
    // The installer must do its work whoever is logged on, so the machine's
    // user is one who may not write machine-wide settings.
    platform::machine::InitOptions machineOptions() const override
    {
        return { u"Pat", platform::machine::UserRole::StandardUser };
    }

    fs::path installed(std::string_view name)
    {
        return machine().root() / "drive_c" / "Program Files" / "Tavio Menu" / std::string(name);
    }
};

TEST_F(SetupToolTest, InstallAsAStandardUserCopiesTheDeliverablesAndWritesTheSettings)
{
    SourceFolder source;
    writeHostFile(source.path() / "TavioSupport.DLL",
        std::string("\x7f"
                    "ELF support\0library",
            20));
    writeHostFile(source.path() / "TavioMenu.exe", "menu program", fs::perms(0755));
    writeHostFile(source.path() / "BlankHtm.htm", "<html></html>");
    writeHostFile(source.path() / "notes.txt", "not a deliverable");

    auto result = setupTool({ "install", "--source", source.string() });
    ASSERT_EQ(result.exitCode, 0) << result.output;

    for (const char* name : { "TavioSupport.DLL", "TavioMenu.exe", "BlankHtm.htm" }) {
        SCOPED_TRACE(name);
        EXPECT_EQ(testkit::readFile(installed(name)), testkit::readFile(source.path() / name));
        EXPECT_NE(result.output.find(name), std::string::npos) << result.output;
    }
    EXPECT_FALSE(fs::exists(installed("notes.txt")));
    EXPECT_FALSE(fs::exists(installed("TavioIcon.exe")));
    EXPECT_NE(fs::status(installed("TavioMenu.exe")).permissions() & fs::perms::owner_exec, fs::perms::none)
        << "an installed program must stay runnable";

    auto key = platform::registry::openKey(Root::LocalMachine, SettingsKey, Access::Read);
    ASSERT_TRUE(key.ok()) << key.code();
    EXPECT_EQ(platform::registry::getString(*key, u"ApplicationPath").valueOr(u""), u"C:\\Program Files\\Tavio Menu");
    EXPECT_EQ(platform::registry::getString(*key, u"Version").valueOr(u""), platform::text::toUtf16(TAVIO_VERSION));
    EXPECT_EQ(platform::registry::getString(*key, u"HelpFileName").valueOr(u""), u"TavioMenu.hlp");
    auto parameters = platform::registry::getValue(*key, u"Parameters");
    ASSERT_TRUE(parameters.ok()) << parameters.code();
    EXPECT_EQ(parameters->type, platform::registry::ValueType::Dword);
    EXPECT_EQ(parameters->data, std::vector<std::byte>(4, std::byte { 0 }));

    auto entries = platform::journal::read("setup.install");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].field("folder"), "C:\\Program Files\\Tavio Menu");
    EXPECT_EQ(entries[0].field("files"), "TavioSupport.DLL,TavioMenu.exe,BlankHtm.htm");

    auto journal = testkit::run(testkit::systemProgram("tavio-machine"), { "journal", "--kind", "setup.install" });
    EXPECT_EQ(journal.exitCode, 0) << journal.output;
    EXPECT_NE(journal.output.find("setup.install"), std::string::npos) << journal.output;

    // The process that installed was elevated; the machine's user still is not.
    auto denied = testkit::run(testkit::systemProgram("tavio-machine"),
        { "reg", "add", "HKLM\\Software\\KELTO\\Tavio Menu", "Parameters", "REG_DWORD", "2" });
    EXPECT_NE(denied.output.find("access denied (5)"), std::string::npos) << denied.output;
}

TEST_F(SetupToolTest, InstallingAgainReplacesTheFilesAndResetsTheSettings)
{
    SourceFolder source;
    writeHostFile(source.path() / "TavioSupport.DLL", "first build, a longer file than the second");
    ASSERT_EQ(setupTool({ "install", "--source", source.string() }).exitCode, 0);

    platform::security::runElevated();
    auto key = platform::registry::openKey(Root::LocalMachine, SettingsKey, Access::Write);
    ASSERT_TRUE(key.ok()) << key.code();
    ASSERT_TRUE(platform::registry::setString(*key, u"ApplicationPath", u"C:\\Elsewhere").ok());

    writeHostFile(source.path() / "TavioSupport.DLL", "second build");
    auto again = setupTool({ "install", "--source", source.string() });
    ASSERT_EQ(again.exitCode, 0) << again.output;
    EXPECT_EQ(testkit::readFile(installed("TavioSupport.DLL")), "second build");
    EXPECT_EQ(platform::registry::getString(*key, u"ApplicationPath").valueOr(u""), u"C:\\Program Files\\Tavio Menu");
    EXPECT_EQ(platform::journal::read("setup.install").size(), 2u);
}

TEST_F(SetupToolTest, AnInstalledFileHeldOpenExclusivelyMakesTheInstallFail)
{
    SourceFolder source;
    writeHostFile(source.path() / "TavioSupport.DLL", "library");
    ASSERT_EQ(setupTool({ "install", "--source", source.string() }).exitCode, 0);

    auto held = platform::files::open(u"C:\\Program Files\\Tavio Menu\\TavioSupport.DLL", platform::files::Access::Read,
        platform::files::Share::None, platform::files::Create::OpenExisting);
    ASSERT_TRUE(held.ok()) << held.code();
    writeHostFile(source.path() / "TavioSupport.DLL", "newer library");
    auto blocked = setupTool({ "install", "--source", source.string() });
    EXPECT_EQ(blocked.exitCode, 1);
    EXPECT_NE(blocked.output.find("sharing violation (32)"), std::string::npos) << blocked.output;
    EXPECT_EQ(testkit::readFile(installed("TavioSupport.DLL")), "library");
}

TEST_F(SetupToolTest, InstallFromItsOwnFolderTakesEveryDeliverableTheBuildMade)
{
    auto result = setupTool({ "install" });
    ASSERT_EQ(result.exitCode, 0) << result.output;
    const fs::path bin = testkit::systemProgram("tavio-setup").parent_path();
    std::set<std::string> expected;
    for (const char* name : { "TavioSupport.DLL", "TavioMenu.exe", "TavioIcon.exe", "Modewatch.exe", "tavioutility.cpl",
             "TavioUnInst.dll", "BlankHtm.htm", "TavioMenu.hlp" }) {
        if (fs::is_regular_file(bin / name))
            expected.insert(name);
    }
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(installed("")))
        found.insert(entry.path().filename().string());
    EXPECT_EQ(found, expected);
}

TEST_F(SetupToolTest, UnavailableAndUnknownCommandsFail)
{
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* message;
    } cases[] = {
        { { "uninstall" }, 1, "Tavio Menu is not installed" },
        { {}, 2, "no command" },
        { { "repair" }, 2, "unknown command 'repair'" },
        { { "install", "--source" }, 2, "--source needs a folder" },
        { { "install", "--quiet" }, 2, "unknown option '--quiet'" },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.message);
        auto result = setupTool(row.args);
        EXPECT_EQ(result.exitCode, row.exitCode) << result.output;
        EXPECT_NE(result.output.find(row.message), std::string::npos) << result.output;
    }
    EXPECT_EQ(platform::registry::openKey(Root::LocalMachine, SettingsKey, Access::Read).error(),
        platform::Error::FileNotFound);
}

} // namespace
