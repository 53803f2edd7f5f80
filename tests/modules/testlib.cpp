// A tiny library for the module loader's tests, built in three forms:
//   TESTLIB.DLL   its start-up succeeds
//   FAILINIT.DLL  its start-up refuses (returns 0 on process attach)
//   NOINIT.DLL    it has no start-up function at all
// When MODULES_TESTLIB_LOG names a host file, every start-up call appends
// "<attach|detach> <pid> <module>" to it, so that a test sees the calls even
// after the library is gone.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#define TESTLIB_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

int32_t attachCount = 0;
void* attachModule = nullptr;

[[maybe_unused]] void logCall(const char* what, void* module)
{
    const char* log = std::getenv("MODULES_TESTLIB_LOG");
    if (!log || !*log)
        return;
    if (FILE* file = std::fopen(log, "a")) {
        std::fprintf(file, "%s %d %ju\n", what, static_cast<int>(getpid()),
            static_cast<uintmax_t>(reinterpret_cast<uintptr_t>(module)));
        std::fclose(file);
    }
}

} // namespace

#if !defined(MODULES_TESTLIB_NOINIT)
TESTLIB_EXPORT int32_t DllMain(void* module, uint32_t reason, void* /*reserved*/)
{
    if (reason == 1) {
        ++attachCount;
        attachModule = module;
        logCall("attach", module);
#if defined(MODULES_TESTLIB_FAILINIT)
        return 0;
#endif
    } else if (reason == 0) {
        logCall("detach", module);
    }
    return 1;
}
#endif

TESTLIB_EXPORT int32_t TestLibAttachCount()
{
    return attachCount;
}

TESTLIB_EXPORT void* TestLibAttachModule()
{
    return attachModule;
}

TESTLIB_EXPORT int32_t TestLibAdd(int32_t left, int32_t right)
{
    return left + right;
}
