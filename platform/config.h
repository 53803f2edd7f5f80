#pragma once

#include "platform/result.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::config {

// The machine's own settings (current user, later the display and firmware
// state): text values by dotted name, kept in the same store as the registry
// so that every process sees a change at once.
std::optional<std::string> get(std::string_view name);
Status set(std::string_view name, std::string_view value);
// Removes a setting; 2 when there was none.
Status erase(std::string_view name);

// Every setting whose name starts with `prefix` ("user." lists the users),
// sorted by name.
std::vector<std::pair<std::string, std::string>> list(std::string_view prefix = {});

} // namespace platform::config
