#include "support/library_info.h"

#include "common/names.h"
#include "common/settings.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/paths.h"
#include "platform/security.h"
#include "support/log.h"
#include "support/strings/string_table.h"

#include <algorithm>

namespace support {

namespace {

using platform::registry::ValueType;

// A REG_SZ value read into a fixed buffer of `units` units. The registry
// hands back the stored bytes as they are, so a value stored without its
// terminator, or of another type, would leave a text that runs past what
// was read; such values are refused and the buffer is left empty.
uint32_t readStringValue(std::u16string_view valueName, char16_t* buffer, uint32_t units)
{
    if (!buffer)
        return platform::toCode(platform::Error::InvalidParameter);
    std::fill_n(buffer, units, u'\0');
    uint32_t type = static_cast<uint32_t>(ValueType::String);
    uint32_t size = units * sizeof(char16_t);
    const std::u16string key(common::SettingsKey);
    const std::u16string name(valueName);
    uint32_t result = TavioUtilGetRegistry(key.c_str(), name.c_str(), &type, buffer, &size);
    if (result != 0)
        return result;
    const uint32_t read = size / sizeof(char16_t);
    const bool isText
        = type == static_cast<uint32_t>(ValueType::String) || type == static_cast<uint32_t>(ValueType::ExpandString);
    if (!isText) {
        std::fill_n(buffer, units, u'\0');
        return platform::toCode(platform::Error::InvalidData);
    }
    if (std::find(buffer, buffer + read, u'\0') == buffer + read) {
        if (read >= units) {
            std::fill_n(buffer, units, u'\0');
            return platform::toCode(platform::Error::MoreData);
        }
        buffer[read] = u'\0';
    }
    return 0;
}

} // namespace

uint32_t TavioUtilGetRegistry(
    const char16_t* keyPath, const char16_t* valueName, uint32_t* type, void* data, uint32_t* dataSize)
{
    logTrace(u"Enter TavioUtilGetRegistry\n");
    uint32_t result = platform::toCode(platform::Error::InvalidParameter);
    // NOTE: a null value name asks for the key's default value, as on the
    // platform; a null key path or size has no meaning and is refused.
    if (keyPath && dataSize) {
        ValueType valueType = type ? static_cast<ValueType>(*type) : ValueType::None;
        result = common::ReadRegistryValue(common::RootKey::LocalMachine, keyPath, valueName ? valueName : u"",
            type ? &valueType : nullptr, data, dataSize);
        if (type && result == 0)
            *type = static_cast<uint32_t>(valueType);
    }
    logTrace(u"Exit TavioUtilGetRegistry\n");
    return result;
}

uint32_t TavioUtilGetAppPath(char16_t* buffer)
{
    logTrace(u"Enter TavioUtilGetAppPath\n");
    uint32_t result = readStringValue(common::ValueApplicationPath, buffer, platform::paths::MaxPath);
    logTrace(u"Exit TavioUtilGetAppPath\n");
    return result;
}

uint32_t TavioUtilGetAppVersion(char16_t* buffer)
{
    logTrace(u"Enter TavioUtilGetAppVersion\n");
    // 260 bytes: 129 characters and the terminator.
    uint32_t result = readStringValue(common::ValueVersion, buffer, 130);
    logTrace(u"Exit TavioUtilGetAppVersion\n");
    return result;
}

void InitSupportDLL() { }

uint32_t IsAdministrator()
{
    logTrace(u"Enter IsAdministrator\n");
    uint32_t result = platform::toCode(platform::Error::AccessDenied);
    for (const auto& group : platform::security::tokenGroups()) {
        if (group == platform::security::AdministratorsGroup) {
            result = 0;
            break;
        }
    }
    logTrace(u"Exit IsAdministrator\n");
    return result;
}

uint32_t FileExists(std::u16string_view path)
{
    using namespace platform::files;
    auto file = open(path, Access::None, Share::None, Create::OpenExisting);
    return file.ok() ? 1 : 0;
}

uint32_t TavioUtilGetString(uint32_t id, char16_t* buffer)
{
    logTrace(u"Enter TavioUtilGetString\n");
    if (!buffer)
        return 0;
    return strings::copyString(id, platform::locale::threadUiLanguage(), buffer);
}

} // namespace support
