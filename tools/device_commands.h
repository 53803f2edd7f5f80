#pragma once

#include "tools/tool_common.h"

#include <span>
#include <string>

namespace tools {

// The machine tool's commands for the display adapter, the sound, the
// clipboard, power and the vendor display library.
int runDisplayCommand(const Console& console, std::span<const std::string> args);
int runAudioCommand(const Console& console, std::span<const std::string> args);
int runClipboardCommand(const Console& console, std::span<const std::string> args);
int runPowerCommand(const Console& console, std::span<const std::string> args);
int runVendorCommand(const Console& console, std::span<const std::string> args);

} // namespace tools
