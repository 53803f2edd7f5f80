// The far side of the event benchmarks: sets READY once its events are open,
// then waits on PING without a time-out and sets PONG each time it wakes.
//
//   bench_event_echo READY PING PONG

#include "platform/sync.h"
#include "platform/text.h"

#include <cstdio>

int main(int argc, char** argv)
{
    using namespace platform::sync;
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_event_echo READY PING PONG\n");
        return 2;
    }
    auto ready = openEvent(platform::text::toUtf16(argv[1]));
    auto ping = openEvent(platform::text::toUtf16(argv[2]));
    auto pong = openEvent(platform::text::toUtf16(argv[3]));
    if (!ready || !ping || !pong) {
        std::fprintf(stderr, "bench_event_echo: cannot open the events\n");
        return 1;
    }
    if (!setEvent(*ready))
        return 1;
    for (;;) {
        auto woken = waitOne(*ping, Infinite);
        if (!woken || !woken->signalled())
            return 1;
        if (!setEvent(*pong))
            return 1;
    }
}
