#pragma once

// The firmware as a WMI provider, for wmi.cpp only: the classes it serves in
// "\\.\root\wmi" and the objects it hands out.

#include "platform/wmi.h"

#include <optional>
#include <string_view>
#include <vector>

namespace platform::wmi::provider {

enum class ClassKind { Data, Event };

// The kind of a class of "\\.\root\wmi" (names ignore case), or nothing.
std::optional<ClassKind> findClass(std::u16string_view className);

// Every instance of a data class, read now.
Result<std::vector<ClassObject>> enumerate(std::u16string_view className);
// Writes an instance's values back to the firmware.
Status put(const ClassObject& instance, PutFlags flags);

// The object one delivery of an event class carries.
ClassObject eventObject(std::u16string_view className);

} // namespace platform::wmi::provider
