// The library's start-up when it is loaded without the platform's loader.
//
// NOTE: this file is linked after every static library of TavioUnInst.dll
// (see uninstall/CMakeLists.txt), so that its constructor runs after the
// initialisation of the platform code it calls: the loader runs a library's
// initialisers in link order.

#include "uninstall/library_state.h"

namespace {

__attribute__((constructor)) void attachLibrary()
{
    uninstall::attachProcess(nullptr);
}

} // namespace
