// A program the shell and process tests start from drive C:. It records what
// it was given in the machine journal as "recorder.argv" (count, arg0,
// arg1..., directory) and exits with the number of its arguments, so a test
// sees exactly what reached it.
//   --hold NAME   instead waits (at most 30 s) for the manual-reset event
//                 NAME, then exits 0; 3 when the time passed first.

#include "platform/journal.h"
#include "platform/paths.h"
#include "platform/sync.h"
#include "platform/text.h"

#include <filesystem>
#include <string>
#include <string_view>

int main(int argc, char** argv)
{
    using namespace std::chrono_literals;
    if (argc == 3 && std::string_view(argv[1]) == "--hold") {
        auto event = platform::sync::createEvent(platform::text::toUtf16(argv[2]), platform::sync::ResetMode::Manual,
            platform::sync::InitialState::NotSignalled);
        if (!event)
            return 4;
        auto outcome = platform::sync::waitOne(event->handle, 30s);
        return outcome && outcome->signalled() ? 0 : 3;
    }
    platform::journal::Fields fields { { "count", std::to_string(argc - 1) } };
    for (int i = 0; i < argc; ++i)
        fields.emplace_back("arg" + std::to_string(i), argv[i]);
    std::error_code error;
    auto directory = platform::paths::fromHost(std::filesystem::current_path(error));
    fields.emplace_back("directory", directory ? platform::text::toUtf8(*directory) : std::string("(host)"));
    platform::journal::record("recorder.argv", std::move(fields));
    return argc - 1;
}
