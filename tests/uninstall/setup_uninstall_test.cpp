// "tavio-setup uninstall" run as the real program on a machine of its own.

#include "tests/testkit/machine_fixture.h"

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/text.h"

#include <fstream>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::Error;
using platform::registry::Access;
using platform::registry::Root;

constexpr std::u16string_view SettingsKey = u"Software\\KELTO\\Tavio Menu";
constexpr std::u16string_view RunKey = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::u16string_view ApplicationFolder = u"C:\\Program Files\\Tavio Menu";

testkit::Completed setupTool(const std::vector<std::string>& args)
{
    return testkit::run(testkit::systemProgram("tavio-setup"), args, 60s);
}

bool contains(const std::string& text, std::string_view part)
{
    return text.find(part) != std::string::npos;
}

bool exists(std::u16string_view path)
{
    return platform::files::attributes(path).ok();
}

std::u16string installed(std::u16string_view name)
{
    return platform::paths::append(ApplicationFolder, name);
}

void makeFile(std::u16string_view path)
{
    using namespace platform::files;
    auto file = open(path, platform::files::Access::Write, Share::None, Create::Always);
    ASSERT_TRUE(file.ok()) << platform::text::toUtf8(path) << ": " << platform::describe(file.error());
    ASSERT_TRUE(file->write(std::as_bytes(std::span(std::string_view("data")))).ok());
}

bool settingsKeyExists()
{
    return platform::registry::openKey(Root::LocalMachine, SettingsKey, Access::Read).ok();
}

bool runValueExists()
{
    auto key = platform::registry::openKey(Root::LocalMachine, RunKey, Access::Read);
    return key.ok() && platform::registry::getString(*key, u"Tavio Menu").ok();
}

// A folder of stand-in deliverables without the uninstall hook, for the
// cases that need no nine-second wait.
class SourceFolder {
public:
    SourceFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "tavio-uninstall-source-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a source folder");
        m_path = pattern;
        for (const char* name : { "TavioSupport.DLL", "TavioMenu.exe", "BlankHtm.htm" })
            std::ofstream(m_path / name) << "stand-in " << name;
    }
    ~SourceFolder()
    {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    std::string string() const { return m_path.string(); }

private:
    fs::path m_path;
};

class SetupUninstallTest : public testkit::MachineTest {
protected:
    // The uninstaller must do its work whoever is logged on.
    platform::machine::InitOptions machineOptions() const override
    {
        return { u"Pat", platform::machine::UserRole::StandardUser };
    }

    void SetUp() override
    {
        MachineTest::SetUp();
        // The test stands in for the properties applet and the programs of
        // an administrator, which write machine-wide values.
        platform::security::runElevated();
    }

    void writeRunValue()
    {
        auto key = platform::registry::createKey(Root::LocalMachine, RunKey);
        ASSERT_TRUE(key.ok());
        ASSERT_TRUE(platform::registry::setString(
            key->key, u"Tavio Menu", u"C:\\Program Files\\Tavio Menu\\TavioIcon.exe -TAVIOICON")
                        .ok());
    }

    // What a user of the product leaves behind: a per-user menu, a log and
    // per-user settings.
    std::vector<std::u16string> makeUserData()
    {
        auto appData = platform::paths::knownFolder(platform::paths::KnownFolder::AppData);
        EXPECT_TRUE(appData.ok());
        std::u16string folder = platform::paths::append(*appData, u"Tavio Menu");
        EXPECT_TRUE(platform::files::createDirectory(folder).ok());
        std::vector<std::u16string> files;
        for (auto name : { u"MenuData.txt", u"MenuData.bak", u"TavioMenuLog.log" }) {
            files.push_back(platform::paths::append(folder, name));
            makeFile(files.back());
        }
        auto userKey = platform::registry::createKey(Root::CurrentUser, SettingsKey);
        EXPECT_TRUE(userKey.ok());
        EXPECT_TRUE(platform::registry::setDword(userKey->key, u"Brightness", 1).ok());
        return files;
    }

    bool userSettingsStay()
    {
        auto key = platform::registry::openKey(Root::CurrentUser, SettingsKey, Access::Read);
        return key.ok() && platform::registry::getDword(*key, u"Brightness").valueOr(0) == 1;
    }
};

// The only test that runs the real hook with its waits: about nine seconds.
TEST_F(SetupUninstallTest, UninstallRunsTheHookAndRemovesTheProductButNotTheUsersData)
{
    auto install = setupTool({ "install" });
    ASSERT_EQ(install.exitCode, 0) << install.output;
    ASSERT_TRUE(exists(installed(u"TavioUnInst.dll"))) << install.output;
    makeFile(installed(u"MenuData.txt"));
    makeFile(installed(u"MenuData.bak"));
    writeRunValue();
    auto userFiles = makeUserData();

    auto started = std::chrono::steady_clock::now();
    auto uninstall = setupTool({ "uninstall" });
    auto elapsed = std::chrono::steady_clock::now() - started;

    EXPECT_EQ(uninstall.exitCode, 0) << uninstall.output;
    // The hook gives the programs 5000 ms and 4000 ms to exit, whether they
    // run or not.
    EXPECT_GE(elapsed, 9000ms);
    EXPECT_TRUE(contains(uninstall.output, "MenuData.txt (by the uninstall hook)")) << uninstall.output;
    EXPECT_FALSE(exists(ApplicationFolder)) << uninstall.output;
    EXPECT_FALSE(settingsKeyExists());
    EXPECT_FALSE(runValueExists());
    EXPECT_TRUE(platform::registry::openKey(Root::LocalMachine, RunKey, Access::Read).ok());
    EXPECT_TRUE(userSettingsStay());
    for (const auto& path : userFiles)
        EXPECT_TRUE(exists(path)) << platform::text::toUtf8(path);

    auto again = setupTool({ "install" });
    EXPECT_EQ(again.exitCode, 0) << again.output;
    EXPECT_TRUE(exists(installed(u"TavioUnInst.dll")));
    EXPECT_TRUE(settingsKeyExists());
}

TEST_F(SetupUninstallTest, WithoutItsHookTheProductIsStillRemovedAndTheLogStays)
{
    SourceFolder source;
    auto install = setupTool({ "install", "--source", source.string() });
    ASSERT_EQ(install.exitCode, 0) << install.output;
    makeFile(installed(u"TavioMenuLog.log"));
    writeRunValue();

    auto uninstall = setupTool({ "uninstall" });

    EXPECT_EQ(uninstall.exitCode, 0) << uninstall.output;
    EXPECT_TRUE(contains(uninstall.output, "the uninstall hook was not run")) << uninstall.output;
    EXPECT_TRUE(contains(uninstall.output, "still holds TavioMenuLog.log")) << uninstall.output;
    for (auto name : { u"TavioSupport.DLL", u"TavioMenu.exe", u"BlankHtm.htm" })
        EXPECT_FALSE(exists(installed(name))) << platform::text::toUtf8(name);
    EXPECT_TRUE(exists(installed(u"TavioMenuLog.log")));
    EXPECT_FALSE(settingsKeyExists());
    EXPECT_FALSE(runValueExists());
}

// A program that still holds its file open must not leave a product that
// looks uninstalled but is not: the command fails, and the settings stay so
// that uninstalling again finds the product and finishes.
TEST_F(SetupUninstallTest, AFileInUseFailsTheUninstallUntilItIsClosed)
{
    SourceFolder source;
    auto install = setupTool({ "install", "--source", source.string() });
    ASSERT_EQ(install.exitCode, 0) << install.output;
    writeRunValue();
    {
        auto running = platform::files::open(installed(u"TavioMenu.exe"), platform::files::Access::Read,
            platform::files::Share::Read, platform::files::Create::OpenExisting);
        ASSERT_TRUE(running.ok());

        auto blocked = setupTool({ "uninstall" });

        EXPECT_EQ(blocked.exitCode, 1) << blocked.output;
        EXPECT_TRUE(contains(blocked.output, "TavioMenu.exe: sharing violation (32)")) << blocked.output;
        EXPECT_TRUE(exists(installed(u"TavioMenu.exe")));
        EXPECT_TRUE(settingsKeyExists());
        EXPECT_TRUE(runValueExists());
    }

    auto finished = setupTool({ "uninstall" });

    EXPECT_EQ(finished.exitCode, 0) << finished.output;
    EXPECT_FALSE(exists(ApplicationFolder)) << finished.output;
    EXPECT_FALSE(settingsKeyExists());
    EXPECT_FALSE(runValueExists());
}

TEST_F(SetupUninstallTest, AFolderDeletedByHandStillLetsTheUninstallFinish)
{
    SourceFolder source;
    auto install = setupTool({ "install", "--source", source.string() });
    ASSERT_EQ(install.exitCode, 0) << install.output;
    writeRunValue();
    fs::remove_all(machine().host(ApplicationFolder));

    auto uninstall = setupTool({ "uninstall" });

    EXPECT_EQ(uninstall.exitCode, 0) << uninstall.output;
    EXPECT_FALSE(settingsKeyExists());
    EXPECT_FALSE(runValueExists());
}

TEST_F(SetupUninstallTest, UninstallRefusesArgumentsAndAMachineWithoutTheProduct)
{
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* message;
    } cases[] = {
        { { "uninstall", "--no-wait" }, 2, "unknown option '--no-wait'" },
        { { "uninstall" }, 1, "Tavio Menu is not installed" },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.message);
        auto result = setupTool(row.args);
        EXPECT_EQ(result.exitCode, row.exitCode) << result.output;
        EXPECT_TRUE(contains(result.output, row.message)) << result.output;
    }
}

} // namespace
