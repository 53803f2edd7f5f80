#include "platform/firmware.h"
#include "platform/wmi_events_p.h"
#include "platform/wmi_firmware_p.h"

#include "platform/config.h"
#include "platform/journal.h"
#include "platform/store_p.h"
#include "platform/text.h"

#include <charconv>
#include <functional>

namespace platform::firmware {

namespace {

/*
 * The firmware's state, machine configuration value "firmware", format 1:
 *
 *     1 dock=<decimal> radio=none|off|on brightness=<signed decimal> instances=present|absent
 *
 * The version comes first; fields are separated by single spaces and may come
 * in any order. A field left out takes its default (dock=0 radio=off
 * brightness=0 instances=present), and so does a machine without the value.
 * A value of another version, an unknown field or a bad number is damage:
 * reads report it and writes refuse to replace it.
 */
constexpr std::string_view StateName = "firmware";
constexpr std::string_view FormatVersion = "1";

template <typename Number> std::optional<Number> parseNumber(std::string_view text)
{
    Number value {};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::optional<State> parse(std::string_view stored)
{
    State state;
    bool versionSeen = false;
    while (!stored.empty()) {
        size_t space = stored.find(' ');
        std::string_view field = stored.substr(0, space);
        stored = space == std::string_view::npos ? std::string_view() : stored.substr(space + 1);
        if (!versionSeen) {
            if (field != FormatVersion)
                return std::nullopt;
            versionSeen = true;
            continue;
        }
        size_t equals = field.find('=');
        if (equals == std::string_view::npos)
            return std::nullopt;
        std::string_view key = field.substr(0, equals);
        std::string_view value = field.substr(equals + 1);
        if (key == "dock") {
            auto number = parseNumber<uint32_t>(value);
            if (!number)
                return std::nullopt;
            state.dockState = *number;
        } else if (key == "brightness") {
            auto number = parseNumber<int32_t>(value);
            if (!number)
                return std::nullopt;
            state.brightness = *number;
        } else if (key == "radio" && (value == "none" || value == "off" || value == "on")) {
            state.radio = value == "none" ? Radio::None : value == "off" ? Radio::Off : Radio::On;
        } else if (key == "instances" && (value == "present" || value == "absent")) {
            state.instances = value == "present" ? Instances::Present : Instances::Absent;
        } else {
            return std::nullopt;
        }
    }
    if (!versionSeen)
        return std::nullopt;
    return state;
}

std::string format(const State& state)
{
    return std::string(FormatVersion) + " dock=" + std::to_string(state.dockState)
        + " radio=" + std::string(radioName(state.radio)) + " brightness=" + std::to_string(state.brightness)
        + " instances=" + (state.instances == Instances::Present ? "present" : "absent");
}

// Reads, changes and stores the state as one unit, so that two processes
// changing different values lose neither change.
Status update(const std::function<Status(State&)>& change)
{
    return store::transact(store::Mode::Write, [&]() -> Status {
        TRY_RESULT(state, read());
        TRY_STATUS(change(state));
        return config::set(StateName, format(state));
    });
}

int32_t radioValue(Radio radio)
{
    switch (radio) {
    case Radio::None:
        return 0;
    case Radio::Off:
        return 1;
    case Radio::On:
        return 3;
    }
    return 0;
}

} // namespace

Result<State> read()
{
    auto stored = config::get(StateName);
    if (!stored)
        return State {};
    auto state = parse(*stored);
    if (!state)
        return Error::InvalidData;
    return *state;
}

std::string_view radioName(Radio radio)
{
    switch (radio) {
    case Radio::None:
        return "none";
    case Radio::Off:
        return "off";
    case Radio::On:
        return "on";
    }
    return "none";
}

std::u16string instanceName(uint32_t instance)
{
    return u"ACPI\\PNP0C14\\0_" + text::toUtf16(std::to_string(instance));
}

std::optional<uint32_t> instanceNumber(std::u16string_view name)
{
    for (uint32_t instance = 0; instance < InstanceCount; ++instance) {
        if (text::equalsIgnoreCase(name, instanceName(instance)))
            return instance;
    }
    return std::nullopt;
}

wmi::Result<int32_t> readValue(uint32_t instance)
{
    auto state = read();
    if (!state)
        return wmi::HResult::ProviderFailure;
    if (state->instances == Instances::Absent || instance >= InstanceCount)
        return wmi::HResult::NotFound;
    switch (instance) {
    case 0:
        return static_cast<int32_t>(state->dockState);
    case 1:
        return radioValue(state->radio);
    default:
        return state->brightness;
    }
}

wmi::Status writeValue(uint32_t instance, int32_t value)
{
    wmi::HResult answer = wmi::HResult::Ok;
    std::string effect;
    auto status = update([&](State& state) -> Status {
        answer = wmi::HResult::Ok;
        if (state.instances == Instances::Absent || instance >= InstanceCount) {
            answer = wmi::HResult::NotFound;
            effect = "no such instance";
        } else if (instance == 0) {
            // The docking state comes from the dock; no program sets it.
            answer = wmi::HResult::AccessDenied;
            effect = "refused";
        } else if (instance == 1) {
            // NOTE: a machine without a radio, and any request but 1 and 2,
            // leave the radio as it is and still report success, as the
            // firmware's method does.
            if (state.radio == Radio::None || (value != 1 && value != 2)) {
                effect = "ignored";
            } else {
                state.radio = value == 1 ? Radio::On : Radio::Off;
                effect = value == 1 ? "radio on" : "radio off";
            }
        } else {
            state.brightness = value;
            effect = "brightness";
        }
        return {};
    });
    if (!status) {
        answer = wmi::HResult::ProviderFailure;
        effect = "state damaged";
    }
    journal::record("firmware.write",
        { { "instance", std::to_string(instance) }, { "value", std::to_string(value) }, { "effect", effect },
            { "result", std::string(wmi::hresultName(answer)) } });
    return answer;
}

size_t raiseDockEvent()
{
    auto state = read();
    size_t reached = 0;
    if (wmi::serviceState() == wmi::ServiceState::Running)
        reached = wmi::events::raise(EventClass);
    journal::record("firmware.event",
        { { "class", text::toUtf8(EventClass) },
            { "dock", state ? std::to_string(state->dockState) : std::string("damaged") },
            { "subscribers", std::to_string(reached) } });
    return reached;
}

Status dock(uint32_t dockState)
{
    TRY_STATUS(update([&](State& state) -> Status {
        state.dockState = dockState;
        return {};
    }));
    (void)raiseDockEvent();
    return {};
}

Status setRadio(Radio radio)
{
    return update([&](State& state) -> Status {
        state.radio = radio;
        return {};
    });
}

Status setInstances(Instances instances)
{
    return update([&](State& state) -> Status {
        state.instances = instances;
        return {};
    });
}

} // namespace platform::firmware

namespace platform::wmi::provider {

std::optional<ClassKind> findClass(std::u16string_view className)
{
    if (text::equalsIgnoreCase(className, firmware::DataClass))
        return ClassKind::Data;
    if (text::equalsIgnoreCase(className, firmware::EventClass))
        return ClassKind::Event;
    return std::nullopt;
}

Result<std::vector<ClassObject>> enumerate(std::u16string_view className)
{
    auto kind = findClass(className);
    if (!kind)
        return HResult::InvalidClass;
    std::vector<ClassObject> instances;
    // Events exist only while they are delivered.
    if (*kind == ClassKind::Event)
        return instances;
    auto state = firmware::read();
    if (!state)
        return HResult::ProviderFailure;
    if (state->instances == firmware::Instances::Absent)
        return instances;
    for (uint32_t instance = 0; instance < firmware::InstanceCount; ++instance) {
        auto value = firmware::readValue(instance);
        if (!value)
            return value.error();
        ClassObject object { std::u16string(firmware::DataClass) };
        object.define(std::u16string(firmware::InstanceNameProperty), firmware::instanceName(instance));
        object.define(std::u16string(firmware::ValueProperty), *value);
        instances.push_back(std::move(object));
    }
    return instances;
}

Status put(const ClassObject& instance, PutFlags flags)
{
    if (findClass(instance.className()) != ClassKind::Data)
        return HResult::InvalidClass;
    auto name = instance.getText(firmware::InstanceNameProperty);
    if (!name)
        return HResult::InvalidObject;
    auto number = firmware::instanceNumber(*name);
    if (!number)
        return flags == PutFlags::UpdateOnly ? HResult::NotFound : HResult::NotSupported;
    if (flags == PutFlags::CreateOnly)
        return HResult::AlreadyExists;
    auto value = instance.getInt32(firmware::ValueProperty);
    if (!value)
        return value.error();
    return firmware::writeValue(*number, *value);
}

ClassObject eventObject(std::u16string_view className)
{
    // NOTE: the event says which device raised it and nothing more; whoever
    // wants the new state reads instance 0, which is current by then.
    ClassObject event { std::u16string(className) };
    event.define(std::u16string(firmware::InstanceNameProperty), firmware::instanceName(0));
    return event;
}

} // namespace platform::wmi::provider
