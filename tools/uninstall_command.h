#pragma once

#include "tools/tool_common.h"

#include <span>
#include <string>

namespace tools {

// "tavio-setup uninstall": removes the product as its uninstaller does. Loads
// the uninstall hook from the application folder and calls it (the tray
// launcher and the mode change service are told to exit, which takes about
// nine seconds), removes the installed files, the application folder when
// nothing else is left in it, the machine-wide settings key and the logon
// start value. The users' data folders, logs and per-user settings stay.
int uninstall(const Console& console, std::span<const std::string> args);

} // namespace tools
