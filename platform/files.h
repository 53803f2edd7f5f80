#pragma once

#include "platform/result.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform::files {

// Access rights, as the platform's GENERIC_ bits. An open asking none (0)
// only tests that the file can be opened.
enum class Access : uint32_t {
    None = 0,
    Read = 0x80000000u,
    Write = 0x40000000u,
    ReadWrite = 0xC0000000u,
};
constexpr Access operator|(Access a, Access b)
{
    return Access(uint32_t(a) | uint32_t(b));
}
constexpr bool has(Access set, Access bit)
{
    return (uint32_t(set) & uint32_t(bit)) != 0;
}

// Share mode: what other opens of the same file may do while this one is open.
// Share::None makes the open exclusive across every process of the machine.
enum class Share : uint32_t {
    None = 0,
    Read = 1,
    Write = 2,
    Delete = 4,
    ReadWrite = 3,
    All = 7,
};
constexpr Share operator|(Share a, Share b)
{
    return Share(uint32_t(a) | uint32_t(b));
}
constexpr bool has(Share set, Share bit)
{
    return (uint32_t(set) & uint32_t(bit)) != 0;
}

// The platform's creation dispositions, with their numbers.
enum class Create : uint32_t {
    New = 1, // fails with 80 when the file exists
    Always = 2, // creates or truncates
    OpenExisting = 3, // fails with 2 when absent
    OpenAlways = 4, // opens or creates
    TruncateExisting = 5, // fails with 2 when absent
};

enum class SeekFrom {
    Begin,
    Current,
    End,
};

// An open file. Closing (or destroying) it ends its share reservation and
// releases its byte-range locks. Move-only.
class File {
public:
    File() = default;
    File(File&&) noexcept;
    File& operator=(File&&) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    bool isOpen() const { return m_fd >= 0; }
    // Created, or OpenedExisting (the platform's 183 beside a valid handle
    // for Create::Always and Create::OpenAlways).
    Disposition disposition() const { return m_disposition; }

    // Reads up to buffer.size() bytes; 0 at end of file is success.
    Result<size_t> read(std::span<std::byte> buffer);
    Result<size_t> write(std::span<const std::byte> data);
    // Writes at the end of the file whatever other handles wrote meanwhile,
    // as a file opened in append mode does: one append of a few kilobytes
    // from each of several processes stays whole. The position moves to the
    // new end.
    Result<size_t> append(std::span<const std::byte> data);
    Result<uint64_t> seek(int64_t offset, SeekFrom from);
    Result<uint64_t> size() const;
    // Cuts or extends the file at the current position.
    Status setEndOfFile();
    // Byte-range locks, not blocking: 33 when another handle holds an
    // overlapping range, 158 when unlocking a range that is not locked.
    Status lock(uint64_t offset, uint64_t length);
    Status unlock(uint64_t offset, uint64_t length);
    void close();

private:
    friend Result<File> open(std::u16string_view, Access, Share, Create);
    // Whether a byte range can be locked or unlocked through this handle.
    Status checkRange(uint64_t offset, uint64_t length) const;
    int m_fd { -1 };
    uint64_t m_shareToken { 0 };
    Access m_access { Access::None };
    Disposition m_disposition { Disposition::Created };
};

// Opens or creates a file on the machine. Errors: 2 file not found, 3 path not
// found, 5 access denied (a folder, or a read-only file opened for writing or
// truncating), 32 sharing violation (another open's access or share mode
// conflicts), 80 file exists (Create::New), 87 for unknown access, share or
// create values and for Create::TruncateExisting without Access::Write, and
// the path errors of paths::toHost. An existing file is truncated only once
// the open holds its share reservation, so a conflicting open loses nothing.
// An open asking Access::None takes no reservation: it neither conflicts nor
// can lock ranges (5).
Result<File> open(std::u16string_view windowsPath, Access access, Share share, Create create);

// Copies a file. With Overwrite::No an existing destination fails with 80.
// The source is opened for reading sharing reads, the destination for
// writing sharing nothing, so an exclusive open elsewhere gives 32.
enum class Overwrite { No, Yes };
Status copy(std::u16string_view source, std::u16string_view destination, Overwrite overwrite);

// Deletes a file: 2 when absent, 5 for a folder, 32 while any open of it does
// not share Delete.
Status remove(std::u16string_view windowsPath);

// Creates one folder: 183 when it exists already, 3 when its parent is missing.
Status createDirectory(std::u16string_view windowsPath);
// Removes an empty folder: 145 when not empty, 2/3 when absent, 5 for a file
// or the root.
Status removeDirectory(std::u16string_view windowsPath);

enum class Attribute : uint32_t {
    ReadOnly = 0x1,
    Directory = 0x10,
    Normal = 0x80,
};

struct FindData {
    std::u16string name; // as stored, with its own letter case
    uint32_t attributes { 0 };
    uint64_t size { 0 };
};

// Finds the directory entries matching a path whose last component may hold
// the wildcards * and ?, matched without regard to case ("*.*" matches every
// name, dotted or not). Entries come sorted by name, without "." and "..".
// 2 when nothing matches, 3 when the folder is missing.
Result<std::vector<FindData>> find(std::u16string_view pattern);

// Attributes of one file or folder; 2 or 3 when absent.
Result<uint32_t> attributes(std::u16string_view windowsPath);

// Brings a file of the host onto the machine's drive, as an installer copies
// from its medium: the destination is opened for writing sharing nothing (a
// program holding it open makes the import fail with 32), and programs keep
// the permissions they were built with so the installed copy is the one the
// machine runs. Returns the number of bytes written; 2 when the host file
// cannot be read.
Result<uint64_t> importHostFile(const std::filesystem::path& source, std::u16string_view destination);

} // namespace platform::files
