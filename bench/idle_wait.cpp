// Measures what an idle waiter costs: a process blocked in waitOne on a named
// event with no time-out, and the machine's object manager beside it, must
// use no CPU at all while nothing happens. Prints the clock ticks each used
// over the measuring time (10 s unless given in seconds as the argument) and
// fails when either used any.

#include "bench/bench_machine.h"

#include "platform/sync.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <unistd.h>

int main(int argc, char** argv)
{
    using namespace platform::sync;
    using namespace std::chrono_literals;
    int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: bench_idle_wait [SECONDS]\n");
        return 2;
    }

    bench::BenchMachine machine;
    auto ready = createEvent(u"TavioBenchReady", ResetMode::Auto, InitialState::NotSignalled);
    auto ping = createEvent(u"TavioBenchPing", ResetMode::Auto, InitialState::NotSignalled);
    auto pong = createEvent(u"TavioBenchPong", ResetMode::Auto, InitialState::NotSignalled);
    if (!ready || !ping || !pong) {
        std::fprintf(stderr, "cannot create the events\n");
        return 1;
    }
    bench::BenchChild waiter("bench_event_echo", { "TavioBenchReady", "TavioBenchPing", "TavioBenchPong" });
    auto started = waitOne(ready->handle, 10000ms);
    if (!started || !started->signalled()) {
        std::fprintf(stderr, "the waiter process did not start within 10 s\n");
        return 1;
    }
    // The waiter sets READY just before it blocks; give it a moment to get
    // there so that its start-up is not counted.
    std::this_thread::sleep_for(200ms);

    auto manager = bench::objectManagerPid();
    auto waiterBefore = bench::cpuTicks(waiter.pid());
    auto managerBefore = manager ? bench::cpuTicks(*manager) : std::nullopt;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    auto waiterAfter = bench::cpuTicks(waiter.pid());
    auto managerAfter = manager ? bench::cpuTicks(*manager) : std::nullopt;
    if (!waiterBefore || !waiterAfter) {
        std::fprintf(stderr, "cannot read the waiter's CPU time\n");
        return 1;
    }

    // The waiter must still be there to answer: a waiter that died would use
    // no CPU either.
    if (!setEvent(ping->handle)) {
        std::fprintf(stderr, "setEvent failed\n");
        return 1;
    }
    auto answered = waitOne(pong->handle, 5000ms);
    if (!answered || !answered->signalled()) {
        std::fprintf(stderr, "the waiter did not answer after the idle time\n");
        return 1;
    }

    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    unsigned long long waiterTicks = *waiterAfter - *waiterBefore;
    std::printf("idle waiter (waitOne, infinite time-out) over %d s: %llu ticks of CPU (%ld ticks per second)\n",
        seconds, waiterTicks, ticksPerSecond);
    bool idle = waiterTicks == 0;
    if (managerBefore && managerAfter) {
        unsigned long long managerTicks = *managerAfter - *managerBefore;
        std::printf("object manager over the same %d s: %llu ticks of CPU\n", seconds, managerTicks);
        idle = idle && managerTicks == 0;
    } else {
        std::printf("object manager: not found, not measured\n");
    }
    std::printf("%s\n", idle ? "PASS: no CPU used while idle" : "FAIL: CPU used while idle");
    return idle ? 0 : 1;
}
