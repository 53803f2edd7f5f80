#pragma once

// The service's command line: the switches "Start", "Stop", "Wireless_on"
// and "Wireless_off" after a minus sign or a slash.

#include <cstdint>
#include <optional>
#include <string_view>

namespace modechange {

inline constexpr std::u16string_view SwitchMarks = u"-/";

// The rest of `text` after the first character that is one of `marks`;
// nothing when the text ends first.
std::optional<std::u16string_view> NextSwitch(std::u16string_view text, std::u16string_view marks);

// Acts on the program's whole command line (program path included) and
// returns the program's exit code. A switch counts only when the whole rest
// of the line after its mark is the switch, ignoring case.
int32_t RunCommandLine(std::u16string_view commandLine);

} // namespace modechange
