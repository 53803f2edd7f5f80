#include "platform/paths.h"

#include "platform/machine.h"
#include "platform/security.h"
#include "platform/text.h"
#include "tests/testkit/machine_fixture.h"

#include <fstream>

using namespace platform;
namespace fs = std::filesystem;

namespace {

std::string utf8(std::u16string_view text)
{
    return text::toUtf8(text);
}

class PathsTest : public testkit::MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        fs::create_directories(machine::driveC() / "Program Files" / "Tavio Menu");
        std::ofstream(machine::driveC() / "Program Files" / "Tavio Menu" / "MenuData.txt") << "menu";
        std::ofstream(machine::driveC() / "Program Files" / "Tavio Menu" / "\xC3\x84rger.txt") << "umlaut";
    }
};

struct MappingCase {
    std::u16string path;
    paths::Lookup lookup;
    // The host path below drive C: with '/' separators, or the error.
    std::string expected;
    Error error { Error::Success };
};

const std::string MenuData = "Program Files/Tavio Menu/MenuData.txt";

std::vector<MappingCase> mappingCases()
{
    using L = paths::Lookup;
    const std::u16string tooLong = u"C:\\" + std::u16string(257, u'a');
    return {
        { u"C:\\Program Files\\Tavio Menu\\MenuData.txt", L::Existing, MenuData },
        { u"c:/program files/TAVIO MENU/MENUDATA.TXT", L::Existing, MenuData },
        { u"C:\\Program Files/Tavio Menu\\\\menudata.txt", L::Existing, MenuData },
        { u"Program Files\\Tavio Menu\\MenuData.txt", L::Existing, MenuData },
        { u"\\Program Files\\Tavio Menu\\MenuData.txt", L::Existing, MenuData },
        { u"C:Program Files\\Tavio Menu\\MenuData.txt", L::Existing, MenuData },
        { u"C:\\WINDOWS\\System32\\..\\..\\Program Files\\.\\Tavio Menu\\MenuData.txt", L::Existing, MenuData },
        { u"C:\\Program Files\\Tavio Menu\\MenuData.txt. ", L::Existing, MenuData },
        { u"C:\\PROGRAM FILES\\tavio menu\\\u00E4RGER.TXT", L::Existing, "Program Files/Tavio Menu/\xC3\x84rger.txt" },
        { u"C:\\", L::Existing, "" },
        { u"C:\\Program Files\\Tavio Menu\\MenuData.txt", L::ForCreate, MenuData },
        { u"C:\\PROGRAM FILES\\Tavio Menu\\MenuData.Bak", L::ForCreate, "Program Files/Tavio Menu/MenuData.Bak" },
        { u"C:\\" + std::u16string(256, u'a'), L::ForCreate, std::string(256, 'a') },
        { u"C:\\Program Files\\Tavio Menu\\MenuData.Bak", L::Existing, "", Error::FileNotFound },
        { u"C:\\Missing\\MenuData.txt", L::Existing, "", Error::PathNotFound },
        { u"C:\\Missing\\MenuData.txt", L::ForCreate, "", Error::PathNotFound },
        { u"C:\\Program Files\\Tavio Menu\\MenuData.txt\\x", L::ForCreate, "", Error::PathNotFound },
        { u"D:\\MenuData.txt", L::Existing, "", Error::BadPathname },
        { u"\\\\server\\share\\MenuData.txt", L::Existing, "", Error::BadPathname },
        { u"//server/share/MenuData.txt", L::Existing, "", Error::BadPathname },
        { u"C:\\..\\MenuData.txt", L::ForCreate, "", Error::BadPathname },
        { u"Program Files\\..\\..\\MenuData.txt", L::ForCreate, "", Error::BadPathname },
        { u"C:\\Menu<Data", L::ForCreate, "", Error::InvalidName },
        { u"C:\\Menu|Data", L::ForCreate, "", Error::InvalidName },
        { u"C:\\Menu\"Data", L::ForCreate, "", Error::InvalidName },
        { u"C:\\MenuData.txt:stream", L::ForCreate, "", Error::InvalidName },
        { u"C:\\Menu*", L::ForCreate, "", Error::InvalidName },
        { u"C:\\Menu?Data", L::ForCreate, "", Error::InvalidName },
        { std::u16string(u"C:\\Menu\0Data", 12), L::ForCreate, "", Error::InvalidName },
        { u"C:\\...", L::ForCreate, "", Error::InvalidName },
        { tooLong, L::ForCreate, "", Error::FilenameExcedRange },
        { u"", L::ForCreate, "", Error::PathNotFound },
    };
}

TEST_F(PathsTest, MapsWindowsPathsOntoDriveC)
{
    for (const auto& row : mappingCases()) {
        SCOPED_TRACE(
            "path \"" + utf8(row.path) + "\" " + (row.lookup == paths::Lookup::Existing ? "Existing" : "ForCreate"));
        auto mapped = paths::toHost(row.path, row.lookup);
        if (row.error != Error::Success) {
            EXPECT_EQ(mapped.error(), row.error) << describe(mapped.error());
            continue;
        }
        ASSERT_TRUE(mapped.ok()) << describe(mapped.error());
        fs::path expected = row.expected.empty() ? machine::driveC() : machine::driveC() / row.expected;
        EXPECT_EQ(mapped->lexically_normal(), expected.lexically_normal());
    }
}

TEST_F(PathsTest, ExactSpellingWinsOverOtherCaseOnTheHost)
{
    // The host keeps names that differ only in case apart; the platform sees
    // one of them, and the choice must not depend on directory order.
    const fs::path folder = machine::driveC() / "Program Files" / "Tavio Menu";
    std::ofstream(folder / "menudata.txt") << "lower";
    EXPECT_EQ(
        paths::toHost(u"C:\\Program Files\\Tavio Menu\\menudata.txt").valueOr(fs::path()), folder / "menudata.txt");
    EXPECT_EQ(
        paths::toHost(u"C:\\Program Files\\Tavio Menu\\MenuData.txt").valueOr(fs::path()), folder / "MenuData.txt");
    EXPECT_EQ(
        paths::toHost(u"C:\\Program Files\\Tavio Menu\\MENUDATA.TXT").valueOr(fs::path()), folder / "MenuData.txt");
}

TEST_F(PathsTest, HostPathsMapBackInsideDriveCOnly)
{
    EXPECT_EQ(paths::fromHost(machine::driveC() / "Program Files" / "Tavio Menu").valueOr(u""),
        u"C:\\Program Files\\Tavio Menu");
    EXPECT_EQ(paths::fromHost(machine::driveC()).valueOr(u""), u"C:\\");
    EXPECT_EQ(paths::fromHost(machine::driveC() / "WINDOWS" / ".." / "WINDOWS").valueOr(u""), u"C:\\WINDOWS");
    EXPECT_EQ(paths::fromHost(machine::root() / "machine.db").error(), Error::BadPathname);
    EXPECT_EQ(paths::fromHost(machine::driveC() / ".." / "drive_c_other").error(), Error::BadPathname);
}

TEST_F(PathsTest, FixedFoldersExistOnAFreshMachine)
{
    for (const auto& folder : { paths::windowsDirectory(), paths::systemDirectory(), paths::profileDirectory(u"Owner"),
             paths::knownFolder(paths::KnownFolder::ProgramFiles).valueOr(u""),
             paths::knownFolder(paths::KnownFolder::AppData).valueOr(u"") }) {
        SCOPED_TRACE(utf8(folder));
        auto mapped = paths::toHost(folder);
        ASSERT_TRUE(mapped.ok()) << describe(mapped.error());
        EXPECT_TRUE(fs::is_directory(*mapped));
    }
    EXPECT_EQ(paths::knownFolder(paths::KnownFolder::AppData).valueOr(u""),
        u"C:\\Documents and Settings\\Owner\\Application Data");
    EXPECT_EQ(paths::knownFolder(paths::KnownFolder::System).valueOr(u""), u"C:\\WINDOWS\\System32");
    EXPECT_EQ(paths::knownFolder(paths::KnownFolder(99)).error(), Error::InvalidParameter);
}

TEST_F(PathsTest, AppDataFollowsTheCurrentUser)
{
    ASSERT_TRUE(security::setCurrentUser({ u"Tablet User", machine::UserRole::StandardUser }).ok());
    auto appData = paths::knownFolder(paths::KnownFolder::AppData);
    ASSERT_TRUE(appData.ok());
    EXPECT_EQ(*appData, u"C:\\Documents and Settings\\Tablet User\\Application Data");
    // A user who logs on has a profile, so the folder is there to create
    // application folders in.
    auto mapped = paths::toHost(*appData);
    ASSERT_TRUE(mapped.ok()) << describe(mapped.error());
    EXPECT_TRUE(fs::is_directory(*mapped));
}

TEST(PathText, RemoveFileSpec)
{
    const std::pair<std::u16string, std::u16string> cases[] = {
        { u"C:\\a\\b.txt", u"C:\\a" },
        { u"C:\\a", u"C:\\" },
        { u"C:\\", u"C:\\" },
        { u"C:\\a\\", u"C:\\a" },
        { u"b.txt", u"" },
        { u"a\\b", u"a" },
        { u"\\a", u"\\" },
        { u"C:b.txt", u"C:" },
        { u"c:/a/b.txt", u"c:/a" },
        { u"", u"" },
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(paths::removeFileSpec(path), expected) << utf8(path);
}

TEST(PathText, Append)
{
    const std::tuple<std::u16string, std::u16string, std::u16string> cases[] = {
        { u"C:\\a", u"b.txt", u"C:\\a\\b.txt" },
        { u"C:\\a\\", u"b.txt", u"C:\\a\\b.txt" },
        { u"C:\\a\\", u"\\b.txt", u"C:\\a\\b.txt" },
        { u"C:\\", u"b.txt", u"C:\\b.txt" },
        { u"C:", u"b.txt", u"C:\\b.txt" },
        { u"", u"b.txt", u"b.txt" },
        { u"C:\\a", u"", u"C:\\a" },
        { u"C:\\Documents and Settings", u"Owner", u"C:\\Documents and Settings\\Owner" },
    };
    for (const auto& [folder, name, expected] : cases)
        EXPECT_EQ(paths::append(folder, name), expected) << utf8(folder) << " + " << utf8(name);
}

TEST(PathText, FileNameAndExtension)
{
    const std::tuple<std::u16string, std::u16string, std::u16string> cases[] = {
        { u"C:\\a\\b.txt", u"b.txt", u".txt" },
        { u"C:\\a\\MenuData.TXT", u"MenuData.TXT", u".TXT" },
        { u"b.tar.gz", u"b.tar.gz", u".gz" },
        { u"C:\\dir.d\\file", u"file", u"" },
        { u"C:\\a\\", u"a", u"" },
        { u"C:\\", u"", u"" },
        { u"C:tool.cpl", u"tool.cpl", u".cpl" },
        { u"c:/a/b.exe", u"b.exe", u".exe" },
        { u"C:\\a\\name.with space", u"name.with space", u"" },
    };
    for (const auto& [path, name, extension] : cases) {
        EXPECT_EQ(paths::fileName(path), name) << utf8(path);
        EXPECT_EQ(paths::extension(path), extension) << utf8(path);
    }
}

} // namespace
