#pragma once

#include "platform/result.h"
#include "platform/wmi.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::firmware {

// The tablet's firmware, which programs reach only through WMI (wmi.h): the
// class "keltoDockQuery" in "\\.\root\wmi" with one instance per value, each
// carrying "InstanceName" ("ACPI\PNP0C14\0_<n>") and "ulState":
//
//   0  the docking state word (read only)
//   1  the wireless radio: write 1 = on, 2 = off; reads 0 without a radio,
//      1 when it is off, 3 when it is on
//   2  the brightness setting, as last written
//
// and the event class "keltoDockEvent", raised when the docking state
// changes. This header is the machine's side of it, for the machine tool and
// for tests. Every write that reaches the firmware is journaled as
// "firmware.write", every raised event as "firmware.event".

inline constexpr std::u16string_view DataClass = u"keltoDockQuery";
inline constexpr std::u16string_view EventClass = u"keltoDockEvent";
inline constexpr std::u16string_view InstanceNameProperty = u"InstanceName";
inline constexpr std::u16string_view ValueProperty = u"ulState";
inline constexpr uint32_t InstanceCount = 3;

enum class Radio {
    None, // the machine has no radio: instance 1 reads 0 and ignores writes
    Off,
    On,
};
// NOTE: a firmware may lack the WMI mapping altogether; the class then has no
// instances at all, which programs must survive.
enum class Instances { Present, Absent };

struct State {
    uint32_t dockState { 0 };
    Radio radio { Radio::Off };
    int32_t brightness { 0 };
    Instances instances { Instances::Present };

    bool operator==(const State&) const = default;
};

// The firmware's state; 13 (invalid data) when the stored state is damaged.
Result<State> read();

// "ACPI\PNP0C14\0_<instance>"
std::u16string instanceName(uint32_t instance);
// The instance number a name stands for (ignoring case), or nothing.
std::optional<uint32_t> instanceNumber(std::u16string_view name);

// "ulState" of an instance as WMI reads it. NotFound for an instance the
// firmware does not have, ProviderFailure when the stored state is damaged.
wmi::Result<int32_t> readValue(uint32_t instance);
// What the firmware does with a value written to an instance's "ulState"
// (the end of WMI's putInstance). AccessDenied for the docking state.
wmi::Status writeValue(uint32_t instance, int32_t value);

// The machine's side: the dock changes its state word and raises
// "keltoDockEvent" to every subscriber on the machine.
Status dock(uint32_t state);
// Raises "keltoDockEvent" without a change; returns how many subscriptions
// it reached (0 while the WMI service is stopped).
size_t raiseDockEvent();
Status setRadio(Radio radio);
Status setInstances(Instances instances);

std::string_view radioName(Radio radio); // "none", "off", "on"

} // namespace platform::firmware
