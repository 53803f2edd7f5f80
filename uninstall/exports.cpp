// The exported functions of TavioUnInst.dll: each calls the hook's own code.

#include "uninstall/tavio_uninst.h"

#include "uninstall/hook.h"
#include "uninstall/library_state.h"

#include "platform/sync.h"

namespace {

constexpr uint32_t ProcessDetach = 0;
constexpr uint32_t ProcessAttach = 1;

} // namespace

extern "C" {

// Runs every step of the hook with the real waits: about nine seconds.
uint32_t UninstInitialize(uint32_t, uint32_t, uint32_t)
{
    // NOTE: a lambda rather than the function itself, so that no type
    // information of a standard type leaks out as an export of the library.
    auto sleep = [](std::chrono::milliseconds duration) { platform::sync::sleep(duration); };
    return uninstall::Hook(uninstall::applicationFolder(), sleep).initialize();
}

// Nothing is left to do once the files are gone.
uint32_t UninstUnInitialize(uint32_t, uint32_t, uint32_t)
{
    return 0;
}

// Reads the application folder when the library comes into a process and
// forgets it when the library leaves; the load succeeds whatever the read gave.
int32_t DllMain(void* module, uint32_t reason, void*)
{
    if (reason == ProcessAttach)
        uninstall::attachProcess(module);
    else if (reason == ProcessDetach)
        uninstall::detachProcess();
    return 1;
}

} // extern "C"
