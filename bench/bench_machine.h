#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace bench {

// A fresh machine in a temporary folder for the life of the object, made the
// current one for this process and the processes it starts.
class BenchMachine {
public:
    BenchMachine();
    ~BenchMachine();
    BenchMachine(const BenchMachine&) = delete;
    BenchMachine& operator=(const BenchMachine&) = delete;

    const std::filesystem::path& root() const { return m_root; }

private:
    std::filesystem::path m_root;
    std::optional<std::string> m_previous;
};

// A program started beside this one (in the benchmarks' folder), killed and
// reaped when the object ends.
class BenchChild {
public:
    BenchChild(std::string_view program, const std::vector<std::string>& arguments);
    ~BenchChild();
    BenchChild(const BenchChild&) = delete;
    BenchChild& operator=(const BenchChild&) = delete;

    int pid() const { return m_pid; }

private:
    int m_pid { -1 };
};

// CPU time (user + system) a process has used so far, in clock ticks, from
// /proc/<pid>/stat; nothing when the process is gone.
std::optional<unsigned long long> cpuTicks(int pid);

// The pid of the object manager serving the current machine, if it runs.
std::optional<int> objectManagerPid();

} // namespace bench
