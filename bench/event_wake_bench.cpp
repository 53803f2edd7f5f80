// How long a program waits between setting a named event and hearing back
// from a waiter in another process: setEvent(ping) -> the waiter wakes and
// sets pong -> waitOne(pong) returns. The same-process case, which takes an
// event already set, shows what two calls to the object manager cost alone.

#include "bench/bench_machine.h"

#include "platform/sync.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <optional>

namespace {

using namespace platform::sync;
using namespace std::chrono_literals;

struct Peer {
    Handle ping;
    Handle pong;
};
Peer* peer = nullptr;

void wakeWaiterInAnotherProcess(benchmark::State& state)
{
    for (auto _ : state) {
        if (!setEvent(peer->ping)) {
            state.SkipWithError("setEvent failed");
            break;
        }
        auto answered = waitOne(peer->pong, 5000ms);
        if (!answered || !answered->signalled()) {
            state.SkipWithError("the waiter did not answer within 5 s");
            break;
        }
    }
}
BENCHMARK(wakeWaiterInAnotherProcess)->Unit(benchmark::kMicrosecond)->UseRealTime();

void setAndTakeInTheSameProcess(benchmark::State& state)
{
    auto event = createEvent(u"TavioBenchLocal", ResetMode::Auto, InitialState::NotSignalled);
    if (!event) {
        state.SkipWithError("createEvent failed");
        return;
    }
    for (auto _ : state) {
        if (!setEvent(event->handle)) {
            state.SkipWithError("setEvent failed");
            break;
        }
        auto taken = waitOne(event->handle, 0ms);
        if (!taken || !taken->signalled()) {
            state.SkipWithError("the set event was not taken");
            break;
        }
    }
}
BENCHMARK(setAndTakeInTheSameProcess)->Unit(benchmark::kMicrosecond)->UseRealTime();

std::optional<Handle> makeEvent(std::u16string_view name)
{
    auto made = createEvent(name, ResetMode::Auto, InitialState::NotSignalled);
    if (!made)
        return std::nullopt;
    return std::move(made->handle);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;

    bench::BenchMachine machine;
    auto ready = makeEvent(u"TavioBenchReady");
    auto ping = makeEvent(u"TavioBenchPing");
    auto pong = makeEvent(u"TavioBenchPong");
    if (!ready || !ping || !pong) {
        std::fprintf(stderr, "cannot create the events\n");
        return 1;
    }
    bench::BenchChild waiter("bench_event_echo", { "TavioBenchReady", "TavioBenchPing", "TavioBenchPong" });
    auto started = waitOne(*ready, 10000ms);
    if (!started || !started->signalled()) {
        std::fprintf(stderr, "the waiter process did not start within 10 s\n");
        return 1;
    }
    Peer both { std::move(*ping), std::move(*pong) };
    peer = &both;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    peer = nullptr;
    return 0;
}
