#include "tools/machine_commands.h"

#include "platform/firmware.h"
#include "platform/text.h"
#include "platform/wmi.h"

#include <cstdio>

namespace tools {

namespace {

namespace firmware = platform::firmware;
namespace wmi = platform::wmi;

std::string hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// The firmware's values as a program reading them through WMI sees them.
int showFirmware(const Console& console)
{
    auto state = firmware::read();
    if (!state)
        return fail(console, ExitFailed,
            "firmware: the stored state is damaged (" + explain(state.error())
                + "); set every value again, e.g. 'firmware dock 0' and 'firmware radio present'");
    if (state->instances == firmware::Instances::Absent) {
        console.out << "keltoDockQuery has no instances (firmware without the WMI mapping)\n";
        return ExitSuccess;
    }
    const char* descriptions[firmware::InstanceCount] = { "docking state", "wireless", "brightness" };
    for (uint32_t instance = 0; instance < firmware::InstanceCount; ++instance) {
        auto value = firmware::readValue(instance);
        console.out << platform::text::toUtf8(firmware::instanceName(instance)) << "  ulState ";
        if (!value) {
            console.out << "unreadable: " << wmi::describe(value.error()) << '\n';
            continue;
        }
        if (instance == 0)
            console.out << hex(static_cast<uint32_t>(*value));
        else
            console.out << *value;
        console.out << "  (" << descriptions[instance];
        if (instance == 1)
            console.out << ": radio " << firmware::radioName(state->radio);
        console.out << ")\n";
    }
    return ExitSuccess;
}

int dockCommand(const Console& console, std::span<const std::string> args)
{
    if (args.size() != 1)
        return fail(console, ExitUsage, "firmware dock: expected one state word, e.g. 0x0C or 12");
    auto state = parseDword(args[0]);
    if (!state)
        return fail(console, ExitUsage, "firmware dock: '" + args[0] + "' is no 32-bit number (decimal or 0x hex)");
    auto status = firmware::dock(*state);
    if (!status)
        return fail(console, ExitFailed, "firmware dock: cannot change the state: " + explain(status.error()));
    console.out << "Docking state " << hex(*state) << "; keltoDockEvent raised\n";
    return ExitSuccess;
}

int radioCommand(const Console& console, std::span<const std::string> args)
{
    if (args.size() != 1 || (args[0] != "none" && args[0] != "present" && args[0] != "on" && args[0] != "off"))
        return fail(console, ExitUsage, "firmware radio: expected none, present, on or off");
    auto state = firmware::read();
    if (!state)
        return fail(console, ExitFailed, "firmware radio: the stored state is damaged: " + explain(state.error()));
    firmware::Radio radio = firmware::Radio::Off;
    if (args[0] == "none")
        radio = firmware::Radio::None;
    else if (args[0] == "on")
        radio = firmware::Radio::On;
    else if (args[0] == "present" && state->radio != firmware::Radio::None)
        radio = state->radio; // a radio already there keeps its power
    auto status = firmware::setRadio(radio);
    if (!status)
        return fail(console, ExitFailed, "firmware radio: cannot change the radio: " + explain(status.error()));
    console.out << "Radio " << firmware::radioName(radio) << '\n';
    return ExitSuccess;
}

int setCommand(const Console& console, std::span<const std::string> args)
{
    if (args.size() != 2)
        return fail(console, ExitUsage, "firmware set: expected INSTANCE VALUE, e.g. 'firmware set 2 1'");
    auto instance = parseDword(args[0]);
    if (!instance || *instance >= firmware::InstanceCount)
        return fail(console, ExitUsage, "firmware set: '" + args[0] + "' is no instance; use 0, 1 or 2");
    auto value = parseDword(args[1]);
    if (!value)
        return fail(console, ExitUsage, "firmware set: '" + args[1] + "' is no 32-bit number (decimal or 0x hex)");
    // The same write a program makes through WMI, with the firmware's answer.
    auto status = firmware::writeValue(*instance, static_cast<int32_t>(*value));
    if (!status)
        return fail(console, ExitFailed, "firmware set: the firmware refused: " + wmi::describe(status.error()));
    auto readBack = firmware::readValue(*instance);
    console.out << platform::text::toUtf8(firmware::instanceName(*instance)) << " reads "
                << (readBack ? std::to_string(*readBack) : wmi::describe(readBack.error())) << '\n';
    return ExitSuccess;
}

int instancesCommand(const Console& console, std::span<const std::string> args)
{
    if (args.size() != 1 || (args[0] != "present" && args[0] != "absent"))
        return fail(console, ExitUsage, "firmware instances: expected present or absent");
    auto status
        = firmware::setInstances(args[0] == "present" ? firmware::Instances::Present : firmware::Instances::Absent);
    if (!status)
        return fail(console, ExitFailed, "firmware instances: cannot change them: " + explain(status.error()));
    return ExitSuccess;
}

} // namespace

int runFirmwareCommand(const Console& console, std::span<const std::string> args)
{
    if (args.empty())
        return showFirmware(console);
    auto rest = args.subspan(1);
    if (args[0] == "dock")
        return dockCommand(console, rest);
    if (args[0] == "radio")
        return radioCommand(console, rest);
    if (args[0] == "set")
        return setCommand(console, rest);
    if (args[0] == "instances")
        return instancesCommand(console, rest);
    if (args[0] == "event" && rest.empty()) {
        size_t reached = firmware::raiseDockEvent();
        console.out << "keltoDockEvent reached " << reached << " subscription(s)\n";
        return ExitSuccess;
    }
    return fail(console, ExitUsage, "firmware: unknown operation '" + args[0] + "'; try 'tavio-machine --help'");
}

int runWmiCommand(const Console& console, std::span<const std::string> args)
{
    if (args.empty()) {
        console.out << (wmi::serviceState() == wmi::ServiceState::Running ? "running" : "stopped") << '\n';
        for (const auto& eventClass : wmi::liveSubscriptions())
            console.out << "subscription: " << platform::text::toUtf8(eventClass) << '\n';
        return ExitSuccess;
    }
    if (args.size() != 1 || (args[0] != "stop" && args[0] != "start"))
        return fail(console, ExitUsage, "wmi: expected stop or start");
    auto status = wmi::setServiceState(args[0] == "start" ? wmi::ServiceState::Running : wmi::ServiceState::Stopped);
    if (!status)
        return fail(console, ExitFailed, "wmi: cannot " + args[0] + " the service: " + explain(status.error()));
    return ExitSuccess;
}

} // namespace tools
