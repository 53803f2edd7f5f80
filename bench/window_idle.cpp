// Measures what a thread blocked in getMessage costs: a process waiting for
// window messages with nothing arriving, and the machine's object manager
// beside it, must use no CPU at all. Prints the clock ticks each used over
// the measuring time (10 s unless given in seconds as the argument) and fails
// when either used any. Started with --loop, the program is the waiting side:
// it creates a window titled "TavioBenchWindow", sets the event READY and
// answers each WM_USER by setting the event PONG.

#include "bench/bench_machine.h"

#include "platform/sync.h"
#include "platform/windows.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>

using namespace platform;
using namespace std::chrono_literals;

namespace {

int runLoop()
{
    auto ready = sync::openEvent(u"TavioBenchReady");
    auto pong = sync::openEvent(u"TavioBenchPong");
    if (!ready || !pong)
        return 2;
    auto registered = windows::registerClass(
        u"TavioBenchClass", [&](windows::WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
            if (message == windows::WM_USER)
                (void)sync::setEvent(*pong);
            if (message == windows::WM_DESTROY)
                windows::postQuitMessage(0);
            return windows::defaultWindowProcedure(window, message, wParam, lParam);
        });
    if (!registered || !windows::createWindow(u"TavioBenchClass", u"TavioBenchWindow"))
        return 3;
    (void)sync::setEvent(*ready);
    windows::Message message;
    while (windows::getMessage(message).valueOr(false))
        windows::dispatchMessage(message);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--loop")
        return runLoop();
    int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: bench_window_idle [SECONDS]\n");
        return 2;
    }

    bench::BenchMachine machine;
    auto ready = sync::createEvent(u"TavioBenchReady", sync::ResetMode::Auto, sync::InitialState::NotSignalled);
    auto pong = sync::createEvent(u"TavioBenchPong", sync::ResetMode::Auto, sync::InitialState::NotSignalled);
    if (!ready || !pong) {
        std::fprintf(stderr, "cannot create the events\n");
        return 1;
    }
    bench::BenchChild loop("bench_window_idle", { "--loop" });
    auto started = sync::waitOne(ready->handle, 10000ms);
    if (!started || !started->signalled()) {
        std::fprintf(stderr, "the message loop did not start within 10 s\n");
        return 1;
    }
    // The loop sets READY just before it blocks; give it a moment to get
    // there so that its start-up is not counted.
    std::this_thread::sleep_for(200ms);

    auto manager = bench::objectManagerPid();
    auto loopBefore = bench::cpuTicks(loop.pid());
    auto managerBefore = manager ? bench::cpuTicks(*manager) : std::nullopt;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    auto loopAfter = bench::cpuTicks(loop.pid());
    auto managerAfter = manager ? bench::cpuTicks(*manager) : std::nullopt;
    if (!loopBefore || !loopAfter) {
        std::fprintf(stderr, "cannot read the loop's CPU time\n");
        return 1;
    }

    // The loop must still be there to answer: a dead one would use no CPU either.
    auto window = windows::findWindow(std::nullopt, u"TavioBenchWindow");
    if (!window || !windows::postMessage(*window, windows::WM_USER, 0, 0)) {
        std::fprintf(stderr, "cannot post to the loop's window\n");
        return 1;
    }
    auto answered = sync::waitOne(pong->handle, 5000ms);
    if (!answered || !answered->signalled()) {
        std::fprintf(stderr, "the loop did not answer after the idle time\n");
        return 1;
    }
    (void)windows::postMessage(*window, windows::WM_CLOSE, 0, 0);

    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    unsigned long long loopTicks = *loopAfter - *loopBefore;
    std::printf("idle message loop (getMessage) over %d s: %llu ticks of CPU (%ld ticks per second)\n", seconds,
        loopTicks, ticksPerSecond);
    bool idle = loopTicks == 0;
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
