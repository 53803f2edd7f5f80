#include "tests/testkit/machine_fixture.h"

#include "platform/paths.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace testkit {

TempMachine::TempMachine(const platform::machine::InitOptions& options)
{
    if (const char* previous = std::getenv("TAVIO_MACHINE"))
        m_previous = previous;
    std::string pattern = (std::filesystem::temp_directory_path() / "tavio-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary machine folder");
    m_root = pattern;
    setenv("TAVIO_MACHINE", m_root.c_str(), 1);
    auto status = platform::machine::initialize(options);
    if (!status)
        throw std::runtime_error("cannot initialize the machine: " + platform::describe(status.error()));
}

TempMachine::~TempMachine()
{
    if (m_previous)
        setenv("TAVIO_MACHINE", m_previous->c_str(), 1);
    else
        unsetenv("TAVIO_MACHINE");
    std::error_code ignored;
    std::filesystem::remove_all(m_root, ignored);
}

std::filesystem::path TempMachine::host(std::u16string_view windowsPath) const
{
    auto mapped = platform::paths::toHost(windowsPath, platform::paths::Lookup::ForCreate);
    if (!mapped)
        throw std::runtime_error("path does not map: " + platform::describe(mapped.error()));
    return mapped.value();
}

Child& Child::operator=(Child&& other) noexcept
{
    if (this != &other) {
        kill();
        m_pid = other.m_pid;
        other.m_pid = -1;
    }
    return *this;
}

Child::~Child()
{
    kill();
}

std::optional<int> Child::wait(std::chrono::milliseconds timeout)
{
    if (m_pid <= 0)
        return std::nullopt;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_pid = -1;
            if (WIFEXITED(status))
                return WEXITSTATUS(status);
            return 128 + WTERMSIG(status);
        }
        if (done < 0) {
            m_pid = -1;
            return std::nullopt;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        // Reaping a child has no descriptor to block on; a short nap between
        // looks keeps this bounded and cheap.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void Child::kill()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
}

Child spawn(const std::filesystem::path& program, const std::vector<std::string>& arguments,
    const std::optional<std::filesystem::path>& outputFile)
{
    std::vector<std::string> all;
    all.push_back(program.string());
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : all)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outputFile) {
        posix_spawn_file_actions_addopen(&actions, 1, outputFile->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    pid_t pid = -1;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + program.string());
    return Child(pid);
}

Completed run(
    const std::filesystem::path& program, const std::vector<std::string>& arguments, std::chrono::milliseconds timeout)
{
    char pattern[] = "/tmp/tavio-run-XXXXXX";
    int fd = mkstemp(pattern);
    if (fd < 0)
        throw std::runtime_error("cannot make a temporary file");
    ::close(fd);
    Completed completed;
    {
        Child child = spawn(program, arguments, std::filesystem::path(pattern));
        auto code = child.wait(timeout);
        completed.exitCode = code.value_or(-1);
    }
    completed.output = readFile(pattern);
    ::unlink(pattern);
    return completed;
}

std::filesystem::path helperProgram(std::string_view name)
{
    return std::filesystem::path(TAVIO_TEST_BIN_DIR) / std::string(name);
}

std::filesystem::path systemProgram(std::string_view name)
{
    return std::filesystem::path(TAVIO_BIN_DIR) / std::string(name);
}

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

} // namespace testkit
