#pragma once

// The layout of the generated table, shared by the generated source and the
// lookup. Both arrays are sorted so that a lookup can search them by halves.

#include <cstdint>
#include <span>
#include <string_view>

namespace strings::detail {

struct Entry {
    uint32_t id;
    std::u16string_view text;
};

struct LanguageTable {
    uint16_t languageId;
    std::span<const Entry> entries; // ascending by id
};

std::span<const LanguageTable> languageTables(); // ascending by language id
std::span<const uint16_t> languageIds();
std::span<const uint32_t> stringIds();

} // namespace strings::detail
