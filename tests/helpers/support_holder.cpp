// Holds a file open the way another program of the machine would while it
// reads or writes the menu data: support_holder <windows path>. Opens the
// file for reading and writing, sharing nothing, prints "ready" (or
// "error <code>") and keeps it open until it is killed; it gives up by
// itself after a minute so that it never outlives a broken test for long.

#include "platform/files.h"
#include "platform/text.h"

#include <chrono>
#include <cstdio>
#include <thread>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: support_holder <windows path>\n");
        return 2;
    }
    namespace files = platform::files;
    auto file = files::open(
        platform::text::toUtf16(argv[1]), files::Access::ReadWrite, files::Share::None, files::Create::OpenExisting);
    if (!file) {
        std::printf("error %u\n", file.code());
        std::fflush(stdout);
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::minutes(1));
    return 0;
}
