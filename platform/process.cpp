#include "platform/process.h"

#include "platform/journal.h"
#include "platform/paths.h"
#include "platform/text.h"

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace platform::process {

namespace fs = std::filesystem;

struct Process::State {
    int32_t pid { -1 };
    std::mutex mutex;
    std::condition_variable ended;
    std::optional<uint32_t> exitCode;
    std::optional<uint32_t> terminatedWith;
};

struct ProcessFactory {
    static Process make(std::shared_ptr<Process::State> state)
    {
        Process process;
        process.m_state = std::move(state);
        return process;
    }
};

int32_t Process::id() const
{
    return m_state ? m_state->pid : -1;
}

Result<uint32_t> Process::wait(std::chrono::milliseconds timeout) const
{
    if (!m_state)
        return Error::InvalidHandle;
    std::unique_lock lock(m_state->mutex);
    if (!m_state->ended.wait_for(lock, timeout, [&] { return m_state->exitCode.has_value(); }))
        return Error::WaitTimeout;
    return *m_state->exitCode;
}

std::optional<uint32_t> Process::exitCode() const
{
    if (!m_state)
        return std::nullopt;
    std::lock_guard lock(m_state->mutex);
    return m_state->exitCode;
}

void Process::terminate(uint32_t exitCode) const
{
    if (!m_state)
        return;
    std::lock_guard lock(m_state->mutex);
    // Until the reaper has collected the exit the pid cannot be reused, so
    // the signal reaches the right process.
    if (m_state->exitCode || m_state->terminatedWith)
        return;
    m_state->terminatedWith = exitCode;
    ::kill(m_state->pid, SIGKILL);
}

namespace {

// Collects the exit of one child on a thread of its own, so that a program
// that starts another and never waits leaves no zombie behind.
void reapLater(std::shared_ptr<Process::State> state)
{
    auto reap = [state = std::move(state)] {
        int status = 0;
        pid_t done;
        do {
            done = ::waitpid(state->pid, &status, 0);
        } while (done < 0 && errno == EINTR);
        uint32_t code = 0;
        if (done < 0)
            code = 1; // collected elsewhere: nothing to tell
        else if (WIFEXITED(status))
            code = static_cast<uint32_t>(WEXITSTATUS(status));
        else if (WIFSIGNALED(status))
            code = 128 + static_cast<uint32_t>(WTERMSIG(status));
        {
            std::lock_guard lock(state->mutex);
            state->exitCode = state->terminatedWith.value_or(code);
        }
        state->ended.notify_all();
    };
    try {
        std::thread(std::move(reap)).detach();
    } catch (const std::system_error&) {
        // FIXME: with no thread to spare the exit is collected by nobody
        // until this program ends; the started program runs regardless.
    }
}

Error spawnError(int code)
{
    // Only what starting a program adds to the usual file errors.
    switch (code) {
    case ENOEXEC:
    case ELIBBAD:
        return Error::BadExeFormat;
    case EAGAIN:
        return Error::NotEnoughMemory;
    default:
        return fromErrno(code);
    }
}

// The variable through which a program started on the machine learns its
// command line exactly as the starter wrote it (see commandLine()).
constexpr std::string_view CommandLineVariable = "TAVIO_COMMAND_LINE";

Result<Process> spawnHost(const fs::path& program, const std::vector<std::string>& argv,
    const std::optional<fs::path>& workingFolder, const std::optional<std::string>& commandLine = std::nullopt)
{
    std::vector<std::string> owned = argv;
    std::vector<char*> pointers;
    for (auto& argument : owned)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);

    // The environment is the caller's, with the command line of the new
    // program in place of any the caller was given.
    std::vector<std::string> environment;
    std::vector<char*> environmentPointers;
    char** startEnvironment = environ;
    if (commandLine) {
        const std::string prefix = std::string(CommandLineVariable) + "=";
        for (char** entry = environ; *entry; ++entry) {
            if (std::string_view(*entry).substr(0, prefix.size()) != prefix)
                environment.emplace_back(*entry);
        }
        environment.push_back(prefix + *commandLine);
        for (auto& entry : environment)
            environmentPointers.push_back(entry.data());
        environmentPointers.push_back(nullptr);
        startEnvironment = environmentPointers.data();
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // A new program inherits no handles but its standard streams.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (workingFolder)
        posix_spawn_file_actions_addchdir_np(&actions, workingFolder->c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    // Signals this program ignores (a broken pipe, say) are the program's own
    // business; the new one starts with every disposition at its default.
    sigfillset(&signals);
    sigdelset(&signals, SIGKILL);
    sigdelset(&signals, SIGSTOP);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, pointers.data(), startEnvironment);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return spawnError(rc);

    auto state = std::make_shared<Process::State>();
    state->pid = pid;
    reapLater(state);
    return ProcessFactory::make(std::move(state));
}

// Whether a host file holds a program image the host can run.
Status checkProgramImage(const fs::path& host)
{
    struct stat info { };
    if (::stat(host.c_str(), &info) != 0)
        return spawnError(errno);
    if (S_ISDIR(info.st_mode))
        return Error::AccessDenied;
    const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return spawnError(errno);
    unsigned char magic[4] {};
    const ssize_t got = ::read(fd, magic, sizeof magic);
    ::close(fd);
    if (got != 4 || magic[0] != 0x7f || magic[1] != 'E' || magic[2] != 'L' || magic[3] != 'F')
        return Error::BadExeFormat;
    // NOTE: on the platform a file is a program by its content alone; copies
    // made through files::copy come out without the host's execute bit, so
    // a program image gets it here before it is run.
    if (::access(host.c_str(), X_OK) != 0) {
        const mode_t readable = info.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
        if (::chmod(host.c_str(), info.st_mode | (readable >> 2)) != 0)
            return Error::AccessDenied;
    }
    return {};
}

bool hasFolder(std::u16string_view name)
{
    return name.find_first_of(u"\\/:") != std::u16string_view::npos;
}

} // namespace

Result<std::u16string> findProgram(std::u16string_view name)
{
    if (name.empty())
        return Error::FileNotFound;
    std::vector<std::u16string> candidates;
    auto addWithExtension = [&](std::u16string path) {
        const bool bare = paths::extension(path).empty();
        candidates.push_back(path);
        if (bare)
            candidates.push_back(path + u".exe");
    };
    if (hasFolder(name)) {
        addWithExtension(std::u16string(name));
    } else {
        addWithExtension(paths::append(paths::systemDirectory(), name));
        addWithExtension(paths::append(paths::windowsDirectory(), name));
    }
    Error first = Error::Success;
    for (const auto& candidate : candidates) {
        auto host = paths::toHost(candidate, paths::Lookup::Existing);
        if (host)
            return candidate;
        if (first == Error::Success)
            first = host.error();
    }
    return first;
}

Result<Process> start(std::u16string_view program, std::u16string_view arguments, const StartOptions& options)
{
    TRY_RESULT(found, findProgram(program));
    TRY_RESULT(host, paths::toHost(found, paths::Lookup::Existing));
    TRY_STATUS(checkProgramImage(host));
    std::optional<fs::path> workingFolder;
    if (!options.workingDirectory.empty()) {
        auto folder = paths::toHost(options.workingDirectory, paths::Lookup::Existing);
        if (!folder)
            return folder.error() == Error::FileNotFound ? Error::PathNotFound : folder.error();
        workingFolder = *folder;
    }

    std::vector<std::string> argv { text::toUtf8(found) };
    for (const auto& argument : splitArguments(arguments))
        argv.push_back(text::toUtf8(argument));
    std::u16string commandLine = quoteArgument(found);
    if (!arguments.empty())
        commandLine += u' ' + std::u16string(arguments);
    TRY_RESULT(process, spawnHost(host, argv, workingFolder, text::toUtf8(commandLine)));

    journal::record("process.start",
        { { "program", text::toUtf8(found) }, { "commandLine", text::toUtf8(commandLine) },
            { "pid", std::to_string(process.id()) }, { "directory", text::toUtf8(options.workingDirectory) },
            { "show", std::to_string(static_cast<int32_t>(options.show)) } });
    return process;
}

Result<Process> startCommandLine(std::u16string_view commandLine, const StartOptions& options)
{
    size_t at = 0;
    while (at < commandLine.size() && (commandLine[at] == u' ' || commandLine[at] == u'\t'))
        ++at;
    if (at >= commandLine.size())
        return Error::FileNotFound;
    std::u16string program;
    size_t rest;
    if (commandLine[at] == u'"') {
        const size_t close = commandLine.find(u'"', at + 1);
        // An unclosed quote leaves the rest of the line to the name.
        if (close == std::u16string_view::npos) {
            program = commandLine.substr(at + 1);
            rest = commandLine.size();
        } else {
            program = commandLine.substr(at + 1, close - at - 1);
            rest = close + 1;
        }
    } else {
        rest = commandLine.find_first_of(u" \t", at);
        if (rest == std::u16string_view::npos)
            rest = commandLine.size();
        program = commandLine.substr(at, rest - at);
    }
    while (rest < commandLine.size() && (commandLine[rest] == u' ' || commandLine[rest] == u'\t'))
        ++rest;
    return start(program, commandLine.substr(rest), options);
}

std::optional<fs::path> findHostProgram(std::string_view name)
{
    if (name.find('/') != std::string_view::npos) {
        fs::path path(name);
        return ::access(path.c_str(), X_OK) == 0 ? std::optional(path) : std::nullopt;
    }
    const char* searchPath = std::getenv("PATH");
    if (!searchPath)
        return std::nullopt;
    std::string_view folders(searchPath);
    while (!folders.empty()) {
        const size_t colon = folders.find(':');
        std::string_view folder = folders.substr(0, colon);
        folders = colon == std::string_view::npos ? std::string_view() : folders.substr(colon + 1);
        if (folder.empty())
            continue;
        fs::path candidate = fs::path(folder) / name;
        struct stat info { };
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

Result<Process> startHostProgram(const fs::path& program, const std::vector<std::string>& arguments)
{
    auto found = findHostProgram(program.string());
    if (!found)
        return Error::FileNotFound;
    std::vector<std::string> argv { found->string() };
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    TRY_RESULT(process, spawnHost(*found, argv, std::nullopt));
    std::string commandLine = found->string();
    for (const auto& argument : arguments)
        commandLine += ' ' + argument;
    journal::record("process.start",
        { { "program", found->string() }, { "commandLine", commandLine }, { "pid", std::to_string(process.id()) },
            { "host", "yes" } });
    return process;
}

std::u16string commandLine(int argc, const char* const* argv)
{
    std::vector<std::u16string> arguments;
    for (int index = 1; index < argc; ++index)
        arguments.push_back(text::toUtf16(argv[index]));
    if (const char* given = std::getenv(std::string(CommandLineVariable).c_str())) {
        // NOTE: the variable is inherited by programs started by other means;
        // it counts only when it splits into this program's own arguments.
        std::u16string stored = text::toUtf16(given);
        auto split = splitCommandLine(stored);
        if (!split.empty() && std::vector<std::u16string>(split.begin() + 1, split.end()) == arguments)
            return stored;
    }
    std::u16string rebuilt = quoteArgument(argc > 0 ? text::toUtf16(argv[0]) : std::u16string());
    if (!arguments.empty())
        rebuilt += u' ' + joinArguments(arguments);
    return rebuilt;
}

} // namespace platform::process
