#include "support/menu_data.h"

#include "common/names.h"
#include "common/settings.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/library_state.h"
#include "support/log.h"

#include <algorithm>
#include <string>

// The data file MenuData.txt, layout 1 (the only one; the file carries no
// version or magic, so its layout can never change):
//
//   offset 0               4 bytes   DataSize (NumEntries * 1052, at most 42080)
//   offset 4               4 bytes   NumEntries (at most 40)
//   offset 8               4 bytes   LastTabIDUsed
//   offset 12              DataSize  the first NumEntries TabInfo entries, as in the block
//   offset 12 + DataSize   4 bytes   CheckSum: wrapping byte sum of the bytes before it
//
// All integers little-endian. MenuData.bak beside it is a plain copy made
// after every good write.

namespace support {

namespace files = platform::files;
using platform::Error;
using platform::Result;
using platform::Status;

namespace {

std::byte* bytesOf(void* field)
{
    return static_cast<std::byte*>(field);
}
const std::byte* bytesOf(const void* field)
{
    return static_cast<const std::byte*>(field);
}

std::u16string_view dataPath()
{
    return platform::text::view(DataPath);
}

std::u16string backupPath()
{
    return siblingPath(dataPath(), common::BackupFileName);
}

// Reads until `size` bytes are in or the file ends; the count read. A short
// count at the end of the file is not a read error.
Result<size_t> readUpTo(files::File& file, std::byte* destination, size_t size)
{
    size_t done = 0;
    while (done < size) {
        auto got = file.read({ destination + done, size - done });
        if (!got)
            return got.error();
        if (*got == 0)
            break;
        done += *got;
    }
    return done;
}

Status writeAll(files::File& file, const std::byte* source, size_t size)
{
    size_t done = 0;
    while (done < size) {
        auto put = file.write({ source + done, size - done });
        if (!put)
            return put.error();
        if (*put == 0)
            return Error::WriteFault;
        done += *put;
    }
    return {};
}

} // namespace

uint32_t checksumOf(const TavioMenuData& data)
{
    uint32_t covered = MenuHeaderSize + std::min(data.DataSize, MaxDataSize);
    const std::byte* bytes = bytesOf(&data);
    uint32_t sum = 0;
    for (uint32_t i = 0; i < covered; ++i)
        sum += static_cast<uint8_t>(bytes[i]);
    return sum;
}

bool headerFits(const TavioMenuData& data)
{
    return data.NumEntries <= MaxMenuEntries && data.DataSize <= MaxDataSize
        && data.DataSize == data.NumEntries * TabInfoSize;
}

bool ValidateTavioData(const TavioMenuData* data)
{
    logTrace(u"Enter ValidateTavioData\n");
    bool valid = data && headerFits(*data) && checksumOf(*data) == data->CheckSum;
    logTrace(u"Exit ValidateTavioData\n");
    return valid;
}

uint32_t ReadTavioMenuData(TavioMenuData* data)
{
    logTrace(u"\n\nTAVIOSUPPORT: Enter ReadTavioMenuData.\n");
    if (!data)
        return platform::toCode(Error::InvalidParameter);
    common::GetDataFilePath(DataPath);

    auto opened = files::open(dataPath(), files::Access::Read, files::Share::None, files::Create::OpenExisting);
    // The platform's handle values have no meaning here; the trace shows the
    // invalid handle value for a failed open.
    logTrace(u"TAVIOSUPPORT: ReadTavioMenuData: CreateFile returns = %x\n", opened.ok() ? 1u : 0xFFFFFFFFu);
    if (!opened) {
        uint32_t code = opened.code();
        logError(u"TAVIOSUPPORT: ERROR: ReadTavioMenuData: Cannot open data file to read.  Return code = 0x%x\n", code);
        return code == toCode(Error::FileNotFound) || code == toCode(Error::AlreadyExists) ? ReadFileMissing
                                                                                           : ReadCannotOpen;
    }
    files::File file = std::move(opened).value();

    struct Step {
        std::byte* destination;
        const char16_t* failure;
    };
    const Step header[] = {
        { bytesOf(&data->DataSize),
            u"TAVIOSUPPORT: ERROR: ReadTavioMenuData: Fail to read Data size.  ErrorCode = %d\n" },
        { bytesOf(&data->NumEntries),
            u"TAVIOSUPPORT: ERROR: ReadTavioMenuData: Fail to read Number entries.  ErrorCode = %d\n" },
        { bytesOf(&data->LastTabIDUsed),
            u"TAVIOSUPPORT: ERROR: ReadTavioMenuData: Fail to read last Tab ID used.  Error Code = %d\n" },
    };
    // NOTE: a file that ends before its DataSize and checksum does is damaged
    // even when the checksum happens to match: the bytes not read keep what
    // the caller's block held before, which may be the very menu the file
    // lost, and an empty file would read as a valid empty menu.
    bool complete = true;
    for (const Step& step : header) {
        auto read = readUpTo(file, step.destination, sizeof(uint32_t));
        if (!read) {
            logError(step.failure, read.code());
            return ReadDamaged;
        }
        complete = complete && *read == sizeof(uint32_t);
    }

    // NOTE: the header is checked before the entries are read: a DataSize
    // beyond the entry area would otherwise be read over the rest of the
    // caller's memory, and one that disagrees with NumEntries describes no
    // menu the library writes.
    if (!complete || !headerFits(*data)) {
        logError(u"TAVIOSUPPORT: ERROR: ReadTavioMenuData: Failed Validate Tavio Menu Data\n");
        return ReadDamaged;
    }

    auto entries = readUpTo(file, bytesOf(data->TabInfo), data->DataSize);
    if (!entries) {
        logError(u"TAVIOSUPPORT: ERROR: ReadTavioMenuData: Fail to read Data Info.  ErrorCode = %d\n", entries.code());
        return ReadDamaged;
    }
    auto checkSum = readUpTo(file, bytesOf(&data->CheckSum), sizeof(uint32_t));
    if (!checkSum) {
        logError(u"TAVIOSUPPORT: ERROR: ReadTavioMenuData: Fail to read Checksum.  ErrorCode = %d\n", checkSum.code());
        return ReadDamaged;
    }
    complete = *entries == data->DataSize && *checkSum == sizeof(uint32_t);
    file.close();

    if (!ValidateTavioData(data) || !complete) {
        logError(u"TAVIOSUPPORT: ERROR: ReadTavioMenuData: Failed Validate Tavio Menu Data\n");
        return ReadDamaged;
    }
    logTrace(u"TAVIOSUPPORT: Exit ReadTavioMenuData.  Read Successfully\n\n");
    return ReadSucceeded;
}

uint32_t WriteTavioMenuData(TavioMenuData data)
{
    logTrace(u"Enter WriteTavioMenuData.  Data Path = %s\n", DataPath.data());

    uint32_t result = 0;
    // A block whose header cannot be read back would replace a good file
    // with one that every later read rejects; it is refused before the file
    // is touched.
    if (!headerFits(data)) {
        logError(u"TAVIOSUPPORT: WriteTavioMenuData: Invalid data size.  Data size = %u, entries = %u\n", data.DataSize,
            data.NumEntries);
    } else {
        data.CheckSum = checksumOf(data);
        common::GetDataFilePath(DataPath);

        auto opened = files::open(dataPath(), files::Access::ReadWrite, files::Share::None, files::Create::OpenAlways);
        if (!opened) {
            logError(u"TAVIOSUPPORT: WriteTavioMenuData: Failed to open file.  Error Code = 0x%x\n", opened.code());
        } else {
            files::File file = std::move(opened).value();
            // The old content goes first, so that a shorter menu leaves no
            // stale bytes behind its checksum.
            (void)file.seek(0, files::SeekFrom::Begin);
            (void)file.setEndOfFile();
            (void)file.seek(0, files::SeekFrom::Begin);
            // NOTE: the exclusive open already shuts other processes out; the
            // lock also keeps out any open that does not honour share modes.
            const uint64_t lockedLength = MenuHeaderSize + data.DataSize;
            bool locked = file.lock(0, lockedLength).ok();

            struct Step {
                const std::byte* source;
                size_t size;
                const char16_t* failure;
            };
            const Step steps[] = {
                { bytesOf(&data.DataSize), sizeof(uint32_t),
                    u"TAVIOSUPPORT: WriteTavioMenuData: Failed to write datasize.  Error Code = 0x%x\n" },
                { bytesOf(&data.NumEntries), sizeof(uint32_t),
                    u"TAVIOSUPPORT: WriteTavioMenuData: Failed to write NumEntries.  Error Code = 0x%x\n" },
                { bytesOf(&data.LastTabIDUsed), sizeof(uint32_t),
                    u"TAVIOSUPPORT: WriteTavioMenuData: Failed to write Last TabID Used.  Error Code = 0x%x\n" },
                { bytesOf(data.TabInfo), data.DataSize,
                    u"TAVIOSUPPORT: WriteTavioMenuData: Failed to write TabInfo.  Error Code = 0x%x\n" },
                { bytesOf(&data.CheckSum), sizeof(uint32_t),
                    u"TAVIOSUPPORT: WriteTavioMenuData: Failed to write CheckSum.  Error Code = 0x%x\n" },
            };
            result = 1;
            for (const Step& step : steps) {
                if (auto written = writeAll(file, step.source, step.size); !written) {
                    logError(step.failure, written.code());
                    result = 0;
                    break;
                }
            }
            // Cut at the point reached, so that a failed write leaves no old
            // bytes after it.
            (void)file.setEndOfFile();
            if (locked)
                (void)file.unlock(0, lockedLength);
            file.close();
        }
    }

    if (result == 1)
        BackupDataFile();
    else
        logTrace(u"TavioSupport:  Write Failed.  Did not back up file\n");
    logTrace(u"Exit WriteTavioMenuData\n");
    return result;
}

int32_t BackupDataFile()
{
    std::u16string backup = backupPath();
    std::u16string source(dataPath());
    logTrace(u"Enter BackupDataFile.\n");
    logTrace(u"CopyDataBackupFile: Source File is : %s\n", source.c_str());
    logTrace(u"CopyDataBackupFile: Destination file is : %s\n", backup.c_str());
    auto copied = files::copy(source, backup, files::Overwrite::Yes);
    if (!copied)
        logError(u"BackupDataFile: Failed to backup file.  Error Code = 0x%x\n", copied.code());
    else
        logTrace(u"BackupDataFile:  Backup file successfully.\n");
    logTrace(u"Exit BackupDataFile.\n");
    return copied.ok() ? 1 : 0;
}

int32_t CopyDataBackupFile()
{
    std::u16string backup = backupPath();
    std::u16string destination(dataPath());
    logTrace(u"Enter CopyDataBackupFile.\n");
    logTrace(u"CopyDataBackupFile: Source File is : %s\n", backup.c_str());
    logTrace(u"CopyDataBackupFile: Destination file is : %s\n", destination.c_str());
    auto copied = files::copy(backup, destination, files::Overwrite::Yes);
    if (!copied)
        logError(u"CopyDataBackupFile: Failed to copy backup file.  Error Code = 0x%x\n", copied.code());
    else
        logTrace(u"CopyDataBackupFile:  Copy backup file successfully.\n");
    logTrace(u"Exit CopyDataBackupFile.\n");
    return copied.ok() ? 1 : 0;
}

} // namespace support
