// Loads the built TavioSupport.DLL the way the quick menu and the applet do:
// by file name, each export looked up by name; in this process with the
// host's loader, and in the support_binder helper through the platform's
// loader from the application folder of an installed machine.

#include "common/names.h"
#include "platform/files.h"
#include "platform/journal.h"
#include "platform/locale.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "support/strings/string_table.h"
#include "support/tavio_support.h"
#include "tests/support/support_fixture.h"
#include "tests/testkit/machine_fixture.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <filesystem>
#include <regex>
#include <sstream>

namespace {

using namespace std::chrono_literals;

constexpr std::u16string_view VendorLibrary = u"C:\\WINDOWS\\System32\\KELTOVDISP.DLL";
constexpr std::string_view MissingVendorText
    = "KELTOVDISP.DLL file is missing.  Please install the latest video driver. ";

void setVendorLibrary(bool present)
{
    if (present) {
        auto file = platform::files::open(VendorLibrary, platform::files::Access::Write, platform::files::Share::None,
            platform::files::Create::Always);
        ASSERT_TRUE(file.ok());
    } else {
        auto removed = platform::files::remove(VendorLibrary);
        ASSERT_TRUE(removed.ok() || removed.error() == platform::Error::FileNotFound);
    }
}

// The boxes telling that the vendor display library is missing.
size_t missingVendorBoxes()
{
    size_t count = 0;
    for (const auto& box : platform::journal::read("messagebox.show")) {
        if (box.field("text") == MissingVendorText && box.field("caption") == "Tavio Menu"
            && box.field("buttons") == "MB_OK")
            ++count;
    }
    return count;
}

class LibraryLoadTest : public testkit::MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        ASSERT_TRUE(platform::files::createDirectory(supporttest::AppFolder).ok());
        auto key = platform::registry::createKey(platform::registry::Root::LocalMachine, common::SettingsKey);
        ASSERT_TRUE(key.ok());
        ASSERT_TRUE(platform::registry::setString(key->key, common::ValueApplicationPath, supporttest::AppFolder).ok());
    }

    std::filesystem::path appFile(std::u16string_view name)
    {
        return machine().host(std::u16string(supporttest::AppFolder) + u"\\" + std::u16string(name));
    }
};

TEST_F(LibraryLoadTest, PlainLoadRunsTheStartUpOnceAndEveryExportIsFoundByName)
{
    ASSERT_FALSE(std::filesystem::exists(appFile(common::LogFileName)));
    setVendorLibrary(false);

    const auto path = std::filesystem::path(TAVIO_BIN_DIR) / TavioSupportLibraryName;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();

    // Start-up made an empty log beside the data file and told of the
    // missing vendor library once.
    EXPECT_TRUE(std::filesystem::exists(appFile(common::LogFileName)));
    EXPECT_EQ(testkit::readFile(appFile(common::LogFileName)), "");
    EXPECT_EQ(missingVendorBoxes(), 1u);

    int bound = 0;
#define TAVIO_TEST_BIND(name)                                                                                          \
    auto bound##name = reinterpret_cast<name##Proc>(dlsym(library, #name));                                            \
    EXPECT_NE(bound##name, nullptr) << "export " #name " is missing";                                                  \
    bound += bound##name != nullptr;
    TAVIO_SUPPORT_EXPORTS(TAVIO_TEST_BIND)
#undef TAVIO_TEST_BIND
    EXPECT_EQ(bound, 29);
    // The library's own code is not exported.
    EXPECT_EQ(dlsym(library, "_ZN7support15IsAdministratorEv"), nullptr);

    // The platform's loader would call DllMain now: the start-up has run
    // already for this load, so nothing is done twice.
    auto dllMain = reinterpret_cast<int32_t (*)(void*, uint32_t, void*)>(dlsym(library, "DllMain"));
    ASSERT_NE(dllMain, nullptr);
    EXPECT_EQ(dllMain(library, 1, nullptr), 1);
    EXPECT_EQ(missingVendorBoxes(), 1u);

    if (boundReadTavioMenuData && boundWriteTavioMenuData && boundCopyDataBackupFile && boundLogInfo) {
        auto written = supporttest::menuWith(3);
        written->CheckSum = 7;
        EXPECT_EQ(boundWriteTavioMenuData(*written), 1u);
        EXPECT_EQ(written->CheckSum, 7u);
        auto read = supporttest::emptyBlock();
        EXPECT_EQ(boundReadTavioMenuData(read.get()), 0u);
        EXPECT_EQ(std::memcmp(read.get(), written.get(), MenuHeaderSize + written->DataSize), 0);
        EXPECT_NE(boundCopyDataBackupFile(), 0);

        boundLogInfo(u"TAVIOMENU: %s %d\n", u"started", 2);
        EXPECT_TRUE(std::regex_match(testkit::readFile(appFile(common::LogFileName)),
            std::regex(R"(\d\d:\d\d:\d\d \d\d/\d\d/\d{4}: TAVIOMENU: started 2\r\n)")));
    }
    dlclose(library);
}

// A machine with the application installed by tavio-setup from the build.
class InstalledLibraryTest : public testkit::MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        auto installed = testkit::run(testkit::systemProgram("tavio-setup"), { "install" }, 60s);
        ASSERT_EQ(installed.exitCode, 0) << installed.output;
        setVendorLibrary(true);
    }

    // Runs the binder; its output when it bound all 29 exports and did its work.
    std::string bind(const std::vector<std::string>& arguments)
    {
        auto completed = testkit::run(testkit::helperProgram("support_binder"), arguments, 30s);
        EXPECT_EQ(completed.exitCode, 0) << completed.output;
        EXPECT_TRUE(completed.output.starts_with("bound 29\n")) << completed.output;
        return completed.output.starts_with("bound 29\n") ? completed.output.substr(9) : completed.output;
    }

    static void setVersion(std::u16string_view version)
    {
        auto key = platform::registry::openKey(
            platform::registry::Root::LocalMachine, common::SettingsKey, platform::registry::Access::Write);
        ASSERT_TRUE(key.ok());
        ASSERT_TRUE(platform::registry::setString(*key, common::ValueVersion, version).ok());
    }
};

TEST_F(InstalledLibraryTest, ProgramsBindAllExportsFromTheApplicationFolder)
{
    ASSERT_TRUE(platform::files::attributes(u"C:\\Program Files\\Tavio Menu\\TavioSupport.DLL").ok());
    ASSERT_TRUE(platform::files::attributes(u"C:\\Program Files\\Tavio Menu\\BlankHtm.htm").ok());
    ASSERT_TRUE(platform::files::attributes(u"C:\\Program Files\\Tavio Menu\\TavioMenu.hlp").ok());
    bind({ "bind" });
    // The start-up ran: the log lies beside the data file.
    EXPECT_TRUE(platform::files::attributes(u"C:\\Program Files\\Tavio Menu\\TavioMenuLog.log").ok());
}

TEST_F(InstalledLibraryTest, MissingVendorLibraryIsToldOncePerLoad)
{
    bind({ "bind" });
    EXPECT_EQ(missingVendorBoxes(), 0u) << "the vendor library is present";

    setVendorLibrary(false);
    bind({ "bind" });
    EXPECT_EQ(missingVendorBoxes(), 1u);
    // Loaded, freed and loaded again in one process: two loads, two boxes.
    bind({ "reload" });
    EXPECT_EQ(missingVendorBoxes(), 3u);
}

TEST_F(InstalledLibraryTest, StringsFollowTheUsersLanguageWithEnglishAsFallback)
{
    // NOTE: the library carries its own copy of the platform code, so a
    // thread language chosen by the loading program does not reach it; the
    // user's language does.
    std::vector<uint16_t> languages(strings::languages().begin(), strings::languages().end());
    languages.push_back(1049); // held by no table
    for (uint16_t language : languages) {
        SCOPED_TRACE("language " + std::to_string(language));
        ASSERT_TRUE(platform::locale::setUserUiLanguage(language).ok());
        const uint16_t table = strings::resolveLanguage(language);
        std::istringstream lines(bind({ "strings" }));
        uint32_t id = 0;
        uint32_t count = 0;
        std::string hex;
        int seen = 0;
        while (lines >> id >> count) {
            std::getline(lines, hex);
            hex = hex.empty() ? hex : hex.substr(1);
            std::string text;
            for (size_t i = 0; i + 1 < hex.size(); i += 2)
                text += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
            const auto expected = strings::find(id, table);
            SCOPED_TRACE("id " + std::to_string(id));
            EXPECT_EQ(text, expected ? platform::text::toUtf8(*expected) : std::string());
            EXPECT_EQ(count, expected ? expected->size() : 0u);
            ++seen;
        }
        EXPECT_EQ(seen, 90);
    }
}

TEST_F(InstalledLibraryTest, VersionIsReadWholeOrNotAtAll)
{
    setVersion(std::u16string(129, u'7'));
    EXPECT_EQ(bind({ "version" }), "0 " + std::string(129, '7') + "\n");
    // 130 characters and the terminator need 262 bytes; 260 are offered.
    setVersion(std::u16string(130, u'7'));
    EXPECT_EQ(bind({ "version" }), "234 \n");
}

TEST_F(InstalledLibraryTest, DefaultsAndLaunchingWorkThroughTheExports)
{
    ASSERT_TRUE(platform::locale::setUserUiLanguage(1031).ok());
    EXPECT_EQ(bind({ "defaults" }), "1 0 23 Stummschaltung ein/aus\n");
    // Nothing to start.
    EXPECT_EQ(bind({ "execute", "" }), "0\n");
    EXPECT_EQ(bind({ "execute", "\"C:\\Tool\\tool.exe -x" }), "-1\n");
}

struct AdministratorCase {
    const char* name;
    platform::machine::UserRole role;
    std::string result;
};

// Names the case in test listings instead of dumping its bytes.
[[maybe_unused]] void PrintTo(const AdministratorCase& value, std::ostream* out)
{
    *out << value.name;
}

class AdministratorTest : public InstalledLibraryTest, public ::testing::WithParamInterface<AdministratorCase> {
protected:
    platform::machine::InitOptions machineOptions() const override
    {
        platform::machine::InitOptions options;
        options.role = GetParam().role;
        return options;
    }
};

TEST_P(AdministratorTest, IsAdministratorFollowsTheTokensGroups)
{
    EXPECT_EQ(bind({ "admin" }), GetParam().result + "\n");
}

INSTANTIATE_TEST_SUITE_P(Roles, AdministratorTest,
    ::testing::Values(AdministratorCase { "administrator", platform::machine::UserRole::Administrator, "0" },
        AdministratorCase { "standard_user", platform::machine::UserRole::StandardUser, "5" }),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
