// Loads one library by the name given and reports what the loader did:
//   modules_loader NAME
// prints "loaded <file name> <handle>" and exits 0, or "error <code>" and
// exits 1. Tests copy this program into a folder to see the search order
// from there, and run it as a second process that loads the same library.

#include "platform/modules.h"
#include "platform/text.h"

#include <cinttypes>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: modules_loader NAME\n");
        return 2;
    }
    auto module = platform::modules::Module::load(platform::text::toUtf16(argv[1]));
    if (!module) {
        std::printf("error %" PRIu32 "\n", module.code());
        return 1;
    }
    auto fileName = module->fileName();
    std::printf("loaded %s %ju\n", platform::text::toUtf8(fileName.valueOr(u"?")).c_str(),
        static_cast<uintmax_t>(module->handle().value()));
    return 0;
}
