#include "support/menu_data.h"

#include "common/settings.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "tests/support/support_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using namespace supporttest;
namespace files = platform::files;

class MenuDataTest : public SupportTest {
protected:
    // The log so far; the tests start with an empty one.
    std::string log() { return bytesOf(logFile()); }

    static void setParameters(uint32_t value)
    {
        auto key = platform::registry::createKey(platform::registry::Root::LocalMachine, common::SettingsKey);
        ASSERT_TRUE(key.ok());
        ASSERT_TRUE(platform::registry::setDword(key->key, common::ValueParameters, value).ok());
    }
};

TEST_F(MenuDataTest, EmptyMenuIsTheSixteenBytesOfItsHeaderAndChecksum)
{
    auto data = emptyBlock();
    data->LastTabIDUsed = 300;
    ASSERT_EQ(support::WriteTavioMenuData(*data), 1u);

    const std::string expected("\x00\x00\x00\x00"
                               "\x00\x00\x00\x00"
                               "\x2C\x01\x00\x00"
                               "\x2D\x00\x00\x00",
        16);
    EXPECT_EQ(bytesOf(dataFile()), expected);

    auto read = emptyBlock();
    EXPECT_EQ(support::ReadTavioMenuData(read.get()), support::ReadSucceeded);
    EXPECT_EQ(read->LastTabIDUsed, 300u);
    EXPECT_EQ(read->CheckSum, 45u);
}

TEST_F(MenuDataTest, FileHoldsExactlyTheEntriesInUseAndReadsBackByteForByte)
{
    struct Case {
        uint32_t entries;
        uintmax_t fileSize;
    };
    const Case cases[] = { { 0, 16 }, { 1, 1068 }, { 23, 24212 }, { 40, 42096 } };
    for (const Case& row : cases) {
        SCOPED_TRACE(testing::Message() << row.entries << " entries");
        auto written = menuWith(row.entries);
        ASSERT_EQ(support::WriteTavioMenuData(*written), 1u);
        EXPECT_EQ(std::filesystem::file_size(dataFile()), row.fileSize);
        EXPECT_EQ(bytesOf(dataFile()), fileImageOf(*written, support::checksumOf(*written)));

        // Bytes of the caller's block beyond the entries in use are left as
        // they were.
        auto read = emptyBlock();
        std::memset(read.get(), 0xAB, sizeof(TavioMenuData));
        ASSERT_EQ(support::ReadTavioMenuData(read.get()), support::ReadSucceeded);
        EXPECT_EQ(std::memcmp(read.get(), written.get(), MenuHeaderSize + written->DataSize), 0);
        EXPECT_EQ(read->CheckSum, support::checksumOf(*written));
        const auto* rest = reinterpret_cast<const unsigned char*>(read->TabInfo) + written->DataSize;
        const auto* end = reinterpret_cast<const unsigned char*>(&read->CheckSum);
        EXPECT_TRUE(std::all_of(rest, end, [](unsigned char byte) { return byte == 0xAB; }));
    }
}

TEST_F(MenuDataTest, ChecksumIsTheWrappingByteSumOfHeaderAndEntriesInUse)
{
    auto data = emptyBlock();
    std::memset(data.get(), 0xFF, sizeof(TavioMenuData));
    data->NumEntries = 40;
    data->DataSize = MaxDataSize;
    data->LastTabIDUsed = 0xFFFFFFFF;
    // 42092 bytes: DataSize 42080 is 60 A4 00 00, NumEntries 28 00 00 00, and
    // every other byte is 0xFF.
    uint32_t expected = 0x60 + 0xA4 + 0x28 + (42092 - 8) * 0xFFu;
    EXPECT_EQ(support::checksumOf(*data), expected);
}

TEST_F(MenuDataTest, ShorterMenuOverALongerFileLeavesNoStaleBytes)
{
    ASSERT_EQ(support::WriteTavioMenuData(*menuWith(40)), 1u);
    auto shorter = menuWith(2);
    ASSERT_EQ(support::WriteTavioMenuData(*shorter), 1u);
    EXPECT_EQ(bytesOf(dataFile()), fileImageOf(*shorter, support::checksumOf(*shorter)));
    auto read = emptyBlock();
    EXPECT_EQ(support::ReadTavioMenuData(read.get()), support::ReadSucceeded);
    EXPECT_EQ(read->NumEntries, 2u);
}

TEST_F(MenuDataTest, WriteLeavesTheCallersBlockAsItWas)
{
    auto data = menuWith(3);
    data->CheckSum = 0xDEADBEEF;
    auto before = std::make_unique<TavioMenuData>(*data);
    ASSERT_EQ(support::WriteTavioMenuData(*data), 1u);
    EXPECT_EQ(data->CheckSum, 0xDEADBEEFu);
    EXPECT_EQ(std::memcmp(data.get(), before.get(), sizeof(TavioMenuData)), 0);
}

TEST_F(MenuDataTest, BackupFollowsEveryGoodWriteAndRestoresTheDataFile)
{
    ASSERT_EQ(support::WriteTavioMenuData(*menuWith(23)), 1u);
    EXPECT_EQ(bytesOf(backupFile()), bytesOf(dataFile()));
    auto second = menuWith(5);
    ASSERT_EQ(support::WriteTavioMenuData(*second), 1u);
    const std::string good = bytesOf(dataFile());
    EXPECT_EQ(bytesOf(backupFile()), good);

    writeBytes(dataFile(), "damaged");
    auto read = emptyBlock();
    EXPECT_EQ(support::ReadTavioMenuData(read.get()), support::ReadDamaged);
    EXPECT_NE(support::CopyDataBackupFile(), 0);
    EXPECT_EQ(bytesOf(dataFile()), good);
    EXPECT_EQ(support::ReadTavioMenuData(read.get()), support::ReadSucceeded);
    EXPECT_EQ(read->NumEntries, 5u);

    // A missing data file is restored as well.
    std::filesystem::remove(dataFile());
    EXPECT_EQ(support::ReadTavioMenuData(read.get()), support::ReadFileMissing);
    EXPECT_NE(support::CopyDataBackupFile(), 0);
    EXPECT_EQ(bytesOf(dataFile()), good);
}

TEST_F(MenuDataTest, RestoreWithoutABackupFailsAndLeavesTheDataFile)
{
    writeBytes(dataFile(), "kept");
    auto read = emptyBlock();
    EXPECT_EQ(support::ReadTavioMenuData(read.get()), support::ReadDamaged);
    const std::string before = log();
    EXPECT_EQ(support::CopyDataBackupFile(), 0);
    EXPECT_EQ(bytesOf(dataFile()), "kept");
    EXPECT_EQ(log().substr(before.size()),
        std::string(FixedStamp) + "CopyDataBackupFile: Failed to copy backup file.  Error Code = 0x2\r\n");
}

TEST_F(MenuDataTest, DamagedFilesReadAsNineWithoutReadingPastTheBlock)
{
    auto valid = menuWith(23);
    const std::string image = fileImageOf(*valid, support::checksumOf(*valid));

    // A header with the checksum it claims, so that only the header is wrong.
    auto withHeader = [](uint32_t dataSize, uint32_t numEntries, std::string entries) {
        std::string bytes(12, '\0');
        const uint32_t header[3] = { dataSize, numEntries, 300 };
        std::memcpy(bytes.data(), header, sizeof(header));
        bytes += entries;
        uint32_t sum = 0;
        for (unsigned char byte : bytes)
            sum += byte;
        bytes.append(reinterpret_cast<const char*>(&sum), 4);
        return bytes;
    };

    struct Case {
        const char* name;
        std::string bytes;
    };
    std::string flipped = image;
    flipped[12 + 3 * TabInfoSize + 40] ^= 0x01;
    std::string badSum = image;
    badSum[badSum.size() - 1] ^= 0x10;
    const Case cases[] = {
        { "cut inside the entries", image.substr(0, 12 + 5 * TabInfoSize + 100) },
        { "cut before the checksum", image.substr(0, image.size() - 4) },
        { "cut inside the header", image.substr(0, 6) },
        { "empty file", "" },
        { "one entry byte changed", flipped },
        { "checksum changed", badSum },
        { "DataSize far beyond the block", withHeader(0xFFFFFFF0u, 40, std::string(MaxDataSize, 'a')) },
        { "DataSize one entry beyond the block",
            withHeader(MaxDataSize + TabInfoSize, 41, std::string(MaxDataSize + TabInfoSize, 'b')) },
        { "more than 40 entries", withHeader(41 * TabInfoSize, 41, std::string(41 * TabInfoSize, 'c')) },
        { "DataSize disagrees with NumEntries", withHeader(TabInfoSize, 2, std::string(TabInfoSize, 'd')) },
        { "DataSize not a whole entry", withHeader(100, 0, std::string(100, 'e')) },
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        writeBytes(dataFile(), row.bytes);
        const std::string logBefore = log();
        auto read = emptyBlock();
        EXPECT_EQ(support::ReadTavioMenuData(read.get()), support::ReadDamaged);
        // Damage is found by validation, never reported as a failed read.
        EXPECT_EQ(log().substr(logBefore.size()),
            std::string(FixedStamp) + "TAVIOSUPPORT: ERROR: ReadTavioMenuData: Failed Validate Tavio Menu Data\r\n");
    }
}

TEST_F(MenuDataTest, FileCutShortIsDamagedEvenWhenTheBlockAlreadyHoldsItsBytes)
{
    // The programs read again into the block they hold: the bytes a short
    // file no longer has are still there and would make the sum match.
    auto data = menuWith(23);
    ASSERT_EQ(support::WriteTavioMenuData(*data), 1u);
    auto held = emptyBlock();
    ASSERT_EQ(support::ReadTavioMenuData(held.get()), support::ReadSucceeded);
    std::filesystem::resize_file(dataFile(), 12 + 10 * TabInfoSize);
    EXPECT_EQ(support::ReadTavioMenuData(held.get()), support::ReadDamaged);
}

TEST_F(MenuDataTest, BlockWithAnImpossibleHeaderIsNeverWritten)
{
    ASSERT_EQ(support::WriteTavioMenuData(*menuWith(3)), 1u);
    const std::string data = bytesOf(dataFile());
    const std::string backup = bytesOf(backupFile());

    struct Case {
        const char* name;
        uint32_t dataSize;
        uint32_t numEntries;
    };
    const Case cases[] = {
        { "DataSize beyond the block", 0xFFFFFFF0u, 40 },
        { "41 entries", 41 * TabInfoSize, 41 },
        { "DataSize disagrees with NumEntries", TabInfoSize, 3 },
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        auto bad = menuWith(3);
        bad->DataSize = row.dataSize;
        bad->NumEntries = row.numEntries;
        EXPECT_EQ(support::WriteTavioMenuData(*bad), 0u);
        EXPECT_EQ(bytesOf(dataFile()), data);
        EXPECT_EQ(bytesOf(backupFile()), backup);
    }
}

TEST_F(MenuDataTest, OpenFailuresGiveTheirCodesAndOneLogLineEach)
{
    auto read = emptyBlock();
    EXPECT_EQ(support::ReadTavioMenuData(read.get()), support::ReadFileMissing);
    EXPECT_EQ(log(),
        std::string(FixedStamp)
            + "TAVIOSUPPORT: ERROR: ReadTavioMenuData: Cannot open data file to read.  Return code = 0x2\r\n");

    // The application folder is gone: the path cannot be found (3), which is
    // not a missing file.
    std::filesystem::remove_all(dataFile().parent_path());
    EXPECT_EQ(support::ReadTavioMenuData(read.get()), support::ReadCannotOpen);
    EXPECT_EQ(support::WriteTavioMenuData(*menuWith(1)), 0u);

    EXPECT_EQ(support::ReadTavioMenuData(nullptr), 87u);
}

TEST_F(MenuDataTest, SuccessfulReadWriteAndRestoreLogNothing)
{
    ASSERT_EQ(support::WriteTavioMenuData(*menuWith(23)), 1u);
    auto read = emptyBlock();
    ASSERT_EQ(support::ReadTavioMenuData(read.get()), support::ReadSucceeded);
    ASSERT_NE(support::CopyDataBackupFile(), 0);
    EXPECT_EQ(log(), "");
}

TEST_F(MenuDataTest, DataFollowsParametersAtTheNextReadOrWrite)
{
    ASSERT_EQ(support::WriteTavioMenuData(*menuWith(1)), 1u);

    setParameters(common::PARAM_ALL_USERS);
    ASSERT_EQ(support::WriteTavioMenuData(*menuWith(2)), 1u);
    auto appData = platform::paths::knownFolder(platform::paths::KnownFolder::AppData);
    ASSERT_TRUE(appData.ok());
    const auto perUser = machine().host(*appData + u"\\Tavio Menu");
    EXPECT_EQ(std::filesystem::file_size(perUser / "MenuData.txt"), 16u + 2 * TabInfoSize);
    EXPECT_EQ(std::filesystem::file_size(perUser / "MenuData.bak"), 16u + 2 * TabInfoSize);
    EXPECT_EQ(std::filesystem::file_size(dataFile()), 16u + TabInfoSize);

    // Locked overrides all users: the first path computation clears the bit
    // and the shared file is used again.
    setParameters(3);
    auto read = emptyBlock();
    ASSERT_EQ(support::ReadTavioMenuData(read.get()), support::ReadSucceeded);
    EXPECT_EQ(read->NumEntries, 1u);
    EXPECT_EQ(common::ReadParameters(), common::PARAM_LOCKED);
}

// Another process holds the data file open, sharing nothing.
class HeldDataFileTest : public MenuDataTest {
protected:
    void hold()
    {
        m_output = machine().root() / "holder.out";
        m_holder = testkit::spawn(
            testkit::helperProgram("support_holder"), { "C:\\Program Files\\Tavio Menu\\MenuData.txt" }, m_output);
        // The helper writes "ready" once it holds the file.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::string said;
        while (said.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            said = testkit::readFile(m_output);
        }
        ASSERT_EQ(said, "ready\n");
    }

    testkit::Child m_holder;
    std::filesystem::path m_output;
};

TEST_F(HeldDataFileTest, ReadIsRefusedAsCannotOpenAndWriteFailsWithoutTouchingTheFile)
{
    auto data = menuWith(4);
    ASSERT_EQ(support::WriteTavioMenuData(*data), 1u);
    const std::string before = bytesOf(dataFile());
    ASSERT_NO_FATAL_FAILURE(hold());

    auto read = emptyBlock();
    EXPECT_EQ(support::ReadTavioMenuData(read.get()), support::ReadCannotOpen);
    EXPECT_EQ(support::WriteTavioMenuData(*menuWith(1)), 0u);
    EXPECT_EQ(bytesOf(dataFile()), before);
    EXPECT_EQ(log(),
        std::string(FixedStamp)
            + "TAVIOSUPPORT: ERROR: ReadTavioMenuData: Cannot open data file to read.  Return code = 0x20\r\n"
            + FixedStamp + "TAVIOSUPPORT: WriteTavioMenuData: Failed to open file.  Error Code = 0x20\r\n");

    m_holder.kill();
    EXPECT_EQ(support::ReadTavioMenuData(read.get()), support::ReadSucceeded);
    EXPECT_EQ(read->NumEntries, 4u);
}

} // namespace
