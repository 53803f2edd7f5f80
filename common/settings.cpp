#include "common/settings.h"

#include "common/names.h"
#include "platform/files.h"
#include "platform/sync.h"
#include "platform/text.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

namespace common {

namespace registry = platform::registry;
using platform::Error;

namespace {

// Parameters as stored, or nothing when it cannot be read. A value that is
// not exactly four bytes counts as unreadable rather than as a partly filled
// word.
std::optional<uint32_t> readParametersWord()
{
    uint32_t value = 0;
    ValueType type = ValueType::None;
    uint32_t size = sizeof(value);
    if (ReadRegistryValue(RootKey::LocalMachine, SettingsKey, ValueParameters, &type, &value, &size) != 0)
        return std::nullopt;
    if (size != sizeof(value))
        return std::nullopt;
    return value;
}

// "ApplicationPath" without a terminator; empty when it cannot be read.
std::u16string readApplicationPath()
{
    std::array<char16_t, platform::paths::MaxPath> buffer {};
    ValueType type = ValueType::None;
    uint32_t size = sizeof(buffer);
    if (ReadRegistryValue(RootKey::LocalMachine, SettingsKey, ValueApplicationPath, &type, buffer.data(), &size) != 0)
        return {};
    if (type != ValueType::String && type != ValueType::ExpandString)
        return {};
    // NOTE: a value stored without its terminator must not run into the rest
    // of the buffer; only the units the value holds count.
    size_t units = std::min<size_t>(size / sizeof(char16_t), buffer.size());
    return std::u16string(buffer.data(), platform::text::boundedLength(buffer.data(), units));
}

} // namespace

uint32_t ReadRegistryValue(RootKey root, std::u16string_view keyPath, std::u16string_view valueName, ValueType* type,
    void* data, uint32_t* size)
{
    auto key = registry::openKey(root, keyPath, registry::Access::Read);
    if (!key)
        return key.code();
    return registry::queryValue(key.value(), valueName, type, data, size).code();
}

uint32_t WriteRegistryValue(RootKey root, std::u16string_view keyPath, std::u16string_view valueName, ValueType type,
    const void* data, uint32_t size)
{
    auto created = registry::createKey(root, keyPath, registry::Access::Write);
    if (!created)
        return created.code();
    std::span<const std::byte> bytes(static_cast<const std::byte*>(data), data ? size : 0);
    return registry::setValue(created->key, valueName, type, bytes).code();
}

uint32_t ReadParameters()
{
    auto flags = readParametersWord();
    if (!flags)
        return 0;
    if ((*flags & PARAM_LOCKED) && (*flags & PARAM_ALL_USERS)) {
        SetParameterBits(PARAM_ALL_USERS, 0);
        // NOTE: the lock overrides the all-users bit even when the clearing
        // write was refused (a standard user may not write the machine-wide
        // key); otherwise a locked machine would still hand out per-user
        // data folders.
        auto reread = readParametersWord();
        if (!reread)
            return 0;
        return (*reread & PARAM_LOCKED) ? (*reread & ~PARAM_ALL_USERS) : *reread;
    }
    return *flags;
}

uint32_t SetParameterBits(uint32_t mask, int32_t set)
{
    auto flags = readParametersWord();
    if (!flags)
        return 0;
    uint32_t value = set != 0 ? (*flags | mask) : (*flags & ~mask);
    uint32_t written = WriteRegistryValue(
        RootKey::LocalMachine, SettingsKey, ValueParameters, ValueType::Dword, &value, sizeof(value));
    return written == 0 ? 1 : 0;
}

uint32_t GetDataFilePath(std::span<char16_t, platform::paths::MaxPath> output)
{
    std::u16string folder;
    if (ReadParameters() & PARAM_ALL_USERS) {
        auto appData = platform::paths::knownFolder(platform::paths::KnownFolder::AppData);
        if (!appData)
            return 0;
        folder = *appData + u"\\" + std::u16string(PerUserFolderName);
        auto made = platform::files::createDirectory(folder);
        if (!made && made.error() != Error::AlreadyExists)
            return 0;
    } else {
        // An unreadable ApplicationPath leaves the folder part empty, so the
        // path becomes "\MenuData.txt" of the current drive.
        folder = readApplicationPath();
    }
    std::u16string path = folder + u"\\" + std::u16string(DataFileName);
    // A path that does not fit the buffer with its terminator is not cut:
    // a cut path would name another file.
    if (path.size() >= output.size())
        return 0;
    platform::text::copyTo(output, path);
    return 1;
}

uint32_t PulseNamedEvent(std::u16string_view eventName)
{
    auto event = platform::sync::openEvent(eventName);
    if (!event)
        return 0;
    return platform::sync::pulseEvent(event.value()).ok() ? 1 : 0;
}

} // namespace common
