#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace platform::text {

// The platform's text is UTF-16; the host's is UTF-8. These convert at the
// boundary. Invalid sequences become U+FFFD instead of failing.
std::string toUtf8(std::u16string_view text);
std::u16string toUtf16(std::string_view text);

// Case folding as the platform's file system and registry compare names:
// ASCII and Latin-1 letters fold to upper case; everything else compares as is.
char16_t foldCase(char16_t unit);
std::u16string foldCase(std::u16string_view text);
bool equalsIgnoreCase(std::u16string_view left, std::u16string_view right);
bool equalsIgnoreCase(std::string_view leftUtf8, std::string_view rightUtf8);

// Length of a zero-terminated UTF-16 string within a fixed buffer; the whole
// buffer size when no terminator is found (never reads past the buffer).
size_t boundedLength(const char16_t* buffer, size_t capacity);
inline std::u16string_view view(std::span<const char16_t> buffer)
{
    return { buffer.data(), boundedLength(buffer.data(), buffer.size()) };
}

// Copies text into a fixed buffer with a terminator. Returns false, and
// writes an empty string, when the text and terminator do not fit.
bool copyTo(std::span<char16_t> buffer, std::u16string_view text);

// Length of a zero-terminated UTF-16 string (like wcslen for 16-bit units).
size_t length(const char16_t* text);

} // namespace platform::text
