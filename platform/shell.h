#pragma once

#include "platform/files.h"
#include "platform/process.h"
#include "platform/result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::shell {

// The shell: finding files, the program the machine associates with a file,
// and opening a file the way a double click does.
//
// Associations live in the registry as on the platform, per-user ones under
// HKEY_CURRENT_USER\Software\Classes first, then the machine's under
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes:
//   Classes\<.ext>                         default value: a class name
//   Classes\<class>\shell\<verb>\command   default value: a command line, where
//       %1 (or %L) stands for the file and %* for the caller's parameters;
//       e.g. "C:\WINDOWS\System32\webbrowser.exe" "%1"
//   Classes\<scheme>                       "URL Protocol" value marks a scheme
//       (http, https) whose shell\open\command opens addresses of that scheme.

// NOTE: the shell reports "no program is associated" with 31, the number the
// system error codes use for a general failure; this is that number.
inline constexpr Error NoAssociation = Error::GenFailure;

// The first file or folder matching `pattern`, whose last component may hold
// the wildcards * and ?: whether a file of that name exists. 2 when nothing
// matches, 3 when the folder is missing, 123 for names that cannot be files
// (a web address, for instance), and the other path errors of paths::toHost.
Result<files::FindData> findFile(std::u16string_view pattern);

// The program that opens `file`: the file itself for a program (.exe, .com),
// else the program of its association's open command. `file` is taken as
// written (no quotes removed); a relative name is looked for in `directory`
// first when one is given. Errors: 2 the file (or its associated program) is
// missing, 3 a folder on its path is missing, NoAssociation (31) when no
// program is associated with its kind of file.
Result<std::u16string> findExecutable(std::u16string_view file, std::u16string_view directory = {});

// The shell's answers to an open. Above 32 means the program was started;
// the others are the only failure numbers the shell reports.
enum class ExecuteCode : uint32_t {
    OutOfResources = 0,
    FileNotFound = 2,
    PathNotFound = 3,
    AccessDenied = 5,
    OutOfMemory = 8,
    BadFormat = 11,
    ShareViolation = 26,
    NoAssociation = 31,
    Started = 42,
};

struct ExecuteRequest {
    // "open" (or empty for the default verb, which is open), or another verb
    // that the file's association names.
    std::u16string verb { u"open" };
    // A program, document, folder or web address; one pair of double quotes
    // around the whole text is removed, as the platform's shell accepts a
    // quoted program name.
    std::u16string file;
    // For a program, its command line after the program's name; for a
    // document, what the association's %* stands for (appended when it has
    // no %*).
    std::u16string parameters;
    // The started program's current folder; relative file names are looked
    // for here first. Empty: the caller's.
    std::u16string directory;
    process::Show show { process::Show::Normal };
};

struct Launch {
    ExecuteCode code { ExecuteCode::FileNotFound };
    // The Windows path of the program that was run (empty when none was).
    std::u16string program;
    // The command line after the program's name that it was given.
    std::u16string arguments;
    // The started program, for callers that wait for it.
    std::optional<process::Process> process;

    bool started() const { return static_cast<uint32_t>(code) > 32; }
    uint32_t number() const { return static_cast<uint32_t>(code); }
};

// Opens a file the way the platform's shell does: a program is started with
// the parameters; a document starts its associated program with the
// document's path (one argument, quoted when needed) and the parameters; a
// web address of a registered scheme starts that scheme's program. Never
// waits for the started program. Every call, failed or not, is recorded as
// "shell.execute" with verb, file, parameters, directory, program and
// result in the machine journal.
Launch execute(const ExecuteRequest& request);

} // namespace platform::shell
