#include "platform/modules.h"

#include "platform/paths.h"
#include "platform/text.h"
#include "tests/testkit/machine_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using platform::Error;
using platform::modules::Module;
using platform::modules::ModuleHandle;

using AttachCount = int32_t (*)();
using AttachModule = void* (*)();
using Add = int32_t (*)(int32_t, int32_t);

fs::path builtLibrary(std::string_view name)
{
    return fs::path(TAVIO_TEST_MODULES_DIR) / std::string(name);
}

// Copies a library of the build (or any host file) to a path on the machine's
// drive C:, making the folders on the way.
void install(testkit::TempMachine& machine, const fs::path& source, std::u16string_view windowsPath)
{
    std::u16string folder = platform::paths::removeFileSpec(windowsPath);
    // NOTE: folders are made one by one through the path mapping, so that an
    // existing folder is found without regard to case.
    std::u16string partial = u"C:\\";
    for (std::u16string_view rest = std::u16string_view(folder).substr(3); !rest.empty();) {
        size_t slash = rest.find(u'\\');
        partial = platform::paths::append(partial, rest.substr(0, slash));
        fs::create_directories(machine.host(partial));
        rest = slash == std::u16string_view::npos ? std::u16string_view() : rest.substr(slash + 1);
    }
    fs::copy_file(source, machine.host(windowsPath), fs::copy_options::overwrite_existing);
}

std::string utf8(const std::u16string& text)
{
    return platform::text::toUtf8(text);
}

// The start-up calls that the test libraries logged: "attach <pid> <module>".
class StartupLog {
public:
    explicit StartupLog(fs::path path)
        : m_path(std::move(path))
    {
        setenv("MODULES_TESTLIB_LOG", m_path.c_str(), 1);
    }
    ~StartupLog() { unsetenv("MODULES_TESTLIB_LOG"); }

    std::vector<std::string> lines() const
    {
        std::vector<std::string> result;
        std::istringstream text(testkit::readFile(m_path));
        for (std::string line; std::getline(text, line);)
            result.push_back(line);
        return result;
    }

    static std::string line(std::string_view what, ModuleHandle module)
    {
        return std::string(what) + " " + std::to_string(getpid()) + " " + std::to_string(module.value());
    }

private:
    fs::path m_path;
};

class ModulesTest : public testkit::MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        m_log.emplace(machine().root() / "startup.log");
    }
    void TearDown() override
    {
        m_log.reset();
        MachineTest::TearDown();
    }
    const StartupLog& log() const { return *m_log; }

private:
    std::optional<StartupLog> m_log;
};

struct SearchCase {
    const char* scenario;
    std::vector<std::u16string> installedAt; // copies of TESTLIB.DLL
    std::u16string requested;
    std::u16string expectedFile; // empty: not found
};

TEST(ModuleSearch, findsLibrariesInThePlatformsOrderWithoutRegardToCase)
{
    const SearchCase cases[] = {
        { "system_folder_only", { u"C:\\WINDOWS\\System32\\TESTLIB.DLL" }, u"TESTLIB.DLL",
            u"C:\\WINDOWS\\System32\\TESTLIB.DLL" },
        { "windows_folder_only", { u"C:\\WINDOWS\\TESTLIB.DLL" }, u"TESTLIB.DLL", u"C:\\WINDOWS\\TESTLIB.DLL" },
        { "system_folder_before_windows_folder", { u"C:\\WINDOWS\\TESTLIB.DLL", u"C:\\WINDOWS\\System32\\TESTLIB.DLL" },
            u"TESTLIB.DLL", u"C:\\WINDOWS\\System32\\TESTLIB.DLL" },
        { "other_case_on_disk", { u"C:\\WINDOWS\\System32\\TestLib.Dll" }, u"testlib.DLL",
            u"C:\\WINDOWS\\System32\\TestLib.Dll" },
        { "extension_added", { u"C:\\WINDOWS\\System32\\TESTLIB.DLL" }, u"TestLib",
            u"C:\\WINDOWS\\System32\\TESTLIB.DLL" },
        { "trailing_dot_means_no_extension", { u"C:\\WINDOWS\\System32\\TESTLIB" }, u"TESTLIB.",
            u"C:\\WINDOWS\\System32\\TESTLIB" },
        { "trailing_dot_does_not_add_extension", { u"C:\\WINDOWS\\System32\\TESTLIB.DLL" }, u"TESTLIB.", u"" },
        { "full_path", { u"C:\\Program Files\\Tavio Menu\\TESTLIB.DLL", u"C:\\WINDOWS\\System32\\TESTLIB.DLL" },
            u"c:\\program files\\TAVIO MENU\\testlib.dll", u"C:\\Program Files\\Tavio Menu\\TESTLIB.DLL" },
        { "full_path_is_not_searched", { u"C:\\WINDOWS\\System32\\TESTLIB.DLL" }, u"C:\\Program Files\\TESTLIB.DLL",
            u"" },
        { "other_folders_are_not_searched", { u"C:\\Program Files\\TESTLIB.DLL" }, u"TESTLIB.DLL", u"" },
        { "missing_everywhere", {}, u"TESTLIB.DLL", u"" },
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.scenario);
        testkit::TempMachine machine;
        for (const auto& place : testCase.installedAt)
            install(machine, builtLibrary("TESTLIB.DLL"), place);

        auto module = Module::load(testCase.requested);
        if (testCase.expectedFile.empty()) {
            EXPECT_EQ(module.error(), Error::ModNotFound);
            continue;
        }
        ASSERT_TRUE(module.ok()) << platform::describe(module.error());
        auto fileName = module->fileName();
        ASSERT_TRUE(fileName.ok());
        EXPECT_EQ(utf8(*fileName), utf8(testCase.expectedFile));
        auto add = module->symbol<Add>("TestLibAdd");
        ASSERT_TRUE(add.ok());
        EXPECT_EQ((*add)(2, 3), 5);
    }
}

TEST_F(ModulesTest, programFolderComesFirstAndMapsBackToDriveC)
{
    install(machine(), testkit::helperProgram("modules_loader"), u"C:\\Program Files\\Tavio Menu\\modules_loader");
    fs::permissions(
        machine().host(u"C:\\Program Files\\Tavio Menu\\modules_loader"), fs::perms::owner_exec, fs::perm_options::add);
    install(machine(), builtLibrary("TESTLIB.DLL"), u"C:\\Program Files\\Tavio Menu\\TestLib.dll");
    install(machine(), builtLibrary("TESTLIB.DLL"), u"C:\\WINDOWS\\System32\\TESTLIB.DLL");

    auto run = testkit::run(machine().host(u"C:\\Program Files\\Tavio Menu\\modules_loader"), { "TESTLIB.DLL" });
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("loaded C:\\Program Files\\Tavio Menu\\TestLib.dll "), std::string::npos) << run.output;
}

TEST_F(ModulesTest, programFolderOutsideTheMachineIsSearchedOnTheHost)
{
    fs::path folder = machine().root() / "host-programs";
    fs::create_directories(folder);
    fs::copy_file(testkit::helperProgram("modules_loader"), folder / "modules_loader");
    fs::copy_file(builtLibrary("TESTLIB.DLL"), folder / "testlib.dll");

    auto run = testkit::run(folder / "modules_loader", { "TESTLIB" });
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("loaded " + (folder / "testlib.dll").string() + " "), std::string::npos) << run.output;
}

TEST_F(ModulesTest, reportsThePlatformsErrors)
{
    install(machine(), builtLibrary("TESTLIB.DLL"), u"C:\\WINDOWS\\System32\\TESTLIB.DLL");
    fs::create_directories(machine().host(u"C:\\WINDOWS\\System32\\FOLDER.DLL"));
    {
        std::ofstream text(machine().host(u"C:\\WINDOWS\\System32\\TEXT.DLL"));
        text << "not a library\n";
    }
    std::ofstream(machine().host(u"C:\\WINDOWS\\System32\\EMPTY.DLL")).close();
    install(machine(), testkit::helperProgram("modules_loader"), u"C:\\WINDOWS\\System32\\PROGRAM.DLL");

    struct LoadCase {
        const char* scenario;
        std::u16string name;
        Error expected;
    };
    const LoadCase loads[] = {
        { "missing_file", u"NOSUCH.DLL", Error::ModNotFound },
        { "missing_folder", u"C:\\No Such Folder\\TESTLIB.DLL", Error::ModNotFound },
        { "folder_not_file", u"FOLDER.DLL", Error::ModNotFound },
        { "text_file", u"TEXT.DLL", Error::BadExeFormat },
        { "empty_file", u"EMPTY.DLL", Error::BadExeFormat },
        { "program_not_library", u"PROGRAM.DLL", Error::BadExeFormat },
        { "other_drive", u"D:\\TESTLIB.DLL", Error::BadPathname },
        { "empty_name", u"", Error::InvalidParameter },
    };
    for (const auto& load : loads) {
        SCOPED_TRACE(load.scenario);
        EXPECT_EQ(Module::load(load.name).error(), load.expected);
    }

    auto module = Module::load(u"TESTLIB.DLL");
    ASSERT_TRUE(module.ok());
    EXPECT_EQ(module->symbol<Add>("NoSuchExport").error(), Error::ProcNotFound);
    // Names of exports compare exactly.
    EXPECT_EQ(module->symbol<Add>("testlibadd").error(), Error::ProcNotFound);
    // The library uses the C library, but its exports are not the library's.
    EXPECT_EQ(module->symbol<int (*)(const char*)>("puts").error(), Error::ProcNotFound);
    EXPECT_EQ(module->symbol<Add>("").error(), Error::ProcNotFound);

    const ModuleHandle madeUp(0x1234);
    EXPECT_EQ(platform::modules::exportAddress(madeUp, "TestLibAdd").error(), Error::InvalidHandle);
    EXPECT_EQ(platform::modules::moduleFileName(madeUp).error(), Error::InvalidHandle);
    EXPECT_EQ(platform::modules::freeLibrary(madeUp).error(), Error::InvalidHandle);
}

TEST_F(ModulesTest, startupRunsOncePerProcessWithTheHandleTheLoaderReturns)
{
    install(machine(), builtLibrary("TESTLIB.DLL"), u"C:\\WINDOWS\\System32\\TESTLIB.DLL");

    auto first = platform::modules::loadLibrary(u"TESTLIB.DLL");
    ASSERT_TRUE(first.ok());
    // The same file by another name is the same library.
    auto second = platform::modules::loadLibrary(u"c:\\windows\\system32\\testlib.dll");
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(*first, *second);
    EXPECT_EQ(log().lines(), std::vector<std::string> { StartupLog::line("attach", *first) });

    auto attachCount = platform::modules::exportAddress(*first, "TestLibAttachCount");
    auto attachModule = platform::modules::exportAddress(*first, "TestLibAttachModule");
    ASSERT_TRUE(attachCount.ok() && attachModule.ok());
    EXPECT_EQ(reinterpret_cast<AttachCount>(*attachCount)(), 1);
    EXPECT_EQ(reinterpret_cast<AttachModule>(*attachModule)(), first->pointer());

    // Another process gets its own attach.
    auto other = testkit::run(testkit::helperProgram("modules_loader"), { "TESTLIB.DLL" });
    EXPECT_EQ(other.exitCode, 0) << other.output;
    EXPECT_EQ(log().lines().size(), 3u) << "attach and detach of the second process";

    // The first free only drops a reference: the library stays usable.
    ASSERT_TRUE(platform::modules::freeLibrary(*first).ok());
    EXPECT_EQ(reinterpret_cast<AttachCount>(*attachCount)(), 1);
    EXPECT_EQ(log().lines().size(), 3u);

    ASSERT_TRUE(platform::modules::freeLibrary(*second).ok());
    EXPECT_EQ(log().lines().back(), StartupLog::line("detach", *first));
    EXPECT_EQ(platform::modules::freeLibrary(*first).error(), Error::InvalidHandle);

    // Loaded afresh, it is attached afresh.
    auto again = Module::load(u"TESTLIB.DLL");
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(log().lines().back(), StartupLog::line("attach", again->handle()));
}

TEST_F(ModulesTest, refusedStartupFailsTheLoadAndUnloads)
{
    install(machine(), builtLibrary("FAILINIT.DLL"), u"C:\\WINDOWS\\System32\\FAILINIT.DLL");

    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        EXPECT_EQ(Module::load(u"FAILINIT.DLL").error(), Error::DllInitFailed);
    }
    // Each attempt is told of its end; the second one attaching again shows
    // that the first left nothing loaded.
    auto lines = log().lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].substr(0, 7), "attach ");
    EXPECT_EQ(lines[1].substr(0, 7), "detach ");
    EXPECT_EQ(lines[2].substr(0, 7), "attach ");
    EXPECT_EQ(lines[3].substr(0, 7), "detach ");
}

TEST_F(ModulesTest, libraryWithoutStartupLoads)
{
    install(machine(), builtLibrary("NOINIT.DLL"), u"C:\\WINDOWS\\NOINIT.DLL");
    auto module = Module::load(u"NOINIT.DLL");
    ASSERT_TRUE(module.ok()) << platform::describe(module.error());
    auto add = module->symbol<Add>("TestLibAdd");
    ASSERT_TRUE(add.ok());
    EXPECT_EQ((*add)(40, 2), 42);
    EXPECT_EQ(module->symbol<Add>("DllMain").error(), Error::ProcNotFound);
    EXPECT_TRUE(log().lines().empty());
}

TEST_F(ModulesTest, moduleObjectFreesOnceWhenMovedAndReset)
{
    install(machine(), builtLibrary("TESTLIB.DLL"), u"C:\\WINDOWS\\System32\\TESTLIB.DLL");
    auto loaded = Module::load(u"TESTLIB.DLL");
    ASSERT_TRUE(loaded.ok());
    ModuleHandle handle = loaded->handle();

    Module owner = std::move(*loaded);
    EXPECT_FALSE(loaded->isLoaded());
    Module other;
    other = std::move(owner);
    EXPECT_FALSE(owner.isLoaded());
    EXPECT_EQ(other.handle(), handle);
    EXPECT_EQ(log().lines().size(), 1u);

    other.reset();
    EXPECT_FALSE(other.isLoaded());
    EXPECT_EQ(log().lines().back(), StartupLog::line("detach", handle));
    EXPECT_EQ(platform::modules::freeLibrary(handle).error(), Error::InvalidHandle);
}

TEST_F(ModulesTest, addressesTellTheirModule)
{
    install(machine(), builtLibrary("TESTLIB.DLL"), u"C:\\WINDOWS\\System32\\TESTLIB.DLL");
    auto module = Module::load(u"TESTLIB.DLL");
    ASSERT_TRUE(module.ok());
    auto add = module->symbol<Add>("TestLibAdd");
    ASSERT_TRUE(add.ok());

    auto owner = platform::modules::moduleContaining(reinterpret_cast<const void*>(*add));
    ASSERT_TRUE(owner.ok());
    EXPECT_EQ(*owner, module->handle());

    // The program itself: a handle that only the host loader knows of, named
    // by its host path (the test program lies outside drive C:).
    auto program = platform::modules::moduleContaining(reinterpret_cast<const void*>(&builtLibrary));
    ASSERT_TRUE(program.ok());
    EXPECT_NE(*program, module->handle());
    auto programFile = platform::modules::moduleFileName(*program);
    ASSERT_TRUE(programFile.ok());
    EXPECT_EQ(utf8(*programFile), fs::read_symlink("/proc/self/exe").string());

    EXPECT_EQ(platform::modules::moduleContaining(nullptr).error(), Error::ModNotFound);
}

} // namespace
