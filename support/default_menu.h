#pragma once

// The default menu: 23 built-in entries, ten of them shown.

#include "support/tavio_support.h"

#include <cstdint>
#include <memory>

namespace support {

inline constexpr uint32_t DefaultEntryCount = 23;

// The default block: labels in the calling thread's language, the paths of
// the entries that start something built from WindowsDir and AppPath as
// they stand. Units after a text's terminator and the slots after the 23rd
// entry are zero.
std::unique_ptr<TavioMenuData> defaultMenu();

// Writes the default menu to the data file (WriteTavioMenuData), replacing
// whatever it held. 1 when written, 0 when the write failed.
int32_t InitTavioMenuData();

} // namespace support
