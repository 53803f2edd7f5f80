// A second program for the named-object tests. Each command does one thing
// with a named object and reports through its exit code:
//   wait-event NAME READY TIMEOUT_MS   open-or-create event NAME, set READY, wait:
//                                      exit 0 signalled, 1 timed out
//   hold-mutex NAME READY              create mutex NAME owned, set READY, block forever
//   set-event NAME                     open event NAME and set it: exit 0, or 2 when absent
//   wait-set NAME REPLY                wait on NAME forever, then set REPLY, repeat
//   idle-wait NAME READY               open-or-create NAME, set READY, wait forever
//   static-handle NAME                 keep an event in a static handle and exit: exit 0

#include "platform/sync.h"

#include <cstdlib>
#include <string>

using namespace platform;
using namespace std::chrono_literals;

namespace {

// Destroyed after the thread's own state at exit, as a program's globals are.
sync::Handle staticHandle;

std::u16string name(const char* text)
{
    return std::u16string(text, text + std::char_traits<char>::length(text));
}

sync::Handle event(const char* text)
{
    auto made = sync::createEvent(name(text), sync::ResetMode::Auto, sync::InitialState::NotSignalled);
    if (!made)
        std::exit(10);
    return std::move(made->handle);
}

void signal(const char* text)
{
    auto opened = sync::openEvent(name(text));
    if (!opened || !sync::setEvent(*opened))
        std::exit(11);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 64;
    std::string command = argv[1];
    if (command == "wait-event" && argc == 5) {
        auto handle = event(argv[2]);
        signal(argv[3]);
        auto outcome = sync::waitOne(handle, std::chrono::milliseconds(std::atoi(argv[4])));
        return outcome && outcome->signalled() ? 0 : 1;
    }
    if (command == "hold-mutex" && argc == 4) {
        auto made = sync::createMutex(name(argv[2]), sync::InitialOwner::Yes);
        if (!made)
            return 10;
        signal(argv[3]);
        auto never = event("sync-peer-never");
        (void)sync::waitOne(never, sync::Infinite);
        return 0;
    }
    if (command == "set-event" && argc == 3) {
        auto opened = sync::openEvent(name(argv[2]));
        if (!opened)
            return 2;
        return sync::setEvent(*opened) ? 0 : 1;
    }
    if (command == "wait-set" && argc == 4) {
        auto request = event(argv[2]);
        auto reply = event(argv[3]);
        for (;;) {
            auto outcome = sync::waitOne(request, sync::Infinite);
            if (!outcome)
                return 1;
            (void)sync::setEvent(reply);
        }
    }
    if (command == "static-handle" && argc == 3) {
        staticHandle = event(argv[2]);
        return 0;
    }
    if (command == "idle-wait" && argc == 4) {
        auto handle = event(argv[2]);
        signal(argv[3]);
        (void)sync::waitOne(handle, sync::Infinite);
        return 0;
    }
    return 64;
}
