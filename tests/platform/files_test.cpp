#include "platform/files.h"

#include "platform/machine.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tests/testkit/machine_fixture.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;
using files::Access;
using files::Create;
using files::Share;
namespace fs = std::filesystem;

namespace {

constexpr std::u16string_view Folder = u"C:\\Program Files\\Tavio Menu";
constexpr std::u16string_view DataFile = u"C:\\Program Files\\Tavio Menu\\MenuData.txt";

std::string utf8(std::u16string_view text)
{
    return text::toUtf8(text);
}

std::span<const std::byte> bytes(std::string_view text)
{
    return std::as_bytes(std::span(text.data(), text.size()));
}

std::string name(Access access)
{
    switch (access) {
    case Access::None:
        return "None";
    case Access::Read:
        return "Read";
    case Access::Write:
        return "Write";
    case Access::ReadWrite:
        return "ReadWrite";
    }
    return "?";
}

std::string name(Share share)
{
    switch (share) {
    case Share::None:
        return "None";
    case Share::Read:
        return "Read";
    case Share::Write:
        return "Write";
    case Share::ReadWrite:
        return "ReadWrite";
    case Share::Delete:
        return "Delete";
    case Share::All:
        return "All";
    }
    return "?";
}

class FilesTest : public testkit::MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        ASSERT_TRUE(files::createDirectory(Folder).ok());
    }

    // Makes or replaces a file through the platform, as a program would.
    static void writeFile(std::u16string_view path, std::string_view content)
    {
        auto file = files::open(path, Access::Write, Share::None, Create::Always);
        ASSERT_TRUE(file.ok()) << utf8(path) << ": " << describe(file.error());
        auto written = file->write(bytes(content));
        ASSERT_TRUE(written.ok());
        ASSERT_EQ(*written, content.size());
    }

    // The content as the host sees it; "<absent>" when there is no file.
    static std::string hostContent(std::u16string_view path)
    {
        auto host = paths::toHost(path);
        return host ? testkit::readFile(*host) : "<absent>";
    }

    // Names in a folder as the host stores them.
    static std::vector<std::string> hostNames(std::u16string_view folder)
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(paths::toHost(folder).valueOr(fs::path())))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(FilesTest, NamesAreFoundWithoutRegardToCase)
{
    writeFile(DataFile, "entries");
    auto file
        = files::open(u"C:\\PROGRAM FILES\\TAVIO MENU\\MENUDATA.TXT", Access::Read, Share::None, Create::OpenExisting);
    ASSERT_TRUE(file.ok()) << describe(file.error());
    std::string buffer(16, '\0');
    auto count = file->read(std::as_writable_bytes(std::span(buffer.data(), buffer.size())));
    ASSERT_TRUE(count.ok());
    EXPECT_EQ(buffer.substr(0, *count), "entries");
    file->close();

    // Replacing through another spelling keeps the stored name.
    writeFile(u"c:/program files/tavio menu/MENUDATA.TXT", "new");
    EXPECT_EQ(hostNames(Folder), std::vector<std::string> { "MenuData.txt" });
    EXPECT_EQ(hostContent(DataFile), "new");

    ASSERT_TRUE(files::remove(u"C:\\program files\\tavio menu\\MENUDATA.TXT").ok());
    EXPECT_TRUE(hostNames(Folder).empty());
}

struct DispositionCase {
    Create create;
    bool existsBefore;
    Error error;
    Disposition disposition;
    std::string contentAfter; // "<absent>" when no file should be there
};

TEST_F(FilesTest, AppendsLandAtTheEndWhateverOtherHandlesWrote)
{
    auto first = files::open(DataFile, Access::ReadWrite, Share::ReadWrite, Create::OpenAlways);
    auto second = files::open(DataFile, Access::ReadWrite, Share::ReadWrite, Create::OpenAlways);
    ASSERT_TRUE(first.ok() && second.ok());
    ASSERT_TRUE(first->write(bytes("AAAA")).ok());
    ASSERT_TRUE(second->append(bytes("BB")).ok());
    // The first handle's position is still 4: a plain write would overwrite.
    ASSERT_TRUE(first->append(bytes("CC")).ok());
    first->close();
    second->close();
    EXPECT_EQ(hostContent(DataFile), "AAAABBCC");

    auto readOnly = files::open(DataFile, Access::Read, Share::ReadWrite, Create::OpenExisting);
    ASSERT_TRUE(readOnly.ok());
    EXPECT_EQ(readOnly->append(bytes("x")).error(), Error::AccessDenied);
}

TEST_F(FilesTest, HostFilesAreImportedWholeWithTheirPermissions)
{
    const fs::path source = machine().root() / "medium.bin";
    std::string content(300000, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 31);
    {
        std::ofstream out(source, std::ios::binary);
        out << content;
    }
    fs::permissions(source, fs::perms::owner_all);
    const std::u16string destination = u"C:\\Program Files\\Tavio Menu\\Medium.exe";

    auto imported = files::importHostFile(source, destination);
    ASSERT_TRUE(imported.ok()) << describe(imported.error());
    EXPECT_EQ(*imported, content.size());
    EXPECT_EQ(hostContent(destination), content);
    auto installed = paths::toHost(destination);
    ASSERT_TRUE(installed.ok());
    EXPECT_EQ(fs::status(*installed).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);

    // A running program holding the installed copy keeps it as it is.
    auto held = files::open(destination, Access::Read, Share::Read, Create::OpenExisting);
    ASSERT_TRUE(held.ok());
    EXPECT_EQ(files::importHostFile(source, destination).error(), Error::SharingViolation);
    held->close();

    EXPECT_EQ(files::importHostFile(machine().root() / "absent.bin", destination).error(), Error::FileNotFound);
    EXPECT_EQ(hostContent(destination), content);
}

TEST_F(FilesTest, DispositionsCreateOpenOrTruncate)
{
    const DispositionCase cases[] = {
        { Create::New, false, Error::Success, Disposition::Created, "" },
        { Create::New, true, Error::FileExists, {}, "old data" },
        { Create::Always, false, Error::Success, Disposition::Created, "" },
        { Create::Always, true, Error::Success, Disposition::OpenedExisting, "" },
        { Create::OpenExisting, false, Error::FileNotFound, {}, "<absent>" },
        { Create::OpenExisting, true, Error::Success, Disposition::OpenedExisting, "old data" },
        { Create::OpenAlways, false, Error::Success, Disposition::Created, "" },
        { Create::OpenAlways, true, Error::Success, Disposition::OpenedExisting, "old data" },
        { Create::TruncateExisting, false, Error::FileNotFound, {}, "<absent>" },
        { Create::TruncateExisting, true, Error::Success, Disposition::OpenedExisting, "" },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(
            "create " + std::to_string(uint32_t(row.create)) + (row.existsBefore ? " on existing" : " on absent"));
        (void)files::remove(DataFile);
        if (row.existsBefore)
            writeFile(DataFile, "old data");
        {
            auto file = files::open(DataFile, Access::ReadWrite, Share::None, row.create);
            EXPECT_EQ(file.error(), row.error) << describe(file.error());
            if (file && row.error == Error::Success) {
                EXPECT_EQ(file->disposition(), row.disposition);
            }
        }
        EXPECT_EQ(hostContent(DataFile), row.contentAfter);
    }
}

TEST_F(FilesTest, OpenReportsMissingFoldersFoldersAndBadArguments)
{
    writeFile(DataFile, "x");
    for (Create create :
        { Create::New, Create::Always, Create::OpenExisting, Create::OpenAlways, Create::TruncateExisting }) {
        SCOPED_TRACE("create " + std::to_string(uint32_t(create)));
        EXPECT_EQ(files::open(u"C:\\Missing\\MenuData.txt", Access::ReadWrite, Share::None, create).error(),
            Error::PathNotFound);
        EXPECT_EQ(
            files::open(u"C:\\Program Files\\Tavio Menu\\MenuData.txt\\inner", Access::ReadWrite, Share::None, create)
                .error(),
            Error::PathNotFound);
        EXPECT_EQ(files::open(u"D:\\MenuData.txt", Access::ReadWrite, Share::None, create).error(), Error::BadPathname);
    }
    for (Create create : { Create::Always, Create::OpenExisting, Create::OpenAlways }) {
        SCOPED_TRACE("folder, create " + std::to_string(uint32_t(create)));
        EXPECT_EQ(files::open(Folder, Access::Read, Share::All, create).error(), Error::AccessDenied);
    }
    EXPECT_EQ(
        files::open(DataFile, Access::Read, Share::None, Create::TruncateExisting).error(), Error::InvalidParameter);
    EXPECT_EQ(hostContent(DataFile), "x");
    EXPECT_EQ(files::open(DataFile, Access::Read, Share::None, Create(0)).error(), Error::InvalidParameter);
    EXPECT_EQ(files::open(DataFile, Access::Read, Share(8), Create::OpenExisting).error(), Error::InvalidParameter);
}

TEST_F(FilesTest, HandlesOnlyDoWhatTheirAccessAllows)
{
    writeFile(DataFile, "0123456789");
    std::byte buffer[4];
    {
        auto reader = files::open(DataFile, Access::Read, Share::All, Create::OpenExisting);
        ASSERT_TRUE(reader.ok());
        EXPECT_EQ(reader->write(bytes("x")).error(), Error::AccessDenied);
        EXPECT_EQ(reader->setEndOfFile().error(), Error::AccessDenied);
        EXPECT_EQ(reader->read(buffer).valueOr(0), 4u);
    }
    {
        auto writer = files::open(DataFile, Access::Write, Share::All, Create::OpenExisting);
        ASSERT_TRUE(writer.ok());
        EXPECT_EQ(writer->read(buffer).error(), Error::AccessDenied);
    }
    {
        auto probe = files::open(DataFile, Access::None, Share::None, Create::OpenExisting);
        ASSERT_TRUE(probe.ok());
        EXPECT_EQ(probe->read(buffer).error(), Error::AccessDenied);
        EXPECT_EQ(probe->lock(0, 1).error(), Error::AccessDenied);
    }
    files::File closed;
    EXPECT_EQ(closed.read(buffer).error(), Error::InvalidHandle);
    EXPECT_EQ(hostContent(DataFile), "0123456789");
}

TEST_F(FilesTest, ReadOnlyFilesRefuseWritingAndDeleting)
{
    writeFile(DataFile, "keep");
    ASSERT_EQ(::chmod(paths::toHost(DataFile)->c_str(), 0444), 0);
    EXPECT_EQ(files::attributes(DataFile).valueOr(0), uint32_t(files::Attribute::ReadOnly));
    EXPECT_EQ(files::open(DataFile, Access::Write, Share::None, Create::OpenExisting).error(), Error::AccessDenied);
    EXPECT_EQ(files::open(DataFile, Access::Read, Share::None, Create::Always).error(), Error::AccessDenied);
    EXPECT_EQ(files::remove(DataFile).error(), Error::AccessDenied);
    EXPECT_TRUE(files::open(DataFile, Access::Read, Share::None, Create::OpenExisting).ok());
    EXPECT_EQ(hostContent(DataFile), "keep");
}

TEST_F(FilesTest, SetEndOfFileCutsAndExtendsAtThePosition)
{
    auto file = files::open(DataFile, Access::ReadWrite, Share::None, Create::New);
    ASSERT_TRUE(file.ok());
    ASSERT_TRUE(file->write(bytes("0123456789")).ok());
    EXPECT_EQ(file->seek(4, files::SeekFrom::Begin).valueOr(0), 4u);
    ASSERT_TRUE(file->setEndOfFile().ok());
    EXPECT_EQ(file->size().valueOr(0), 4u);
    EXPECT_EQ(file->seek(-2, files::SeekFrom::End).valueOr(0), 2u);
    std::byte tail[8];
    EXPECT_EQ(file->read(tail).valueOr(99), 2u);
    EXPECT_EQ(file->read(tail).valueOr(99), 0u) << "end of file reads nothing, successfully";

    EXPECT_EQ(file->seek(6, files::SeekFrom::Begin).valueOr(0), 6u);
    ASSERT_TRUE(file->setEndOfFile().ok());
    EXPECT_EQ(file->size().valueOr(0), 6u);
    EXPECT_EQ(file->seek(-1, files::SeekFrom::Begin).error(), Error::InvalidParameter);
    file->close();
    EXPECT_EQ(hostContent(DataFile), std::string("0123\0\0", 6));
}

TEST_F(FilesTest, CopyWithAndWithoutOverwrite)
{
    const std::u16string backup = u"C:\\Program Files\\Tavio Menu\\MenuData.bak";
    writeFile(DataFile, "current");

    ASSERT_TRUE(files::copy(DataFile, backup, files::Overwrite::No).ok());
    EXPECT_EQ(hostContent(backup), "current");

    writeFile(DataFile, "newer");
    EXPECT_EQ(files::copy(DataFile, backup, files::Overwrite::No).error(), Error::FileExists);
    EXPECT_EQ(hostContent(backup), "current");

    // Overwriting through another spelling keeps the stored name.
    ASSERT_TRUE(files::copy(DataFile, u"C:\\PROGRAM FILES\\TAVIO MENU\\MENUDATA.BAK", files::Overwrite::Yes).ok());
    EXPECT_EQ(hostContent(backup), "newer");
    EXPECT_EQ(hostNames(Folder), (std::vector<std::string> { "MenuData.bak", "MenuData.txt" }));

    EXPECT_EQ(files::copy(u"C:\\Program Files\\Tavio Menu\\Absent.txt", backup, files::Overwrite::Yes).error(),
        Error::FileNotFound);
    EXPECT_EQ(files::copy(DataFile, u"C:\\Missing\\MenuData.bak", files::Overwrite::Yes).error(), Error::PathNotFound);
    EXPECT_EQ(files::copy(DataFile, Folder, files::Overwrite::Yes).error(), Error::AccessDenied);
    // The destination is the source opened for writing, which its own share
    // mode forbids; the data survives.
    EXPECT_EQ(files::copy(DataFile, DataFile, files::Overwrite::Yes).error(), Error::SharingViolation);
    EXPECT_EQ(hostContent(DataFile), "newer");
}

TEST_F(FilesTest, CopyOfALargeFileIsComplete)
{
    std::string content;
    for (int i = 0; content.size() < 200 * 1024; ++i)
        content += std::to_string(i) + ",";
    writeFile(DataFile, content);
    ASSERT_TRUE(files::copy(DataFile, u"C:\\copy.bin", files::Overwrite::No).ok());
    EXPECT_EQ(hostContent(u"C:\\copy.bin"), content);
}

TEST_F(FilesTest, ConflictingOpensNeverTruncate)
{
    const std::u16string backup = u"C:\\Program Files\\Tavio Menu\\MenuData.bak";
    writeFile(DataFile, "precious");
    writeFile(backup, "backup");
    auto reader = files::open(DataFile, Access::Read, Share::Read, Create::OpenExisting);
    ASSERT_TRUE(reader.ok());
    for (Create create : { Create::Always, Create::TruncateExisting }) {
        SCOPED_TRACE("create " + std::to_string(uint32_t(create)));
        EXPECT_EQ(files::open(DataFile, Access::Write, Share::All, create).error(), Error::SharingViolation);
        EXPECT_EQ(hostContent(DataFile), "precious");
    }
    EXPECT_EQ(files::copy(backup, DataFile, files::Overwrite::Yes).error(), Error::SharingViolation);
    EXPECT_EQ(hostContent(DataFile), "precious");
}

TEST_F(FilesTest, RemoveReportsAbsentFoldersAndHeldFiles)
{
    EXPECT_EQ(files::remove(DataFile).error(), Error::FileNotFound);
    EXPECT_EQ(files::remove(u"C:\\Missing\\MenuData.txt").error(), Error::PathNotFound);
    EXPECT_EQ(files::remove(Folder).error(), Error::AccessDenied);

    writeFile(DataFile, "x");
    {
        auto held = files::open(DataFile, Access::Read, Share::ReadWrite, Create::OpenExisting);
        ASSERT_TRUE(held.ok());
        EXPECT_EQ(files::remove(DataFile).error(), Error::SharingViolation);
        EXPECT_EQ(hostContent(DataFile), "x");
    }
    {
        auto held = files::open(DataFile, Access::Read, Share::All, Create::OpenExisting);
        ASSERT_TRUE(held.ok());
        EXPECT_TRUE(files::remove(DataFile).ok());
    }
    EXPECT_EQ(hostContent(DataFile), "<absent>");
}

TEST_F(FilesTest, CreateAndRemoveDirectories)
{
    const std::u16string folder = u"C:\\Program Files\\Tavio Menu\\Skins";
    ASSERT_TRUE(files::createDirectory(folder).ok());
    EXPECT_EQ(
        files::attributes(u"c:\\program files\\tavio menu\\SKINS").valueOr(0), uint32_t(files::Attribute::Directory));
    EXPECT_EQ(files::createDirectory(folder).error(), Error::AlreadyExists);
    EXPECT_EQ(files::createDirectory(u"C:\\PROGRAM FILES\\TAVIO MENU\\skins").error(), Error::AlreadyExists);
    EXPECT_EQ(files::createDirectory(u"C:\\").error(), Error::AlreadyExists);
    EXPECT_EQ(files::createDirectory(u"C:\\Missing\\Skins").error(), Error::PathNotFound);
    writeFile(DataFile, "x");
    EXPECT_EQ(files::createDirectory(DataFile).error(), Error::AlreadyExists);

    writeFile(folder + u"\\Blue.bmp", "x");
    EXPECT_EQ(files::removeDirectory(folder).error(), Error::DirNotEmpty);
    ASSERT_TRUE(files::remove(folder + u"\\BLUE.BMP").ok());
    EXPECT_TRUE(files::removeDirectory(u"c:/program files/tavio menu/skins").ok());
    EXPECT_EQ(files::removeDirectory(folder).error(), Error::FileNotFound);
    EXPECT_EQ(files::removeDirectory(u"C:\\Missing\\Skins").error(), Error::PathNotFound);
    EXPECT_EQ(files::attributes(folder).error(), Error::FileNotFound);
}

TEST_F(FilesTest, FindMatchesWildcardsWithoutRegardToCase)
{
    writeFile(DataFile, "12345");
    writeFile(u"C:\\Program Files\\Tavio Menu\\MenuData.bak", "123");
    writeFile(u"C:\\Program Files\\Tavio Menu\\TavioMenuLog.log", "");
    ASSERT_TRUE(files::createDirectory(u"C:\\Program Files\\Tavio Menu\\Skins").ok());

    struct FindCase {
        std::u16string pattern;
        std::vector<std::u16string> names;
        Error error { Error::Success };
    };
    const std::u16string base = u"C:\\Program Files\\Tavio Menu\\";
    const FindCase cases[] = {
        { base + u"*", { u"MenuData.bak", u"MenuData.txt", u"Skins", u"TavioMenuLog.log" } },
        { base + u"*.*", { u"MenuData.bak", u"MenuData.txt", u"Skins", u"TavioMenuLog.log" } },
        { base + u"menudata.*", { u"MenuData.bak", u"MenuData.txt" } },
        { base + u"*.TXT", { u"MenuData.txt" } },
        { base + u"M?NUDATA.???", { u"MenuData.bak", u"MenuData.txt" } },
        { base + u"*menu*", { u"MenuData.bak", u"MenuData.txt", u"TavioMenuLog.log" } },
        { u"c:/program files/tavio menu/MENUDATA.TXT", { u"MenuData.txt" } },
        { u"C:\\PROGRAM FILES", { u"Program Files" } },
        { base + u"MenuData.tx", {}, Error::FileNotFound },
        { base + u"*.exe", {}, Error::FileNotFound },
        { base + u"MenuData.txt?", {}, Error::FileNotFound },
        { u"C:\\Missing\\*", {}, Error::PathNotFound },
        { std::u16string(DataFile) + u"\\*", {}, Error::PathNotFound },
        { u"D:\\*", {}, Error::BadPathname },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE("pattern \"" + utf8(row.pattern) + "\"");
        auto found = files::find(row.pattern);
        if (row.error != Error::Success) {
            EXPECT_EQ(found.error(), row.error) << describe(found.error());
            continue;
        }
        ASSERT_TRUE(found.ok()) << describe(found.error());
        std::vector<std::u16string> names;
        for (const auto& entry : *found)
            names.push_back(entry.name);
        EXPECT_EQ(names, row.names);
    }

    auto one = files::find(DataFile);
    ASSERT_TRUE(one.ok());
    EXPECT_EQ(one->at(0).size, 5u);
    EXPECT_EQ(one->at(0).attributes, uint32_t(files::Attribute::Normal));
    auto folder = files::find(base + u"skins");
    ASSERT_TRUE(folder.ok());
    EXPECT_EQ(folder->at(0).attributes, uint32_t(files::Attribute::Directory));
}

// The platform's rule for two opens of one file, written independently of the
// implementation: each open must share every kind of access the other asks.
bool compatible(Access heldAccess, Share heldShare, Access newAccess, Share newShare)
{
    auto covered = [](Access access, Share share) {
        return (!has(access, Access::Read) || has(share, Share::Read))
            && (!has(access, Access::Write) || has(share, Share::Write));
    };
    return covered(newAccess, heldShare) && covered(heldAccess, newShare);
}

constexpr Access AskingAccesses[] = { Access::Read, Access::Write, Access::ReadWrite };
constexpr Share ShareModes[] = { Share::None, Share::Read, Share::Write, Share::ReadWrite };

TEST_F(FilesTest, ShareModesFollowTheCompatibilityRule)
{
    writeFile(DataFile, "data");
    for (Access heldAccess : AskingAccesses)
        for (Share heldShare : ShareModes) {
            auto held = files::open(DataFile, heldAccess, heldShare, Create::OpenExisting);
            ASSERT_TRUE(held.ok()) << describe(held.error());
            for (Access newAccess : AskingAccesses)
                for (Share newShare : ShareModes) {
                    const bool expected = compatible(heldAccess, heldShare, newAccess, newShare);
                    // Another spelling of the name meets the same file.
                    auto second = files::open(
                        u"c:/PROGRAM FILES/tavio menu/menudata.TXT", newAccess, newShare, Create::OpenExisting);
                    EXPECT_EQ(second.error(), expected ? Error::Success : Error::SharingViolation)
                        << "held " << name(heldAccess) << "/share " << name(heldShare) << ", then " << name(newAccess)
                        << "/share " << name(newShare);
                }
        }
    EXPECT_EQ(hostContent(DataFile), "data");
}

TEST_F(FilesTest, OpensAskingNoAccessNeverConflict)
{
    writeFile(DataFile, "data");
    auto exclusive = files::open(DataFile, Access::ReadWrite, Share::None, Create::OpenExisting);
    ASSERT_TRUE(exclusive.ok());
    auto probe = files::open(DataFile, Access::None, Share::None, Create::OpenExisting);
    EXPECT_TRUE(probe.ok()) << describe(probe.error());
    exclusive->close();
    EXPECT_TRUE(files::open(DataFile, Access::ReadWrite, Share::None, Create::OpenExisting).ok())
        << "a probe with no access blocks nobody";
}

TEST_F(FilesTest, ClosingOrMovingOverAHandleEndsItsReservation)
{
    writeFile(DataFile, "data");
    auto first = files::open(DataFile, Access::ReadWrite, Share::None, Create::OpenExisting);
    ASSERT_TRUE(first.ok());
    files::File moved = std::move(*first);
    EXPECT_EQ(files::open(DataFile, Access::Read, Share::All, Create::OpenExisting).error(), Error::SharingViolation)
        << "the reservation moves with the handle";
    writeFile(u"C:\\other.txt", "");
    moved = std::move(files::open(u"C:\\other.txt", Access::Read, Share::None, Create::OpenExisting).value());
    EXPECT_TRUE(files::open(DataFile, Access::ReadWrite, Share::None, Create::OpenExisting).ok());
}

TEST_F(FilesTest, ByteRangeLocksConflictBetweenHandles)
{
    writeFile(DataFile, std::string(64, 'x'));
    auto first = files::open(DataFile, Access::ReadWrite, Share::ReadWrite, Create::OpenExisting);
    auto second = files::open(DataFile, Access::ReadWrite, Share::ReadWrite, Create::OpenExisting);
    ASSERT_TRUE(first.ok() && second.ok());

    ASSERT_TRUE(first->lock(0, 10).ok());
    EXPECT_EQ(second->lock(5, 10).error(), Error::LockViolation);
    EXPECT_TRUE(second->lock(10, 10).ok()) << "ranges that only touch do not overlap";
    EXPECT_EQ(second->unlock(0, 10).error(), Error::NotLocked) << "unlocking a range this handle never locked";
    ASSERT_TRUE(first->unlock(0, 10).ok());
    EXPECT_TRUE(second->lock(0, 5).ok());

    first->close();
    auto third = files::open(DataFile, Access::Read, Share::ReadWrite, Create::OpenExisting);
    ASSERT_TRUE(third.ok());
    EXPECT_EQ(third->lock(12, 1).error(), Error::LockViolation);
    second->close();
    EXPECT_TRUE(third->lock(12, 1).ok()) << "closing a handle gives its locks back";
    EXPECT_EQ(third->lock(UINT64_MAX, 2).error(), Error::InvalidParameter);
}

// A file held open by another process of the machine (tests/helpers/
// files_holder), with a FIFO handshake for readiness and release.
class Holder {
public:
    Holder(const fs::path& folder, std::u16string_view path, std::string_view access, std::string_view share,
        Create create = Create::OpenExisting)
    {
        static int serial = 0;
        ++serial;
        m_readyPath = folder / ("ready-" + std::to_string(serial));
        m_releasePath = folder / ("release-" + std::to_string(serial));
        if (::mkfifo(m_readyPath.c_str(), 0600) != 0 || ::mkfifo(m_releasePath.c_str(), 0600) != 0)
            throw std::runtime_error("cannot make the handshake FIFOs");
        // Open for reading and writing so that opening never blocks and a
        // helper that has not started yet does not read as end-of-file.
        m_ready = ::open(m_readyPath.c_str(), O_RDWR | O_CLOEXEC);
        m_child = testkit::spawn(testkit::helperProgram("files_holder"),
            { utf8(path), std::string(access), std::string(share), std::to_string(uint32_t(create)),
                m_readyPath.string(), m_releasePath.string() });
    }
    ~Holder()
    {
        m_child.kill();
        ::close(m_ready);
    }

    // The helper's open result: its error code, or -1 when it did not answer
    // within the time-out.
    int result() { return readLine().has_value() ? std::stoi(m_line) : -1; }

    // Tells the helper to close its file, and waits until it did.
    bool release()
    {
        int fd = ::open(m_releasePath.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        bool sent = ::write(fd, "x", 1) == 1;
        ::close(fd);
        return sent && readLine() == "closed" && m_child.wait(std::chrono::seconds(10)) == 0;
    }

    void kill() { m_child.kill(); }

private:
    std::optional<std::string> readLine()
    {
        m_line.clear();
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        char byte = 0;
        for (;;) {
            auto left
                = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd waiting { m_ready, POLLIN, 0 };
            if (left.count() <= 0 || ::poll(&waiting, 1, int(left.count())) <= 0)
                return std::nullopt;
            if (::read(m_ready, &byte, 1) != 1)
                return std::nullopt;
            if (byte == '\n')
                return m_line;
            m_line += byte;
        }
    }

    fs::path m_readyPath;
    fs::path m_releasePath;
    int m_ready { -1 };
    std::string m_line;
    testkit::Child m_child;
};

using FilesAcrossProcesses = FilesTest;

TEST_F(FilesAcrossProcesses, AnExclusiveOpenShutsOtherProcessesOut)
{
    writeFile(DataFile, "data");
    Holder holder(machine().root(), DataFile, "rw", "none");
    ASSERT_EQ(holder.result(), 0);
    EXPECT_EQ(files::open(DataFile, Access::Read, Share::All, Create::OpenExisting).error(), Error::SharingViolation);
    EXPECT_EQ(files::open(DataFile, Access::Write, Share::All, Create::Always).error(), Error::SharingViolation);
    EXPECT_EQ(files::remove(DataFile).error(), Error::SharingViolation);
    EXPECT_EQ(hostContent(DataFile), "data");
    EXPECT_TRUE(files::open(DataFile, Access::None, Share::None, Create::OpenExisting).ok());

    ASSERT_TRUE(holder.release());
    EXPECT_TRUE(files::open(DataFile, Access::ReadWrite, Share::None, Create::OpenExisting).ok());
}

TEST_F(FilesAcrossProcesses, ShareModesHoldBetweenProcesses)
{
    writeFile(DataFile, "data");
    struct Row {
        const char* heldAccess;
        const char* heldShare;
        Access access;
        Share share;
    };
    const Row rows[] = {
        { "r", "r", Access::Read, Share::Read },
        { "r", "r", Access::Write, Share::ReadWrite },
        { "r", "rw", Access::ReadWrite, Share::Read },
        { "w", "rw", Access::Read, Share::None },
        { "w", "rw", Access::Read, Share::Write },
        { "rw", "rw", Access::ReadWrite, Share::ReadWrite },
    };
    const std::map<std::string, std::pair<Access, Share>> names { { "r", { Access::Read, Share::Read } },
        { "w", { Access::Write, Share::Write } }, { "rw", { Access::ReadWrite, Share::ReadWrite } } };
    for (const auto& row : rows) {
        const Access heldAccess = names.at(row.heldAccess).first;
        const Share heldShare = names.at(row.heldShare).second;
        const std::string label = "held " + name(heldAccess) + "/share " + name(heldShare)
            + " in another process, then " + name(row.access) + "/share " + name(row.share);
        Holder holder(machine().root(), DataFile, row.heldAccess, row.heldShare);
        ASSERT_EQ(holder.result(), 0) << label;
        const bool expected = compatible(heldAccess, heldShare, row.access, row.share);
        EXPECT_EQ(files::open(DataFile, row.access, row.share, Create::OpenExisting).error(),
            expected ? Error::Success : Error::SharingViolation)
            << label;
        EXPECT_TRUE(holder.release()) << label;
    }
}

TEST_F(FilesAcrossProcesses, AnotherProcessMeetsThisProcessesOpen)
{
    writeFile(DataFile, "data");
    auto held = files::open(DataFile, Access::Read, Share::Read, Create::OpenExisting);
    ASSERT_TRUE(held.ok());
    Holder writer(machine().root(), u"C:\\PROGRAM FILES\\TAVIO MENU\\MENUDATA.TXT", "w", "all", Create::Always);
    EXPECT_EQ(writer.result(), int(Error::SharingViolation));
    EXPECT_EQ(hostContent(DataFile), "data");
    Holder reader(machine().root(), DataFile, "r", "r");
    EXPECT_EQ(reader.result(), 0);
    EXPECT_TRUE(reader.release());
}

TEST_F(FilesAcrossProcesses, AKilledHolderGivesItsReservationBack)
{
    writeFile(DataFile, "data");
    Holder holder(machine().root(), DataFile, "rw", "none");
    ASSERT_EQ(holder.result(), 0);
    ASSERT_EQ(files::open(DataFile, Access::Read, Share::All, Create::OpenExisting).error(), Error::SharingViolation);
    holder.kill();
    auto next = files::open(DataFile, Access::ReadWrite, Share::None, Create::OpenExisting);
    EXPECT_TRUE(next.ok()) << describe(next.error());
}

} // namespace
