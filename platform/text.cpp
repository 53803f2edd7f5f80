#include "platform/text.h"

#include <algorithm>

namespace platform::text {

std::string toUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::u16string toUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        uint32_t cp = 0xFFFD;
        size_t extra = 0;
        if (byte < 0x80) {
            cp = byte;
        } else if ((byte & 0xE0) == 0xC0) {
            cp = byte & 0x1F;
            extra = 1;
        } else if ((byte & 0xF0) == 0xE0) {
            cp = byte & 0x0F;
            extra = 2;
        } else if ((byte & 0xF8) == 0xF0) {
            cp = byte & 0x07;
            extra = 3;
        } else {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        bool valid = true;
        for (size_t k = 1; k <= extra; ++k) {
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        if (!valid) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        i += extra + 1;
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out += u'\uFFFD';
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

char16_t foldCase(char16_t unit)
{
    if (unit >= u'a' && unit <= u'z')
        return static_cast<char16_t>(unit - 0x20);
    // Latin-1 lower-case letters, except the division sign and y-diaeresis.
    if (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7)
        return static_cast<char16_t>(unit - 0x20);
    return unit;
}

std::u16string foldCase(std::u16string_view text)
{
    std::u16string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](char16_t unit) { return foldCase(unit); });
    return out;
}

bool equalsIgnoreCase(std::u16string_view left, std::u16string_view right)
{
    if (left.size() != right.size())
        return false;
    for (size_t i = 0; i < left.size(); ++i) {
        if (foldCase(left[i]) != foldCase(right[i]))
            return false;
    }
    return true;
}

bool equalsIgnoreCase(std::string_view leftUtf8, std::string_view rightUtf8)
{
    return equalsIgnoreCase(toUtf16(leftUtf8), toUtf16(rightUtf8));
}

size_t boundedLength(const char16_t* buffer, size_t capacity)
{
    if (!buffer)
        return 0;
    size_t n = 0;
    while (n < capacity && buffer[n] != 0)
        ++n;
    return n;
}

bool copyTo(std::span<char16_t> buffer, std::u16string_view text)
{
    if (buffer.empty())
        return false;
    if (text.size() + 1 > buffer.size()) {
        buffer[0] = 0;
        return false;
    }
    std::copy(text.begin(), text.end(), buffer.begin());
    buffer[text.size()] = 0;
    return true;
}

size_t length(const char16_t* text)
{
    if (!text)
        return 0;
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

} // namespace platform::text
