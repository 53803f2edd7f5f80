#pragma once

// Client side of the machine's object manager (tavio-machined): the process
// that holds every named kernel object, share reservation and byte-range lock
// of the machine, so that two programs see the same objects and a process
// that dies gives its handles back. Only platform/ includes this header.

#include "platform/result.h"

#include <cstdint>
#include <string>

namespace platform::objects {

// Share reservations for exclusive and shared opens. `identity` names the
// host file (device and inode), so that every path spelling meets the same
// reservation. access and share use the platform's GENERIC_ and FILE_SHARE_
// bits. 32 when an open of the same file conflicts.
Result<uint64_t> reserveShare(const std::string& identity, uint32_t access, uint32_t share);
void releaseShare(uint64_t token);
// 32 when a reservation on the file does not share Delete.
Status checkDelete(const std::string& identity);

// Byte-range locks held under a share reservation: 33 when another
// reservation of the same file holds an overlapping range.
Status lockRange(uint64_t token, uint64_t offset, uint64_t length);
Status unlockRange(uint64_t token, uint64_t offset, uint64_t length);

} // namespace platform::objects
