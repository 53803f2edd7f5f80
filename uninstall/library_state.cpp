#include "uninstall/library_state.h"

#include <mutex>

namespace uninstall {

namespace {

std::mutex stateLock;
bool attached = false;
PathBuffer folder {};
void* libraryModule = nullptr;

} // namespace

void attachProcess(void* module)
{
    std::lock_guard guard(stateLock);
    if (module)
        libraryModule = module;
    if (attached)
        return;
    folder = readApplicationFolder();
    attached = true;
}

void detachProcess()
{
    std::lock_guard guard(stateLock);
    attached = false;
    folder = {};
    libraryModule = nullptr;
}

const PathBuffer& applicationFolder()
{
    return folder;
}

} // namespace uninstall
