#pragma once

#include "platform/result.h"

#include <functional>
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

// Reads a setting and writes back what `change` makes of it, as one step no
// other program can come between (counters, lists). `change` sees nullopt
// for a missing setting; it may run more than once when the store is busy,
// so it must do nothing but compute the new value.
Status update(std::string_view name, const std::function<std::string(const std::optional<std::string>&)>& change);

// Every setting whose name starts with `prefix` ("user." lists the users),
// sorted by name.
std::vector<std::pair<std::string, std::string>> list(std::string_view prefix = {});

} // namespace platform::config
