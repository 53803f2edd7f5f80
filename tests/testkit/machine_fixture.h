#pragma once

#include "platform/machine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testkit {

// A fresh simulated machine in a temporary folder, made the current one for
// this process (and every process it starts) through TAVIO_MACHINE. Removed,
// with whatever the test left in it, when the fixture ends.
class TempMachine {
public:
    explicit TempMachine(const platform::machine::InitOptions& options = {});
    ~TempMachine();
    TempMachine(const TempMachine&) = delete;
    TempMachine& operator=(const TempMachine&) = delete;

    const std::filesystem::path& root() const { return m_root; }
    // Host path of a Windows path inside this machine (must exist).
    std::filesystem::path host(std::u16string_view windowsPath) const;

private:
    std::filesystem::path m_root;
    std::optional<std::string> m_previous;
};

// A gtest fixture whose every test runs on a machine of its own.
class MachineTest : public ::testing::Test {
protected:
    void SetUp() override { m_machine.emplace(machineOptions()); }
    void TearDown() override { m_machine.reset(); }
    virtual platform::machine::InitOptions machineOptions() const { return {}; }
    TempMachine& machine() { return *m_machine; }

private:
    std::optional<TempMachine> m_machine;
};

// A program started by a test. The destructor kills it if it still runs, so a
// failing test leaves no process behind.
class Child {
public:
    Child() = default;
    explicit Child(int pid)
        : m_pid(pid)
    { }
    Child(Child&& other) noexcept
        : m_pid(other.m_pid)
    {
        other.m_pid = -1;
    }
    Child& operator=(Child&& other) noexcept;
    ~Child();

    int pid() const { return m_pid; }
    bool running() const { return m_pid > 0; }
    // Waits for the exit; the exit code, 128 + signal for a killed process,
    // or nothing when the time-out passed first.
    std::optional<int> wait(std::chrono::milliseconds timeout);
    // SIGKILL and reap.
    void kill();

private:
    int m_pid { -1 };
};

// Starts a program with arguments; it inherits this process's environment
// (so the same TAVIO_MACHINE). Standard output goes to `outputFile` when set.
Child spawn(const std::filesystem::path& program, const std::vector<std::string>& arguments,
    const std::optional<std::filesystem::path>& outputFile = std::nullopt);

// Runs a program to its end and returns its exit code and standard output
// (with standard error appended).
struct Completed {
    int exitCode { -1 };
    std::string output;
};
Completed run(const std::filesystem::path& program, const std::vector<std::string>& arguments,
    std::chrono::milliseconds timeout = std::chrono::seconds(30));

// Where the build put a helper program of the tests / a program of the system.
std::filesystem::path helperProgram(std::string_view name);
std::filesystem::path systemProgram(std::string_view name);

// Reads a whole host file (empty when absent).
std::string readFile(const std::filesystem::path& path);

} // namespace testkit
