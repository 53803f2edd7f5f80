#include "tools/registry_data.h"

#include "tools/tool_common.h"

#include "platform/text.h"

#include <cinttypes>
#include <cstdio>
#include <span>

namespace tools {

using platform::registry::ValueType;

namespace {

struct TypeName {
    ValueType type;
    std::string_view name;
};

constexpr TypeName TypeNames[] = {
    { ValueType::None, "REG_NONE" },
    { ValueType::String, "REG_SZ" },
    { ValueType::ExpandString, "REG_EXPAND_SZ" },
    { ValueType::Binary, "REG_BINARY" },
    { ValueType::Dword, "REG_DWORD" },
    { ValueType::MultiString, "REG_MULTI_SZ" },
    { ValueType::Qword, "REG_QWORD" },
};

} // namespace

std::string typeName(ValueType type)
{
    for (const auto& entry : TypeNames) {
        if (entry.type == type)
            return std::string(entry.name);
    }
    return "REG_TYPE_" + std::to_string(static_cast<uint32_t>(type));
}

std::optional<ValueType> parseTypeName(std::string_view name)
{
    for (const auto& entry : TypeNames) {
        if (platform::text::equalsIgnoreCase(entry.name, name))
            return entry.type;
    }
    return std::nullopt;
}

namespace {

// Registry strings are UTF-16LE in the value's bytes; an odd last byte is
// ignored, as the platform's readers do.
std::u16string unitsOf(std::span<const std::byte> data)
{
    std::u16string units;
    for (size_t i = 0; i + 1 < data.size(); i += 2)
        units
            += static_cast<char16_t>(std::to_integer<unsigned>(data[i]) | std::to_integer<unsigned>(data[i + 1]) << 8);
    return units;
}

void appendUnits(std::vector<std::byte>& out, std::u16string_view units)
{
    for (char16_t unit : units) {
        out.push_back(static_cast<std::byte>(unit & 0xFF));
        out.push_back(static_cast<std::byte>(unit >> 8));
    }
}

std::string hexBytes(std::span<const std::byte> data)
{
    std::string text;
    char buffer[4];
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, "%02x", std::to_integer<unsigned>(data[i]));
        if (i > 0)
            text += ' ';
        text += buffer;
    }
    return text;
}

uint64_t littleEndian(std::span<const std::byte> data)
{
    uint64_t value = 0;
    for (size_t i = data.size(); i > 0; --i)
        value = value << 8 | std::to_integer<uint64_t>(data[i - 1]);
    return value;
}

} // namespace

std::string formatData(const platform::registry::Value& value)
{
    switch (value.type) {
    case ValueType::String:
    case ValueType::ExpandString: {
        std::u16string units = unitsOf(value.data);
        return platform::text::toUtf8(std::u16string_view(units.c_str()));
    }
    case ValueType::MultiString: {
        // Parts end with a terminator each and the list with one more; shown
        // joined by "\0", the form "reg add" takes.
        std::u16string units = unitsOf(value.data);
        std::string text;
        size_t start = 0;
        while (start < units.size() && units[start] != 0) {
            size_t end = units.find(u'\0', start);
            if (end == std::u16string::npos)
                end = units.size();
            if (start > 0)
                text += "\\0";
            text += platform::text::toUtf8(std::u16string_view(units).substr(start, end - start));
            start = end + 1;
        }
        return text;
    }
    case ValueType::Dword:
        if (value.data.size() == 4) {
            char buffer[32];
            auto number = static_cast<uint32_t>(littleEndian(value.data));
            std::snprintf(buffer, sizeof buffer, "0x%08" PRIx32 " (%" PRIu32 ")", number, number);
            return buffer;
        }
        break;
    case ValueType::Qword:
        if (value.data.size() == 8) {
            char buffer[48];
            uint64_t number = littleEndian(value.data);
            std::snprintf(buffer, sizeof buffer, "0x%016" PRIx64 " (%" PRIu64 ")", number, number);
            return buffer;
        }
        break;
    default:
        break;
    }
    return hexBytes(value.data);
}

namespace {

std::optional<std::vector<std::byte>> parseHexBytes(std::string_view text)
{
    std::vector<std::byte> bytes;
    int pending = -1;
    for (char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if ((c == ' ' || c == ',') && pending < 0)
            continue;
        else
            return std::nullopt;
        if (pending < 0) {
            pending = digit;
        } else {
            bytes.push_back(static_cast<std::byte>(pending << 4 | digit));
            pending = -1;
        }
    }
    if (pending >= 0)
        return std::nullopt;
    return bytes;
}

} // namespace

std::variant<std::vector<std::byte>, std::string> encodeData(ValueType type, std::string_view data)
{
    std::vector<std::byte> bytes;
    switch (type) {
    case ValueType::String:
    case ValueType::ExpandString:
        appendUnits(bytes, platform::text::toUtf16(data));
        appendUnits(bytes, std::u16string(1, u'\0'));
        return bytes;
    case ValueType::MultiString: {
        size_t start = 0;
        while (start < data.size()) {
            size_t end = data.find("\\0", start);
            if (end == std::string_view::npos)
                end = data.size();
            appendUnits(bytes, platform::text::toUtf16(data.substr(start, end - start)));
            appendUnits(bytes, std::u16string(1, u'\0'));
            start = end + 2;
        }
        appendUnits(bytes, std::u16string(1, u'\0'));
        return bytes;
    }
    case ValueType::Dword: {
        auto number = parseDword(data);
        if (!number)
            return "'" + std::string(data) + "' is not a 32-bit number (decimal, or hex with 0x)";
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<std::byte>(*number >> (8 * i) & 0xFF));
        return bytes;
    }
    case ValueType::Qword: {
        auto number = parseQword(data);
        if (!number)
            return "'" + std::string(data) + "' is not a 64-bit number (decimal, or hex with 0x)";
        for (int i = 0; i < 8; ++i)
            bytes.push_back(static_cast<std::byte>(*number >> (8 * i) & 0xFF));
        return bytes;
    }
    case ValueType::Binary:
    case ValueType::None: {
        auto parsed = parseHexBytes(data);
        if (!parsed)
            return "'" + std::string(data) + "' is not a sequence of hex bytes (e.g. 01ff or \"01 ff\")";
        return std::move(*parsed);
    }
    }
    return "values of type " + typeName(type) + " cannot be written";
}

} // namespace tools
