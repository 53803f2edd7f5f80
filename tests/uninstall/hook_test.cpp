#include "tests/testkit/machine_fixture.h"

#include "uninstall/hook.h"

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/text.h"

#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using platform::Error;
using platform::registry::Root;
using platform::registry::ValueType;

constexpr std::u16string_view SettingsKey = u"Software\\KELTO\\Tavio Menu";
constexpr std::u16string_view ApplicationFolder = u"C:\\Program Files\\Tavio Menu";
constexpr std::u16string_view RunKey = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

platform::registry::Key settingsKey()
{
    auto created = platform::registry::createKey(Root::LocalMachine, SettingsKey);
    EXPECT_TRUE(created.ok());
    return created->key;
}

void setApplicationPath(std::u16string_view folder)
{
    ASSERT_TRUE(platform::registry::setString(settingsKey(), u"ApplicationPath", folder).ok());
}

// Makes a folder and the missing folders above it.
void makeFolders(std::u16string_view path)
{
    for (size_t at = path.find(u'\\', 3); at != std::u16string_view::npos; at = path.find(u'\\', at + 1))
        (void)platform::files::createDirectory(path.substr(0, at));
    auto made = platform::files::createDirectory(path);
    ASSERT_TRUE(made.ok() || made.error() == Error::AlreadyExists) << platform::describe(made.error());
}

void makeFile(std::u16string_view path)
{
    makeFolders(platform::paths::removeFileSpec(path));
    using namespace platform::files;
    auto file = open(path, Access::Write, Share::None, Create::Always);
    ASSERT_TRUE(file.ok()) << platform::text::toUtf8(path) << ": " << platform::describe(file.error());
    std::string content = "content of " + platform::text::toUtf8(path);
    ASSERT_TRUE(file->write(std::as_bytes(std::span(content))).ok());
}

bool exists(std::u16string_view path)
{
    return platform::files::attributes(path).ok();
}

std::u16string inApplicationFolder(std::u16string_view name)
{
    return platform::paths::append(ApplicationFolder, name);
}

// An event handle held by the test, standing in for a running program.
platform::sync::Handle holdEvent(std::u16string_view name)
{
    auto made = platform::sync::createEvent(
        name, platform::sync::ResetMode::Auto, platform::sync::InitialState::NotSignalled);
    EXPECT_TRUE(made.ok());
    return made.ok() ? std::move(made->handle) : platform::sync::Handle();
}

bool signalled(const platform::sync::Handle& event)
{
    auto outcome = platform::sync::waitOne(event, 0ms);
    return outcome.ok() && outcome->signalled();
}

uninstall::Hook hookWithoutWaiting()
{
    return uninstall::Hook(uninstall::readApplicationFolder(), [](std::chrono::milliseconds) {});
}

std::string text(const uninstall::PathBuffer& buffer)
{
    return buffer.data();
}

using UninstallHookTest = testkit::MachineTest;

TEST_F(UninstallHookTest, DeletesTheSharedDataFilesOfTheApplicationFolderAndLeavesEveryOtherFile)
{
    setApplicationPath(ApplicationFolder);
    const std::u16string deleted[] = { inApplicationFolder(u"MenuData.txt"), inApplicationFolder(u"MenuData.bak") };
    const std::u16string kept[] = {
        inApplicationFolder(u"TavioMenuLog.log"),
        inApplicationFolder(u"TavioSupport.DLL"),
        inApplicationFolder(u"BlankHtm.htm"),
        inApplicationFolder(u"MenuData.txt.old"),
        inApplicationFolder(u"MenuData"),
        inApplicationFolder(u"Old\\MenuData.txt"),
        u"C:\\Program Files\\MenuData.txt",
        u"C:\\MenuData.txt",
        u"C:\\MenuData.bak",
    };
    for (const auto& path : deleted)
        makeFile(path);
    for (const auto& path : kept)
        makeFile(path);
    auto run = platform::registry::createKey(Root::LocalMachine, RunKey);
    ASSERT_TRUE(run.ok());
    ASSERT_TRUE(platform::registry::setString(
        run->key, u"Tavio Menu", u"C:\\Program Files\\Tavio Menu\\TavioIcon.exe -TAVIOICON")
                    .ok());

    EXPECT_EQ(hookWithoutWaiting().initialize(), 0u);

    for (const auto& path : deleted)
        EXPECT_FALSE(exists(path)) << platform::text::toUtf8(path);
    for (const auto& path : kept)
        EXPECT_TRUE(exists(path)) << platform::text::toUtf8(path);
    // The settings and the logon start value are the uninstaller's to remove.
    EXPECT_TRUE(platform::registry::getString(settingsKey(), u"ApplicationPath").ok());
    EXPECT_TRUE(platform::registry::getString(run->key, u"Tavio Menu").ok());
}

TEST_F(UninstallHookTest, WithEveryUserKeepingAMenuThePerUserFilesStay)
{
    setApplicationPath(ApplicationFolder);
    ASSERT_TRUE(platform::registry::setDword(settingsKey(), u"Parameters", 2).ok());
    auto appData = platform::paths::knownFolder(platform::paths::KnownFolder::AppData);
    ASSERT_TRUE(appData.ok());
    const std::u16string userFolders[] = {
        platform::paths::append(*appData, u"Tavio Menu"),
        u"C:\\Documents and Settings\\Pat\\Application Data\\Tavio Menu",
    };
    std::vector<std::u16string> kept;
    for (const auto& folder : userFolders)
        for (auto name : { u"MenuData.txt", u"MenuData.bak", u"TavioMenuLog.log" })
            kept.push_back(platform::paths::append(folder, name));
    for (const auto& path : kept)
        makeFile(path);
    makeFile(inApplicationFolder(u"MenuData.txt"));
    makeFile(inApplicationFolder(u"MenuData.bak"));

    EXPECT_EQ(hookWithoutWaiting().initialize(), 0u);

    for (const auto& path : kept)
        EXPECT_TRUE(exists(path)) << platform::text::toUtf8(path);
    EXPECT_FALSE(exists(inApplicationFolder(u"MenuData.txt")));
    EXPECT_FALSE(exists(inApplicationFolder(u"MenuData.bak")));
}

TEST_F(UninstallHookTest, SignalsEachProgramAndThenGivesItItsGraceWait)
{
    setApplicationPath(ApplicationFolder);
    makeFile(inApplicationFolder(u"MenuData.txt"));
    auto trayLauncher = holdEvent(uninstall::TrayLauncherTerminateEvent);
    auto modeChange = holdEvent(uninstall::ModeChangeShutdownEvent);

    struct Seen {
        std::chrono::milliseconds wait;
        bool dataFileThere;
        bool trayLauncherSignalled;
        bool modeChangeSignalled;
    };
    std::vector<Seen> seen;
    uninstall::Hook hook(uninstall::readApplicationFolder(), [&](std::chrono::milliseconds wait) {
        seen.push_back(
            { wait, exists(inApplicationFolder(u"MenuData.txt")), signalled(trayLauncher), signalled(modeChange) });
    });

    EXPECT_EQ(hook.initialize(), 0u);

    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].wait, 5000ms);
    EXPECT_FALSE(seen[0].dataFileThere);
    EXPECT_TRUE(seen[0].trayLauncherSignalled);
    EXPECT_FALSE(seen[0].modeChangeSignalled);
    EXPECT_EQ(seen[1].wait, 4000ms);
    EXPECT_FALSE(seen[1].trayLauncherSignalled);
    EXPECT_TRUE(seen[1].modeChangeSignalled);
}

TEST_F(UninstallHookTest, ProgramsWaitingOnTheStopEventsWake)
{
    setApplicationPath(ApplicationFolder);
    std::vector<testkit::Child> programs;
    for (auto name : { uninstall::TrayLauncherTerminateEvent, uninstall::ModeChangeShutdownEvent }) {
        std::string ready = "uninstall-test-ready-" + std::to_string(programs.size());
        auto readyEvent = holdEvent(platform::text::toUtf16(ready));
        programs.push_back(testkit::spawn(
            testkit::helperProgram("sync_peer"), { "wait-event", platform::text::toUtf8(name), ready, "20000" }));
        auto outcome = platform::sync::waitOne(readyEvent, 10s);
        ASSERT_TRUE(outcome.ok() && outcome->signalled()) << "the waiting program did not start";
    }

    EXPECT_EQ(hookWithoutWaiting().initialize(), 0u);

    for (auto& program : programs)
        EXPECT_EQ(program.wait(10s), 0) << "a waiting program was not woken";
}

TEST_F(UninstallHookTest, WithNobodyRunningTheHookLeavesNoEventBehind)
{
    setApplicationPath(ApplicationFolder);

    EXPECT_EQ(hookWithoutWaiting().initialize(), 0u);

    EXPECT_EQ(platform::sync::openEvent(uninstall::TrayLauncherTerminateEvent).error(), Error::FileNotFound);
    EXPECT_EQ(platform::sync::openEvent(uninstall::ModeChangeShutdownEvent).error(), Error::FileNotFound);
}

// Without a usable application folder the data files would be looked for at
// the root of the drive: nothing is deleted, and the programs are still told
// to exit.
TEST_F(UninstallHookTest, WithoutAnApplicationFolderNothingIsDeletedButTheSignalsGo)
{
    struct Case {
        const char* name;
        void (*prepare)();
    } cases[] = {
        { "settings key missing", [] {} },
        { "value missing", [] { (void)settingsKey(); } },
        { "value empty", [] { setApplicationPath(u""); } },
        { "value not a string", [] { (void)platform::registry::setDword(settingsKey(), u"ApplicationPath", 1); } },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        (void)platform::registry::deleteTree(Root::LocalMachine, SettingsKey);
        row.prepare();
        const std::u16string files[]
            = { u"C:\\MenuData.txt", u"C:\\MENUDATA.BAK", inApplicationFolder(u"MenuData.txt") };
        for (const auto& path : files)
            makeFile(path);
        auto trayLauncher = holdEvent(uninstall::TrayLauncherTerminateEvent);
        auto modeChange = holdEvent(uninstall::ModeChangeShutdownEvent);

        EXPECT_EQ(hookWithoutWaiting().initialize(), 0u);

        for (const auto& path : files)
            EXPECT_TRUE(exists(path)) << platform::text::toUtf8(path);
        EXPECT_TRUE(signalled(trayLauncher));
        EXPECT_TRUE(signalled(modeChange));
    }
}

TEST_F(UninstallHookTest, ApplicationPathIsReadAsEightBitTextThatMustFitItsBuffer)
{
    const std::u16string longest = u"C:\\" + std::u16string(256, u'a'); // 259 bytes and the terminator
    struct Case {
        const char* name;
        std::u16string value;
        std::string expected;
    } cases[] = {
        { "the installed folder", std::u16string(ApplicationFolder), "C:\\Program Files\\Tavio Menu" },
        { "259 bytes", longest, platform::text::toUtf8(longest) },
        { "260 bytes", longest + u"a", "" },
        { "letters beyond ASCII", u"C:\\Programme\\Tavio Men\u00fc", "C:\\Programme\\Tavio Men\xc3\xbc" },
        { "259 units but more bytes", u"C:\\" + std::u16string(256, u'\u00e9'), "" },
        { "a lone surrogate", u"C:\\Tavio \xd800Menu", "" },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        setApplicationPath(row.value);
        EXPECT_EQ(text(uninstall::readApplicationFolder()), row.expected);
    }
}

// A joined path that does not fit its 260-byte buffer is not deleted, nor is
// the file its cut-off form would name.
TEST_F(UninstallHookTest, AFolderTooLongForTheJoinedPathDeletesNothing)
{
    const std::u16string_view prefix = u"C:\\Program Files\\";
    struct Case {
        size_t folderLength;
        bool deleted;
    } cases[] = {
        { 246, true }, // "\MENUDATA.TXT" brings it to 259 bytes and the terminator
        { 247, false },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.folderLength);
        std::u16string folder = std::u16string(prefix) + std::u16string(row.folderLength - prefix.size(), u'x');
        makeFolders(folder);
        setApplicationPath(folder);
        // The data files are made on the host: at 260 units their paths are
        // longer than the platform lets a program name.
        auto host = machine().host(folder);
        std::ofstream(host / "MenuData.txt") << "data";
        std::ofstream(host / "MenuData.bak") << "backup";
        const std::u16string cutOff[] = { folder + u"\\MenuData.tx", folder + u"\\MenuData.ba" };
        for (const auto& path : cutOff)
            makeFile(path);

        EXPECT_EQ(hookWithoutWaiting().initialize(), 0u);

        EXPECT_EQ(!std::filesystem::exists(host / "MenuData.txt"), row.deleted);
        EXPECT_EQ(!std::filesystem::exists(host / "MenuData.bak"), row.deleted);
        for (const auto& path : cutOff)
            EXPECT_TRUE(exists(path)) << platform::text::toUtf8(path);
    }
}

} // namespace
