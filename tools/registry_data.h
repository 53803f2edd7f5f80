#pragma once

#include "platform/registry.h"

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tools {

// How the machine tool writes registry values as text and reads them back
// from the command line.

// "REG_SZ", "REG_DWORD", ...; "REG_TYPE_<n>" for a type without a name.
std::string typeName(platform::registry::ValueType type);
// The type of a name, without regard to letter case.
std::optional<platform::registry::ValueType> parseTypeName(std::string_view name);

// A value's data for people: text for strings, "0x0000001f (31)" for numbers,
// parts joined by "\0" for REG_MULTI_SZ, hex bytes "01 ff" for the rest.
std::string formatData(const platform::registry::Value& value);

// The bytes that "reg add" stores for DATA of the given type, or a message
// saying why the data does not fit the type.
std::variant<std::vector<std::byte>, std::string> encodeData(platform::registry::ValueType type, std::string_view data);

} // namespace tools
