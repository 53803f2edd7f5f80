#pragma once

// The exported entry points of TavioUnInst.dll, the uninstall hook that the
// product's uninstaller loads by name and calls around the removal of the
// installed files.

#include <cstdint>

#define TAVIO_UNINST_API __attribute__((visibility("default")))

extern "C" {

// Deletes the shared menu data files of the application folder, tells the
// tray launcher and the mode change service to exit and gives them 5000 ms and
// 4000 ms to do so. The arguments are not used; the result is always 0.
TAVIO_UNINST_API uint32_t UninstInitialize(uint32_t, uint32_t, uint32_t);

// Called after the removal; does nothing and returns 0.
TAVIO_UNINST_API uint32_t UninstUnInitialize(uint32_t, uint32_t, uint32_t);

// The library's start-up, called by the platform's module loader: reason 1
// (process attach) reads the application folder. Always nonzero.
TAVIO_UNINST_API int32_t DllMain(void* module, uint32_t reason, void* reserved);

} // extern "C"
