#include "uninstall/library_state.h"

#include <mutex>

namespace uninstall {

namespace {

std::once_flag folderRead;
PathBuffer folder {};
void* libraryModule = nullptr;

} // namespace

void attachProcess(void* module)
{
    if (module)
        libraryModule = module;
    std::call_once(folderRead, [] { folder = readApplicationFolder(); });
}

const PathBuffer& applicationFolder()
{
    return folder;
}

} // namespace uninstall
