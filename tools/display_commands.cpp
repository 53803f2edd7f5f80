#include "tools/device_commands.h"

#include "platform/config.h"
#include "platform/display.h"
#include "platform/input.h"
#include "platform/power.h"
#include "platform/text.h"

#include <charconv>

namespace tools {

namespace {

using platform::display::Topology;

std::optional<uint32_t> parseNumber(std::string_view text)
{
    uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// "1024x768" into width and height.
std::optional<std::pair<uint32_t, uint32_t>> parseSize(std::string_view text)
{
    size_t x = text.find_first_of("xX");
    if (x == std::string_view::npos)
        return std::nullopt;
    auto width = parseNumber(text.substr(0, x));
    auto height = parseNumber(text.substr(x + 1));
    if (!width || !height || *width == 0 || *height == 0)
        return std::nullopt;
    return std::pair(*width, *height);
}

std::optional<bool> parseSwitch(std::string_view text)
{
    if (text == "on")
        return true;
    if (text == "off")
        return false;
    return std::nullopt;
}

constexpr std::pair<Topology, std::string_view> TopologyNames[] = {
    { Topology::Internal, "internal" },
    { Topology::External, "external" },
    { Topology::Clone, "clone" },
    { Topology::Extended, "extended" },
};

std::string describeMode(const platform::display::Mode& mode)
{
    std::string text = std::to_string(mode.width) + " x " + std::to_string(mode.height) + ", "
        + std::to_string(mode.bitsPerPixel) + " bits, " + std::to_string(mode.frequency) + " Hz";
    if (mode.fields & platform::display::DM_DISPLAYORIENTATION)
        text += ", orientation " + std::to_string(mode.orientation);
    else
        text += ", no orientation field";
    return text;
}

std::string joined(const std::vector<uint32_t>& values)
{
    std::string text;
    for (uint32_t value : values)
        text += (text.empty() ? "" : ",") + std::to_string(value);
    return text;
}

void showDriver(const Console& console)
{
    auto driver = platform::display::driver();
    std::string sizes;
    for (const auto& [width, height] : driver.sizes)
        sizes += (sizes.empty() ? "" : ",") + std::to_string(width) + "x" + std::to_string(height);
    console.out << "driver: depths " << joined(driver.depths) << "; rotation " << (driver.rotation ? "on" : "off")
                << "; orientation field " << (driver.orientationField ? "on" : "off") << "; restart "
                << (driver.needsRestart ? "on" : "off") << "; fail " << (driver.failing ? "on" : "off") << "; sizes "
                << sizes << '\n';
}

int showDisplay(const Console& console)
{
    for (const auto& device : platform::display::devices()) {
        console.out << platform::text::toUtf8(device.name) << "  " << platform::text::toUtf8(device.description)
                    << (device.active ? ", active" : ", inactive") << (device.primary ? ", primary" : "") << '\n'
                    << "    current: " << describeMode(device.current) << '\n'
                    << "    saved:   " << describeMode(device.saved) << '\n';
    }
    for (const auto& [value, name] : TopologyNames) {
        if (value == platform::display::topology())
            console.out << "topology: " << name << '\n';
    }
    showDriver(console);
    return ExitSuccess;
}

int setDisplay(const Console& console, std::span<const std::string> args)
{
    if (args.size() < 2 || args.size() > 4)
        return fail(console, ExitUsage, "display set: expected DEVICE WIDTHxHEIGHT [BPP] [ORIENTATION]");
    auto device = platform::display::deviceName(platform::text::toUtf16(args[0]));
    if (!device)
        return fail(console, ExitUsage, "display set: no device '" + args[0] + "'; there are DISPLAY1 and DISPLAY2");
    auto size = parseSize(args[1]);
    if (!size)
        return fail(console, ExitUsage, "display set: '" + args[1] + "' is not a size like 1024x768");
    platform::display::Mode mode;
    for (const auto& existing : platform::display::devices()) {
        if (existing.name == *device)
            mode = existing.current;
    }
    mode.width = size->first;
    mode.height = size->second;
    if (args.size() >= 3) {
        auto bpp = parseNumber(args[2]);
        if (!bpp || *bpp == 0)
            return fail(console, ExitUsage, "display set: '" + args[2] + "' is not a number of bits per pixel");
        mode.bitsPerPixel = *bpp;
    }
    if (args.size() == 4) {
        auto orientation = parseNumber(args[3]);
        if (!orientation || *orientation > 3)
            return fail(console, ExitUsage, "display set: the orientation is 0, 1, 2 or 3, not '" + args[3] + "'");
        mode.orientation = *orientation;
    }
    auto status = platform::display::setMode(*device, mode);
    if (!status)
        return fail(console, ExitFailed, "display set: " + explain(status.error()));
    return ExitSuccess;
}

int setDriver(const Console& console, std::span<const std::string> args)
{
    if (args.empty()) {
        showDriver(console);
        return ExitSuccess;
    }
    auto driver = platform::display::driver();
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (i + 1 >= args.size())
            return fail(console, ExitUsage, "display driver: " + option + " needs a value");
        const std::string& value = args[++i];
        if (option == "--depths") {
            driver.depths.clear();
            std::string_view rest = value;
            while (!rest.empty()) {
                size_t comma = rest.find(',');
                auto depth = parseNumber(rest.substr(0, comma));
                if (!depth)
                    return fail(console, ExitUsage, "display driver: '" + value + "' is not a list like 32,24,16");
                driver.depths.push_back(*depth);
                rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            }
        } else if (option == "--sizes") {
            driver.sizes.clear();
            std::string_view rest = value;
            while (!rest.empty()) {
                size_t comma = rest.find(',');
                auto size = parseSize(rest.substr(0, comma));
                if (!size)
                    return fail(
                        console, ExitUsage, "display driver: '" + value + "' is not a list like 800x600,1024x768");
                driver.sizes.push_back(*size);
                rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            }
        } else {
            auto on = parseSwitch(value);
            if (!on)
                return fail(console, ExitUsage, "display driver: " + option + " takes on or off");
            if (option == "--rotation")
                driver.rotation = *on;
            else if (option == "--orientation-field")
                driver.orientationField = *on;
            else if (option == "--restart")
                driver.needsRestart = *on;
            else if (option == "--fail")
                driver.failing = *on;
            else
                return fail(console, ExitUsage, "display driver: unknown option '" + option + "'");
        }
    }
    auto status = platform::display::setDriver(driver);
    if (!status)
        return fail(console, ExitFailed, "display driver: " + explain(status.error()) + " (depths are 8, 16, 24, 32)");
    return ExitSuccess;
}

int setTopology(const Console& console, std::span<const std::string> args)
{
    if (args.size() == 1) {
        for (const auto& [value, name] : TopologyNames) {
            if (args[0] != name)
                continue;
            auto status = platform::display::setTopology(value);
            if (!status)
                return fail(console, ExitFailed, "display topology: " + explain(status.error()));
            return ExitSuccess;
        }
    }
    return fail(console, ExitUsage, "display topology: expected internal, external, clone or extended");
}

} // namespace

int runDisplayCommand(const Console& console, std::span<const std::string> args)
{
    if (args.empty())
        return showDisplay(console);
    if (args[0] == "set")
        return setDisplay(console, args.subspan(1));
    if (args[0] == "driver")
        return setDriver(console, args.subspan(1));
    if (args[0] == "topology")
        return setTopology(console, args.subspan(1));
    return fail(console, ExitUsage, "display: unknown subcommand '" + args[0] + "'");
}

int runAudioCommand(const Console& console, std::span<const std::string> args)
{
    if (args.empty()) {
        console.out << "muted: " << (platform::input::audioMuted() ? "yes" : "no") << '\n'
                    << "volume: " << platform::config::get("audio.volume").value_or("(not set)") << '\n';
        return ExitSuccess;
    }
    if (args.size() == 2 && args[0] == "mute") {
        if (auto on = parseSwitch(args[1])) {
            auto status = platform::input::setAudioMuted(*on);
            return status ? ExitSuccess : fail(console, ExitFailed, "audio mute: " + explain(status.error()));
        }
    }
    return fail(console, ExitUsage, "audio: expected no arguments or 'mute on|off'");
}

int runClipboardCommand(const Console& console, std::span<const std::string> args)
{
    if (args.empty()) {
        auto picture = platform::input::clipboardPicture();
        if (!picture) {
            console.out << "empty\n";
            return ExitSuccess;
        }
        console.out << "picture (format " << picture->format << "): " << picture->width << " x " << picture->height
                    << ", "
                    << (picture->source == platform::input::Capture::Screen ? "the screen" : "the active window")
                    << ", capture " << picture->sequence << '\n'
                    << "file: " << picture->file.string() << '\n';
        return ExitSuccess;
    }
    if (args.size() == 1 && args[0] == "empty") {
        auto status = platform::input::emptyClipboard();
        return status ? ExitSuccess : fail(console, ExitFailed, "clipboard empty: " + explain(status.error()));
    }
    return fail(console, ExitUsage, "clipboard: expected no arguments or 'empty'");
}

int runPowerCommand(const Console& console, std::span<const std::string> args)
{
    using namespace platform::power;
    if (args.empty()) {
        auto current = state();
        console.out << "shutdown privilege: " << (shutdownPolicy() == Policy::Granted ? "granted" : "denied") << '\n'
                    << "hibernation: " << (hibernationEnabled() ? "on" : "off") << '\n'
                    << "state: " << current.last << " (" << current.requests << " requests)\n";
        return ExitSuccess;
    }
    if (args.size() == 2 && args[0] == "policy" && (args[1] == "grant" || args[1] == "deny")) {
        auto status = setShutdownPolicy(args[1] == "grant" ? Policy::Granted : Policy::Denied);
        return status ? ExitSuccess : fail(console, ExitFailed, "power policy: " + explain(status.error()));
    }
    if (args.size() == 2 && args[0] == "hibernate") {
        if (auto on = parseSwitch(args[1])) {
            auto status = setHibernationEnabled(*on);
            return status ? ExitSuccess : fail(console, ExitFailed, "power hibernate: " + explain(status.error()));
        }
    }
    return fail(console, ExitUsage, "power: expected no arguments, 'policy grant|deny' or 'hibernate on|off'");
}

} // namespace tools
