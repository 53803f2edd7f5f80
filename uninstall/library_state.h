#pragma once

// The hook's per-process state: the library's module handle and the
// application folder, both taken once when the library comes into a process.

#include "uninstall/hook.h"

namespace uninstall {

// Reads the application folder, the first time only: the platform's loader
// calls the library's start-up function and a plain load runs its
// constructor, and whichever comes first does the reading. `module` is kept
// when it is known.
void attachProcess(void* module);

// Forgets the folder when the library leaves the process: a library that
// the host keeps resident reads it afresh when it is attached again.
void detachProcess();

// The folder read at attach time (empty before it, or when it could not be read).
const PathBuffer& applicationFolder();

} // namespace uninstall
