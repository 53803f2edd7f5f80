#pragma once

#include "platform/result.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::process {

// Command lines are one text on the platform; the started program splits it
// into arguments itself. These follow the platform's argument splitter:
//  - arguments are separated by spaces and tabs outside double quotes;
//  - a double quote starts or ends a quoted part, which may sit inside an
//    argument ("a"b is ab) and keeps blanks; "" gives an empty argument;
//  - inside a quoted part, "" is one literal double quote;
//  - 2n backslashes before a double quote give n backslashes, and the quote
//    starts or ends a quoted part; 2n+1 backslashes give n backslashes and a
//    literal quote; backslashes anywhere else are kept as they are.
std::vector<std::u16string> splitArguments(std::u16string_view arguments);

// Splits a whole command line whose first token names the program. The
// program name follows its own, simpler rule: when it starts with a double
// quote it runs to the next double quote (backslashes are path separators
// there), else to the first blank. The rest is split by splitArguments.
std::vector<std::u16string> splitCommandLine(std::u16string_view commandLine);

// Quotes one argument so that splitArguments gives it back unchanged: as it
// is when it holds no blank or double quote, else in double quotes with the
// backslashes before a quote doubled and inner quotes escaped.
std::u16string quoteArgument(std::u16string_view argument);
// Quotes each argument and joins them with single spaces.
std::u16string joinArguments(const std::vector<std::u16string>& arguments);

// The show state a program is asked to open its first window with (the
// platform's SW_ numbers); recorded, since the stand-ins open no windows.
enum class Show : int32_t {
    Hide = 0,
    Normal = 1,
    Minimized = 2,
    Maximized = 3,
    NoActivate = 4,
    Show = 5,
    Minimize = 6,
    MinimizedNoActive = 7,
    ShowNoActive = 8,
    Restore = 9,
    Default = 10,
};

struct StartOptions {
    // The started program's current folder (a Windows path on drive C:);
    // empty keeps the caller's.
    std::u16string workingDirectory;
    Show show { Show::Normal };
};

// A started program. Copies refer to the same process. The program is never
// left a zombie: a thread of the starting process collects its exit as soon
// as it ends, whether or not anybody waits for it.
class Process {
public:
    Process() = default;

    bool isValid() const { return m_state != nullptr; }
    // The host process id (the platform's process id).
    int32_t id() const;

    // Waits until the program ends: its exit code, or 258 (wait time-out)
    // when `timeout` passes first. A program ended by a signal has exit code
    // 128 + the signal's number, unless terminate() gave it one.
    Result<uint32_t> wait(std::chrono::milliseconds timeout) const;
    // The exit code once the program has ended; nothing while it runs.
    std::optional<uint32_t> exitCode() const;
    // Ends the program at once; it exits with `exitCode`. Nothing happens to
    // a program that has ended already.
    void terminate(uint32_t exitCode = 1) const;

    // What the copies and the thread that collects the exit share; opaque.
    struct State;

private:
    friend struct ProcessFactory;
    std::shared_ptr<State> m_state;
};

// Finds the program a name stands for: a name without a folder is looked for
// in C:\WINDOWS\System32 and then C:\WINDOWS; a name without an extension
// gets ".exe". Returns the Windows path of an existing file; 2 or 3 when
// there is none, the path errors of paths::toHost for names that cannot be.
Result<std::u16string> findProgram(std::u16string_view name);

// Starts `program` (found by findProgram) with `arguments`, the command line
// after the program's name, in a new process that runs on its own: nothing
// waits for it unless the caller asks the returned Process. The program is a
// file on drive C: holding a host program image; it inherits the caller's
// environment (so the same machine) and standard streams, and nothing else.
// Records "process.start" with program, commandLine, pid, directory and
// show in the machine journal.
// Errors: 2 no such program, 3 a folder on its path is missing, 5 the
// program is a folder or cannot be read, 193 the file is not a program,
// 3 when the working folder is missing, 8 when the host has no room for
// another process, and the path errors of paths::toHost.
Result<Process> start(std::u16string_view program, std::u16string_view arguments, const StartOptions& options = {});

// Like start(), with the program taken from the first token of a whole
// command line (splitCommandLine's rule).
Result<Process> startCommandLine(std::u16string_view commandLine, const StartOptions& options = {});

// Starts a program of the host itself, outside the machine, found on the
// host's PATH when `program` has no folder: the bridge the stand-ins use to
// hand work to the host desktop (the web browser's address opener). 2 when
// no such program is found. Recorded as "process.start" with host "yes".
Result<Process> startHostProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments);

// The running program's whole command line as the platform gives it: its
// name, then its arguments exactly as the starter wrote them (blanks and
// quotes kept) when it was started by start(); otherwise rebuilt from
// `argv` with quoteArgument.
std::u16string commandLine(int argc, const char* const* argv);

// Whether the host has a program of that name on its PATH.
std::optional<std::filesystem::path> findHostProgram(std::string_view name);

} // namespace platform::process
