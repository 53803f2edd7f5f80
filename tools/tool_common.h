#pragma once

#include "platform/error.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace tools {

// Exit codes shared by the machine tool and the installer.
enum ExitCode : int {
    ExitSuccess = 0,
    ExitFailed = 1, // the platform refused the operation
    ExitUsage = 2, // the command line was wrong
};

// What a command writes to and reads from; the programs pass their standard
// streams, tests may pass string streams.
struct Console {
    std::ostream& out;
    std::ostream& err;
    std::string_view program; // "tavio-machine", for messages
};

// "access denied (5)": the words people know an error by, then its number.
std::string explain(platform::Error error);

// Writes "program: message" on the error stream and returns the exit code.
int fail(const Console& console, int exitCode, std::string_view message);

// Parse numbers written in decimal or, with a 0x prefix, in hex; nothing when
// the text is not such a number or does not fit.
std::optional<uint64_t> parseQword(std::string_view text);
std::optional<uint32_t> parseDword(std::string_view text);

// The folder holding the running program (from /proc/self/exe): where the
// build put the object manager and the deliverables beside the tools.
std::filesystem::path ownFolder();

// Writes objectd.path into the machine folder: where the object manager
// program lies, so that programs run from the machine's own drive (which
// holds no object manager) can start it. With RecordMode::IfStale an existing
// record is kept while it names a program that can still be run.
enum class RecordMode { Always, IfStale };
void recordObjectManager(RecordMode mode);

} // namespace tools
