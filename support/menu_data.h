#pragma once

// Reading and writing the menu data file MenuData.txt and its backup
// MenuData.bak in the data folder. The block and file layout are described
// in support/tavio_support.h.

#include "support/tavio_support.h"

#include <cstdint>

namespace support {

// Results of ReadTavioMenuData.
inline constexpr uint32_t ReadSucceeded = 0;
inline constexpr uint32_t ReadCannotOpen = 1;
inline constexpr uint32_t ReadFileMissing = 8;
inline constexpr uint32_t ReadDamaged = 9;

// The wrapping byte sum of the first DataSize + 12 bytes of the block. A
// DataSize beyond the entry area counts only up to the area's end.
uint32_t checksumOf(const TavioMenuData& data);

// Whether the header can describe this block: at most 40 entries, DataSize
// equal to NumEntries entries.
bool headerFits(const TavioMenuData& data);

// True when the header fits and the stored checksum matches.
bool ValidateTavioData(const TavioMenuData* data);

// Fills the caller's block in place: the header, the DataSize bytes of
// entries and CheckSum; other bytes keep their content. Returns 0, 1, 8 or 9
// (above); 87 for a null block. A header that does not fit the block and a
// file that ends before its checksum are damaged (9).
uint32_t ReadTavioMenuData(TavioMenuData* data);

// Writes the block with its checksum computed into the function's own copy,
// then refreshes the backup. 1 written, 0 failed (the file is then cut where
// writing stopped and the backup is left alone).
uint32_t WriteTavioMenuData(TavioMenuData data);

// Copies MenuData.txt to MenuData.bak beside it; 1 copied, 0 not.
int32_t BackupDataFile();

// Copies MenuData.bak over MenuData.txt; 1 copied, 0 not.
int32_t CopyDataBackupFile();

} // namespace support
