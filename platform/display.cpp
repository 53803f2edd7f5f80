#include "platform/display.h"

#include "platform/config.h"
#include "platform/journal.h"
#include "platform/store_p.h"
#include "platform/text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <map>

/*
 * The display state, format version 1, kept in the machine configuration so
 * that every process sees one adapter:
 *
 *   "display.device.1"  DISPLAY1 (internal panel)
 *   "display.device.2"  DISPLAY2 (external output)
 *       "v1 width=1024 height=768 bpp=32 frequency=60 orientation=0 flags=0
 *        saved.width=1024 saved.height=768 saved.bpp=32 saved.frequency=60
 *        saved.orientation=0 saved.flags=0"          (one line)
 *       the current mode, then the mode saved for the next start.
 *   "display.topology"  "v1 internal" | "v1 external" | "v1 clone" | "v1 extended"
 *   "display.driver"    "v1 depths=32,24,16 rotation=1 orientation-field=1
 *                        restart=0 fail=0 sizes=640x480,800x600,1024x768"
 *
 * Fields are words "name=value" separated by blanks, numbers in decimal. A
 * missing value, one of another version, or one that cannot be read stands
 * for the defaults: both devices at 1024 x 768, 32 bits, 60 Hz, orientation
 * 0; the internal panel alone; a driver that takes 32, 24 and 16 bits and
 * every orientation. The next change writes a whole value again.
 */

namespace platform::display {

namespace {

constexpr std::string_view FormatVersion = "v1";
constexpr std::string_view TopologySetting = "display.topology";
constexpr std::string_view DriverSetting = "display.driver";

constexpr uint32_t ReportedFields
    = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFLAGS | DM_DISPLAYFREQUENCY;
constexpr uint32_t KnownChangeFlags
    = CDS_UPDATEREGISTRY | CDS_TEST | CDS_FULLSCREEN | CDS_GLOBAL | CDS_SET_PRIMARY | CDS_NORESET | CDS_RESET;

struct DeviceSlot {
    std::u16string_view name;
    std::u16string_view description;
    std::string_view setting;
};

constexpr std::array<DeviceSlot, 2> Slots { {
    { InternalDevice, u"Internal panel", "display.device.1" },
    { ExternalDevice, u"External output", "display.device.2" },
} };

struct StoredDevice {
    Mode current;
    Mode saved;
};

Mode defaultMode()
{
    return { ReportedFields | DM_DISPLAYORIENTATION, 1024, 768, 32, DMDO_DEFAULT, 60, 0 };
}

using Words = std::map<std::string, std::string, std::less<>>;

// The words of a versioned value, or nothing when it is absent, of another
// version or malformed.
std::optional<Words> wordsOf(const std::optional<std::string>& value)
{
    if (!value)
        return std::nullopt;
    Words words;
    std::string_view rest = *value;
    bool first = true;
    while (!rest.empty()) {
        size_t end = rest.find(' ');
        std::string_view word = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (word.empty())
            continue;
        if (first) {
            if (word != FormatVersion)
                return std::nullopt;
            first = false;
            continue;
        }
        size_t equals = word.find('=');
        if (equals == std::string_view::npos)
            words.emplace(std::string(word), std::string());
        else
            words.emplace(std::string(word.substr(0, equals)), std::string(word.substr(equals + 1)));
    }
    if (first)
        return std::nullopt;
    return words;
}

std::optional<uint32_t> number(std::string_view text)
{
    uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::optional<uint32_t> numberWord(const Words& words, std::string_view name)
{
    auto found = words.find(name);
    return found == words.end() ? std::nullopt : number(found->second);
}

std::optional<Mode> modeOf(const Words& words, std::string_view prefix)
{
    auto field = [&](std::string_view name) { return numberWord(words, std::string(prefix) + std::string(name)); };
    auto width = field("width"), height = field("height"), bpp = field("bpp"), frequency = field("frequency"),
         orientation = field("orientation"), flags = field("flags");
    if (!width || !height || !bpp || !frequency || !orientation || !flags || *orientation > DMDO_270)
        return std::nullopt;
    return Mode { ReportedFields | DM_DISPLAYORIENTATION, *width, *height, *bpp, *orientation, *frequency, *flags };
}

std::string textOf(const Mode& mode, std::string_view prefix)
{
    std::string text;
    auto add = [&](std::string_view name, uint32_t value) {
        text += ' ';
        text += prefix;
        text += name;
        text += '=';
        text += std::to_string(value);
    };
    add("width", mode.width);
    add("height", mode.height);
    add("bpp", mode.bitsPerPixel);
    add("frequency", mode.frequency);
    add("orientation", mode.orientation);
    add("flags", mode.displayFlags);
    return text;
}

StoredDevice loadDevice(const DeviceSlot& slot)
{
    auto words = wordsOf(config::get(slot.setting));
    StoredDevice device { defaultMode(), defaultMode() };
    if (!words)
        return device;
    auto current = modeOf(*words, "");
    auto saved = modeOf(*words, "saved.");
    if (current && saved)
        device = { *current, *saved };
    return device;
}

Status storeDevice(const DeviceSlot& slot, const StoredDevice& device)
{
    return config::set(
        slot.setting, std::string(FormatVersion) + textOf(device.current, "") + textOf(device.saved, "saved."));
}

constexpr std::array<std::pair<Topology, std::string_view>, 4> TopologyNames { {
    { Topology::Internal, "internal" },
    { Topology::External, "external" },
    { Topology::Clone, "clone" },
    { Topology::Extended, "extended" },
} };

Topology loadTopology()
{
    auto words = wordsOf(config::get(TopologySetting));
    if (words && words->size() == 1) {
        for (const auto& [value, name] : TopologyNames) {
            if (words->begin()->first == name)
                return value;
        }
    }
    return Topology::Internal;
}

bool isActive(Topology topology, size_t slot)
{
    switch (topology) {
    case Topology::Internal:
        return slot == 0;
    case Topology::External:
        return slot == 1;
    case Topology::Clone:
    case Topology::Extended:
        return true;
    }
    return false;
}

size_t primarySlot(Topology topology)
{
    return topology == Topology::External ? 1 : 0;
}

std::vector<uint32_t> numberList(std::string_view text, char separator)
{
    std::vector<uint32_t> values;
    while (!text.empty()) {
        size_t end = text.find(separator);
        auto value = number(text.substr(0, end));
        if (!value)
            return {};
        values.push_back(*value);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return values;
}

Driver loadDriver()
{
    Driver driver;
    auto words = wordsOf(config::get(DriverSetting));
    if (!words)
        return driver;
    Driver stored;
    auto flag = [&](std::string_view name, bool& target) {
        if (auto value = numberWord(*words, name))
            target = *value != 0;
    };
    flag("rotation", stored.rotation);
    flag("orientation-field", stored.orientationField);
    flag("restart", stored.needsRestart);
    flag("fail", stored.failing);
    if (auto depths = words->find("depths"); depths != words->end())
        stored.depths = numberList(depths->second, ',');
    if (auto sizes = words->find("sizes"); sizes != words->end()) {
        stored.sizes.clear();
        std::string_view rest = sizes->second;
        while (!rest.empty()) {
            size_t end = rest.find(',');
            auto pair = numberList(rest.substr(0, end), 'x');
            if (pair.size() != 2)
                return driver;
            stored.sizes.emplace_back(pair[0], pair[1]);
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        }
    }
    if (stored.depths.empty() || stored.sizes.empty())
        return driver;
    return stored;
}

// The mode as the driver reports it: without the orientation field when the
// driver has none.
Mode reported(Mode mode, const Driver& driver)
{
    mode.fields = ReportedFields | (driver.orientationField ? DM_DISPLAYORIENTATION : 0);
    if (!driver.orientationField)
        mode.orientation = DMDO_DEFAULT;
    return mode;
}

bool isPortrait(uint32_t orientation)
{
    return orientation == DMDO_90 || orientation == DMDO_270;
}

bool driverAccepts(const Driver& driver, const Mode& mode)
{
    if (std::find(driver.depths.begin(), driver.depths.end(), mode.bitsPerPixel) == driver.depths.end())
        return false;
    if (mode.orientation > DMDO_270)
        return false;
    if (mode.orientation != DMDO_DEFAULT && (!driver.rotation || !driver.orientationField))
        return false;
    // A portrait mode is a landscape size turned on its side.
    auto size = isPortrait(mode.orientation) ? std::pair(mode.height, mode.width) : std::pair(mode.width, mode.height);
    if (std::find(driver.sizes.begin(), driver.sizes.end(), size) == driver.sizes.end())
        return false;
    return mode.frequency != 0;
}

std::optional<size_t> slotOf(std::u16string_view name, Topology topology)
{
    if (name.empty())
        return primarySlot(topology);
    for (size_t i = 0; i < Slots.size(); ++i) {
        if (text::equalsIgnoreCase(Slots[i].name, name))
            return i;
    }
    return std::nullopt;
}

journal::Fields modeFields(std::u16string_view device, const Mode& mode, uint32_t flags)
{
    return { { "device", text::toUtf8(device) }, { "width", std::to_string(mode.width) },
        { "height", std::to_string(mode.height) }, { "bpp", std::to_string(mode.bitsPerPixel) },
        { "orientation", std::to_string(mode.orientation) }, { "frequency", std::to_string(mode.frequency) },
        { "flags", std::to_string(flags) } };
}

} // namespace

std::optional<std::u16string> deviceName(std::u16string_view name)
{
    for (const auto& slot : Slots) {
        if (text::equalsIgnoreCase(slot.name, name) || text::equalsIgnoreCase(slot.name.substr(4), name))
            return std::u16string(slot.name);
    }
    return std::nullopt;
}

Result<Mode> currentSettings(std::u16string_view device, uint32_t flags)
{
    if ((flags & ~EDS_RAWMODE) != 0)
        return Error::InvalidParameter;
    std::optional<Mode> mode;
    Error failure = Error::Success;
    auto status = store::transact(store::Mode::Read, [&]() -> Status {
        mode.reset();
        failure = Error::Success;
        Topology topology = loadTopology();
        auto slot = slotOf(device, topology);
        if (!slot)
            failure = Error::InvalidParameter;
        else if (!isActive(topology, *slot))
            failure = Error::GenFailure;
        else
            mode = reported(loadDevice(Slots[*slot]).current, loadDriver());
        return {};
    });
    if (!status)
        return status.error();
    if (!mode)
        return failure;
    return *mode;
}

Result<Mode> savedSettings(std::u16string_view device)
{
    std::optional<Mode> mode;
    auto status = store::transact(store::Mode::Read, [&]() -> Status {
        mode.reset();
        if (auto slot = slotOf(device, loadTopology()))
            mode = reported(loadDevice(Slots[*slot]).saved, loadDriver());
        return {};
    });
    if (!status)
        return status.error();
    if (!mode)
        return Error::InvalidParameter;
    return *mode;
}

ChangeResult changeSettings(std::u16string_view device, const std::optional<Mode>& mode, uint32_t flags)
{
    ChangeResult answer = ChangeResult::Successful;
    std::u16string target;
    Mode wanted;
    bool applied = false;
    auto status = store::transact(store::Mode::Write, [&]() -> Status {
        applied = false;
        Topology topology = loadTopology();
        auto slot = slotOf(device, topology);
        target = slot ? std::u16string(Slots[*slot].name) : std::u16string(device);
        if (!slot) {
            answer = ChangeResult::BadParam;
            return {};
        }
        if ((flags & ~KnownChangeFlags) != 0
            || ((flags & (CDS_GLOBAL | CDS_NORESET)) != 0 && (flags & CDS_UPDATEREGISTRY) == 0)) {
            answer = ChangeResult::BadFlags;
            return {};
        }
        StoredDevice stored = loadDevice(Slots[*slot]);
        wanted = mode ? stored.current : stored.saved;
        if (mode) {
            if (mode->fields & DM_PELSWIDTH)
                wanted.width = mode->width;
            if (mode->fields & DM_PELSHEIGHT)
                wanted.height = mode->height;
            if (mode->fields & DM_BITSPERPEL)
                wanted.bitsPerPixel = mode->bitsPerPixel;
            if (mode->fields & DM_DISPLAYORIENTATION)
                wanted.orientation = mode->orientation;
            if (mode->fields & DM_DISPLAYFREQUENCY)
                wanted.frequency = mode->frequency;
            if (mode->fields & DM_DISPLAYFLAGS)
                wanted.displayFlags = mode->displayFlags;
        }
        const Driver driver = loadDriver();
        const bool saving = (flags & CDS_UPDATEREGISTRY) != 0;
        const bool showing = (flags & CDS_NORESET) == 0 && !driver.needsRestart;
        if (driver.failing) {
            answer = ChangeResult::Failed;
        } else if (!driverAccepts(driver, wanted)) {
            answer = ChangeResult::BadMode;
        } else if (!isActive(topology, *slot) && !saving) {
            // NOTE: an output that is off has no picture to change; its mode
            // can only be saved for when it comes on.
            answer = ChangeResult::BadParam;
        } else if (flags & CDS_TEST) {
            answer = ChangeResult::Successful;
        } else {
            if (saving)
                stored.saved = wanted;
            if (showing && isActive(topology, *slot))
                stored.current = wanted;
            TRY_STATUS(storeDevice(Slots[*slot], stored));
            answer = driver.needsRestart ? ChangeResult::Restart : ChangeResult::Successful;
            applied = true;
        }
        return {};
    });
    if (!status)
        return (flags & CDS_UPDATEREGISTRY) ? ChangeResult::NotUpdated : ChangeResult::Failed;
    if (flags & CDS_TEST)
        return answer;
    auto fields = modeFields(target, wanted, flags);
    if (applied) {
        if (answer == ChangeResult::Restart)
            fields.emplace_back("restart", "1");
        journal::record("display.change", std::move(fields));
    } else {
        fields.emplace_back("answer", std::to_string(static_cast<int32_t>(answer)));
        journal::record("display.refused", std::move(fields));
    }
    return answer;
}

std::vector<Device> devices()
{
    std::vector<Device> list;
    auto status = store::transact(store::Mode::Read, [&]() -> Status {
        list.clear();
        Topology topology = loadTopology();
        Driver driver = loadDriver();
        for (size_t i = 0; i < Slots.size(); ++i) {
            StoredDevice stored = loadDevice(Slots[i]);
            list.push_back({ std::u16string(Slots[i].name), std::u16string(Slots[i].description), isActive(topology, i),
                primarySlot(topology) == i, reported(stored.current, driver), reported(stored.saved, driver) });
        }
        return {};
    });
    (void)status;
    return list;
}

Topology topology()
{
    Topology value = Topology::Internal;
    auto status = store::transact(store::Mode::Read, [&]() -> Status {
        value = loadTopology();
        return {};
    });
    (void)status;
    return value;
}

Status setTopology(Topology topology)
{
    std::string name;
    for (const auto& [value, text] : TopologyNames) {
        if (value == topology)
            name = text;
    }
    if (name.empty())
        return Error::InvalidParameter;
    TRY_STATUS(store::transact(store::Mode::Write, [&]() -> Status {
        Topology before = loadTopology();
        for (size_t i = 0; i < Slots.size(); ++i) {
            if (isActive(before, i) || !isActive(topology, i))
                continue;
            // An output coming on shows the mode saved for it.
            StoredDevice stored = loadDevice(Slots[i]);
            stored.current = stored.saved;
            TRY_STATUS(storeDevice(Slots[i], stored));
        }
        return config::set(TopologySetting, std::string(FormatVersion) + " " + name);
    }));
    journal::record("display.topology", { { "topology", name } });
    return {};
}

Driver driver()
{
    Driver value;
    auto status = store::transact(store::Mode::Read, [&]() -> Status {
        value = loadDriver();
        return {};
    });
    (void)status;
    return value;
}

Status setDriver(const Driver& driver)
{
    if (driver.depths.empty() || driver.sizes.empty())
        return Error::InvalidParameter;
    std::string depths, sizes;
    for (uint32_t depth : driver.depths) {
        if (depth != 8 && depth != 16 && depth != 24 && depth != 32)
            return Error::InvalidParameter;
        depths += (depths.empty() ? "" : ",") + std::to_string(depth);
    }
    for (const auto& [width, height] : driver.sizes) {
        if (width == 0 || height == 0)
            return Error::InvalidParameter;
        sizes += (sizes.empty() ? "" : ",") + std::to_string(width) + "x" + std::to_string(height);
    }
    std::string value = std::string(FormatVersion) + " depths=" + depths + " rotation=" + (driver.rotation ? "1" : "0")
        + " orientation-field=" + (driver.orientationField ? "1" : "0")
        + " restart=" + (driver.needsRestart ? "1" : "0") + " fail=" + (driver.failing ? "1" : "0") + " sizes=" + sizes;
    return config::set(DriverSetting, value);
}

Status setMode(std::u16string_view device, const Mode& mode)
{
    auto name = deviceName(device);
    if (!name || mode.orientation > DMDO_270 || mode.width == 0 || mode.height == 0 || mode.bitsPerPixel == 0
        || mode.frequency == 0)
        return Error::InvalidParameter;
    Mode stored = mode;
    stored.fields = ReportedFields | DM_DISPLAYORIENTATION;
    for (const auto& slot : Slots) {
        if (slot.name == *name)
            TRY_STATUS(storeDevice(slot, { stored, stored }));
    }
    journal::record("display.set", modeFields(*name, stored, 0));
    return {};
}

} // namespace platform::display
