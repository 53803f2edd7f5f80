#pragma once

// What the library tells its callers about the installation and the user:
// machine-wide settings values, the application folder and version, the
// administrator test, and whether a file can be opened.

#include <cstdint>
#include <string_view>

namespace support {

// Reads a value of the settings key's machine-wide root (HKEY_LOCAL_MACHINE)
// with the platform's caller-buffer rules: `dataSize` holds the capacity in
// bytes on entry and the value's size on return; `type` and `data` may be
// null. Returns 0 or the platform's code: 2 for a missing key or value, 234
// when the buffer is too small, 87 for a missing key path or size.
uint32_t TavioUtilGetRegistry(
    const char16_t* keyPath, const char16_t* valueName, uint32_t* type, void* data, uint32_t* dataSize);

// The "ApplicationPath" value into a buffer of 260 units. Returns 0 or the
// platform's code.
uint32_t TavioUtilGetAppPath(char16_t* buffer);

// The "Version" value into a buffer of at least 130 units; the platform is
// offered 260 bytes, so a version of 130 characters or more gives 234 rather
// than a shortened text.
uint32_t TavioUtilGetAppVersion(char16_t* buffer);

// Nothing: the programs require the export to be present but never call it.
void InitSupportDLL();

// 0 when the process's token holds the Administrators group (S-1-5-32-544),
// whatever the group's attributes; 5 otherwise.
uint32_t IsAdministrator();

// 1 when the file can be opened (asking no access rights, sharing nothing,
// existing file only), 0 otherwise.
uint32_t FileExists(std::u16string_view path);

// The text of a string id in the calling thread's user-interface language,
// English when that language is not held, into a buffer of 260 units.
// Returns the units copied; 0 and an empty text for an id that is not held
// (and 0 with nothing written for a null buffer).
uint32_t TavioUtilGetString(uint32_t id, char16_t* buffer);

} // namespace support
