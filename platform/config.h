#pragma once

#include "platform/result.h"

#include <optional>
#include <string>
#include <string_view>

namespace platform::config {

// The machine's own settings (current user, later the display and firmware
// state): text values by dotted name, kept in the same store as the registry
// so that every process sees a change at once.
std::optional<std::string> get(std::string_view name);
Status set(std::string_view name, std::string_view value);
Status erase(std::string_view name);

} // namespace platform::config
