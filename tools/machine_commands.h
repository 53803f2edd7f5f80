#pragma once

#include "tools/tool_common.h"

#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tools {

// The machine tool: looks at and changes the simulated tablet from outside
// the programs (its registry, its drive, its journal). Every command but
// "init" acts as the machine's current user.
int runMachineTool(std::vector<std::string> args, std::ostream& out, std::ostream& err);

// One subcommand of the machine tool. Further areas of the machine (display,
// vendor, firmware, window, messages, session, wmi, audio, clipboard,
// language) join by adding rows to the table in machine_commands.cpp.
struct MachineCommand {
    std::string_view name;
    std::string_view usage; // the arguments after the name
    std::string_view summary; // one line for --help
    bool needsMachine; // false only for commands that make the machine
    int (*run)(const Console& console, std::span<const std::string> args);
};

std::span<const MachineCommand> machineCommands();

// The "reg" command family, in registry_commands.cpp.
int runRegistryCommand(const Console& console, std::span<const std::string> args);

// The "messages" and "language" commands, in messages_commands.cpp.
int runMessagesCommand(const Console& console, std::span<const std::string> args);
int runLanguageCommand(const Console& console, std::span<const std::string> args);

// The "window" and "session" commands, in window_commands.cpp.
int runWindowCommand(const Console& console, std::span<const std::string> args);
int runSessionCommand(const Console& console, std::span<const std::string> args);

// The "firmware" and "wmi" commands, in firmware_commands.cpp.
int runFirmwareCommand(const Console& console, std::span<const std::string> args);
int runWmiCommand(const Console& console, std::span<const std::string> args);

} // namespace tools
