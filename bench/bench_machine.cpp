#include "bench/bench_machine.h"

#include "platform/machine.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bench {

namespace fs = std::filesystem;

BenchMachine::BenchMachine()
{
    if (const char* previous = std::getenv("TAVIO_MACHINE"))
        m_previous = previous;
    std::string pattern = (fs::temp_directory_path() / "tavio-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary machine folder");
    m_root = pattern;
    setenv("TAVIO_MACHINE", m_root.c_str(), 1);
    if (!platform::machine::initialize())
        throw std::runtime_error("cannot initialize the machine");
}

BenchMachine::~BenchMachine()
{
    if (m_previous)
        setenv("TAVIO_MACHINE", m_previous->c_str(), 1);
    else
        unsetenv("TAVIO_MACHINE");
    std::error_code ignored;
    fs::remove_all(m_root, ignored);
}

BenchChild::BenchChild(std::string_view program, const std::vector<std::string>& arguments)
{
    std::error_code error;
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    std::vector<std::string> all { (self.parent_path() / std::string(program)).string() };
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : all)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + all[0]);
    m_pid = pid;
}

BenchChild::~BenchChild()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
}

std::optional<unsigned long long> cpuTicks(int pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line))
        return std::nullopt;
    // The command name in parentheses may hold blanks; the fields after it
    // are counted from the last ')'. utime and stime are fields 14 and 15.
    auto close = line.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14)
            utime = std::stoull(field);
        if (index == 15) {
            stime = std::stoull(field);
            return utime + stime;
        }
    }
    return std::nullopt;
}

std::optional<int> objectManagerPid()
{
    std::error_code error;
    const std::string wanted = "--machine=" + fs::weakly_canonical(platform::machine::root(), error).string();
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (cmdline.find("tavio-machined") != std::string::npos && cmdline.find(wanted) != std::string::npos)
            return std::stoi(name);
    }
    return std::nullopt;
}

} // namespace bench
