// Measures the resident mode change service: the CPU it and the object
// manager use over 10 s of nothing happening (unless given in seconds as the
// argument), its resident memory, and the time from a dock event raised by
// the firmware to the display change it causes, as the journal records both.
// Fails when the idle service used any CPU.

#include "bench/bench_machine.h"

#include "vendor/state.h"

#include "platform/firmware.h"
#include "platform/journal.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/sync.h"
#include "platform/wmi.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::string residentMemory(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return line.substr(6);
    }
    return "unknown";
}

bool serviceReady()
{
    auto event = platform::sync::openEvent(u"ModeChangeShutdown");
    auto waiting = event ? platform::sync::countWaiters(event.value()).valueOr(0u) : 0u;
    auto live = platform::wmi::liveSubscriptions();
    return waiting == 1 && std::count(live.begin(), live.end(), std::u16string(u"keltoDockEvent")) == 1;
}

uint64_t nowMicroseconds()
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: bench_modewatch [SECONDS]\n");
        return 2;
    }
    bench::BenchMachine machine;
    if (!keltovdisp::installLibrary(TAVIO_BIN_DIR)) {
        std::fprintf(stderr, "cannot install the vendor display library\n");
        return 1;
    }
    auto folder = platform::paths::toHost(u"C:\\Program Files\\Tavio Menu", platform::paths::Lookup::ForCreate);
    if (!folder) {
        std::fprintf(stderr, "no application folder\n");
        return 1;
    }
    std::filesystem::create_directories(*folder);
    std::filesystem::copy_file(std::filesystem::path(TAVIO_BIN_DIR) / "Modewatch.exe", *folder / "Modewatch.exe",
        std::filesystem::copy_options::overwrite_existing);
    auto service = platform::process::start(u"C:\\Program Files\\Tavio Menu\\Modewatch.exe", u"-Start");
    if (!service) {
        std::fprintf(stderr, "cannot start the service\n");
        return 1;
    }
    struct Ender {
        platform::process::Process& process;
        ~Ender() { process.terminate(9); }
    } ender { service.value() };
    if (!waitUntil(serviceReady, 20s)) {
        std::fprintf(stderr, "the service did not get ready within 20 s\n");
        return 1;
    }

    const int pid = service->id();
    auto manager = bench::objectManagerPid();
    auto before = bench::cpuTicks(pid);
    auto managerBefore = manager ? bench::cpuTicks(*manager) : std::nullopt;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    auto after = bench::cpuTicks(pid);
    auto managerAfter = manager ? bench::cpuTicks(*manager) : std::nullopt;
    if (!before || !after) {
        std::fprintf(stderr, "cannot read the service's CPU time\n");
        return 1;
    }
    const unsigned long long ticks = *after - *before;
    std::printf("resident service over %d s idle: %llu ticks of CPU (%ld ticks per second)\n", seconds, ticks,
        sysconf(_SC_CLK_TCK));
    if (managerBefore && managerAfter)
        std::printf("object manager over the same %d s: %llu ticks of CPU\n", seconds, *managerAfter - *managerBefore);
    std::printf("resident memory of the service:%s\n", residentMemory(pid).c_str());

    // Docked portrait and docked landscape in turn: each event turns the
    // internal panel.
    std::vector<double> latencies;
    for (int round = 0; round < 20; ++round) {
        const size_t changes = platform::journal::read("display.change").size();
        const uint64_t raised = nowMicroseconds();
        if (!platform::firmware::dock(round % 2 == 0 ? 0x04 : 0x08)) {
            std::fprintf(stderr, "cannot dock\n");
            return 1;
        }
        if (!waitUntil([&] { return platform::journal::read("display.change").size() > changes; }, 10s)) {
            std::fprintf(stderr, "no display change after a dock event\n");
            return 1;
        }
        const auto entries = platform::journal::read("display.change");
        latencies.push_back(static_cast<double>(entries.back().timeMicroseconds - raised) / 1000.0);
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("dock event to display change over %zu events: median %.2f ms, worst %.2f ms\n", latencies.size(),
        latencies[latencies.size() / 2], latencies.back());

    std::printf("%s\n", ticks == 0 ? "PASS: no CPU used while idle" : "FAIL: CPU used while idle");
    return ticks == 0 ? 0 : 1;
}
