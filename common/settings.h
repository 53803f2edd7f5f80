#pragma once

// The small operations that the support library, the properties applet and
// the mode change service carry out in exactly the same way: registry
// values, the Parameters word, the data folder and request signals.
//
// Results are the platform's numeric codes (0 for success) rather than
// platform::Error, because the callers pass them on unchanged through their
// exported functions.

#include "platform/paths.h"
#include "platform/registry.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace common {

using RootKey = platform::registry::Root;
using ValueType = platform::registry::ValueType;

// Reads a value with the platform's caller-buffer rules: `size` holds the
// buffer's capacity in bytes on entry and the value's size on return; `type`
// and `data` may be null. Returns 0, or the code of the first failing call
// (2 for a missing key or value, 234 when the buffer is too small).
uint32_t ReadRegistryValue(RootKey root, std::u16string_view keyPath, std::u16string_view valueName, ValueType* type,
    void* data, uint32_t* size);

// Creates the key (and its missing parents) or opens it, then sets the value.
// Returns 0, or the code of the first failing call (5 for a standard user
// under HKEY_LOCAL_MACHINE).
uint32_t WriteRegistryValue(RootKey root, std::u16string_view keyPath, std::u16string_view valueName, ValueType type,
    const void* data, uint32_t size);

// The machine-wide Parameters word; 0 when it cannot be read. When both
// PARAM_LOCKED and PARAM_ALL_USERS are set, PARAM_ALL_USERS is cleared in the
// registry and the cleared word is returned.
uint32_t ReadParameters();

// Sets (set != 0) or clears the bits of `mask` in Parameters. Returns 1 when
// written, 0 when Parameters is absent or cannot be written (nothing is
// created then).
uint32_t SetParameterBits(uint32_t mask, int32_t set);

// Writes the full path of MenuData.txt into `output` and returns 1; returns 0
// and leaves `output` untouched when the per-user data folder cannot be made
// or the path does not fit.
uint32_t GetDataFilePath(std::span<char16_t, platform::paths::MaxPath> output);

// Pulses a named event once. Nonzero when it was pulsed, 0 when there is no
// such event: the program that would wait on it is not running.
uint32_t PulseNamedEvent(std::u16string_view eventName);

} // namespace common
