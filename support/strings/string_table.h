#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace strings {

// The localized string table: every text the user sees, by string id, in each
// language the library holds. The table is compiled into the library.

// Callers pass buffers of this many UTF-16 units, the terminator included.
inline constexpr size_t bufferUnits = 260;

// English (United States): the table used for a language that is not held.
inline constexpr uint16_t fallbackLanguage = 1033;

// The text of an id in exactly that language; nothing when the language or
// the id is not held.
std::optional<std::u16string_view> find(uint32_t id, uint16_t languageId);

// The language whose table a lookup for languageId uses: languageId itself
// when it is held, otherwise English.
uint16_t resolveLanguage(uint16_t languageId);

// Copies the text of an id, from the table that resolveLanguage picks, into
// the buffer with its terminator, cut to bufferUnits - 1 units. Returns the
// number of units copied without the terminator; an id that is not held
// returns 0 and leaves an empty text.
uint32_t copyString(uint32_t id, uint16_t languageId, std::span<char16_t, bufferUnits> buffer);

// The same for a caller that hands over a bare pointer to bufferUnits units.
uint32_t copyString(uint32_t id, uint16_t languageId, char16_t* buffer);

// The language ids held, in ascending order.
std::span<const uint16_t> languages();

// The string ids held, in ascending order; every language holds all of them.
std::span<const uint32_t> ids();

} // namespace strings
