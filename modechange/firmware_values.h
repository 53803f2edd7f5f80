#pragma once

// The firmware's values through WMI: the docking state (instance 0), the
// wireless radio (instance 1) and the brightness setting (instance 2) of the
// class "keltoDockQuery" in "\\.\root\wmi".

#include "platform/wmi.h"

#include <cstdint>
#include <memory>

namespace modechange {

inline constexpr std::u16string_view WmiNamespace = u"\\\\.\\root\\wmi";
inline constexpr uint32_t FirmwareDockState = 0;
inline constexpr uint32_t FirmwareWireless = 1;
inline constexpr uint32_t FirmwareBrightness = 2;
// Values written to the wireless instance.
inline constexpr uint32_t WirelessOn = 1;
inline constexpr uint32_t WirelessOff = 2;

// Connects to "\\.\root\wmi" with the service's proxy security.
platform::wmi::Result<std::shared_ptr<platform::wmi::Services>> ConnectWmi();
// The proxy security every connection of the service uses.
platform::wmi::ProxyBlanket serviceProxyBlanket();

// The connection of the process that the firmware operations use: the dock
// monitor's while it runs. Publishing null releases it.
void setWmiServices(std::shared_ptr<platform::wmi::Services> services);
std::shared_ptr<platform::wmi::Services> wmiServices();

// Reads "ulState" of a firmware instance into `value`: 0 when read (also when
// no instance carries the name: `value` is then left as it was), -1 when the
// instance's value could not be read, otherwise the WMI error code (also of
// the connection, when no connection could be made).
int32_t GetFirmwareValue(uint32_t instance, uint32_t& value);
// Writes "ulState" of a firmware instance: 0 when stored (or no instance
// carries the name), otherwise the WMI error code of the failing step.
int32_t SetFirmwareValue(uint32_t instance, uint32_t value);

// The switches "Wireless_on" (request 1) and "Wireless_off" (2) of a one-shot
// run: 0 on success, -1 when no connection could be made, else the WMI error.
int32_t SetWirelessFromCommandLine(uint32_t request);

} // namespace modechange
