// The library's start-up when the host loads it, whether or not through the
// platform's loader (which calls DllMain afterwards; see
// support::attachProcess for which of the two runs the start-up).
//
// NOTE: this file is linked after every static library of TavioSupport.DLL
// (see support/CMakeLists.txt), so that its constructor runs after the
// initialisation of the platform code it calls: the loader runs a library's
// initialisers in link order.

#include "support/library_state.h"

namespace {

__attribute__((constructor)) void attachLibrary()
{
    support::attachProcess();
}

} // namespace
