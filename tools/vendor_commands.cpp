#include "tools/device_commands.h"

#include "vendor/keltovdisp.h"
#include "vendor/state.h"

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/security.h"
#include "platform/text.h"

#include <charconv>
#include <cstdio>

namespace tools {

namespace {

using platform::display::Topology;

constexpr std::pair<Topology, std::string_view> TopologyNames[] = {
    { Topology::Internal, "internal" },
    { Topology::External, "external" },
    { Topology::Clone, "clone" },
    { Topology::Extended, "extended" },
};

constexpr std::string_view ProfileNames[] = { "undocked", "docked", "write", "presentation" };

std::string topologyName(Topology topology)
{
    for (const auto& [value, name] : TopologyNames) {
        if (value == topology)
            return std::string(name);
    }
    return "unknown";
}

std::optional<uint32_t> parseProfile(std::string_view text)
{
    uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    if (value < keltovdisp::FirstProfile || value > keltovdisp::LastProfile)
        return std::nullopt;
    return value;
}

bool libraryInstalled()
{
    return platform::files::attributes(
        platform::paths::append(platform::paths::systemDirectory(), keltovdisp::LibraryName))
        .ok();
}

int showVendor(const Console& console)
{
    char mask[16];
    std::snprintf(mask, sizeof mask, "0x%02X", keltovdisp::enabledProfiles());
    console.out << "library: " << (libraryInstalled() ? "installed in " : "missing from ")
                << platform::text::toUtf8(platform::paths::systemDirectory()) << '\n'
                << "current profile: " << keltovdisp::currentProfile() << '\n'
                << "enabled profiles: " << mask << '\n'
                << "fallback profile: " << keltovdisp::defaultProfile() << '\n';
    for (uint32_t profile = keltovdisp::FirstProfile; profile <= keltovdisp::LastProfile; ++profile) {
        auto setup = keltovdisp::profileSetup(profile);
        if (!setup)
            continue;
        console.out << "profile " << profile << " (" << ProfileNames[profile - 1]
                    << "): " << topologyName(setup->topology) << ", " << setup->mode.width << " x "
                    << setup->mode.height << ", " << setup->mode.bitsPerPixel << " bits, orientation "
                    << setup->mode.orientation
                    << (keltovdisp::isEnabled(keltovdisp::enabledProfiles(), profile) ? "" : ", disabled") << '\n';
    }
    console.out << "calls:\n";
    for (std::string_view function : keltovdisp::FunctionNames) {
        auto calls = keltovdisp::calls(function);
        console.out << "  " << function << ' ' << calls.count;
        if (calls.count > 0)
            console.out << " (last " << calls.lastArgument << ')';
        console.out << '\n';
    }
    return ExitSuccess;
}

int setupCommand(const Console& console, std::span<const std::string> args)
{
    if (args.size() < 3 || args.size() > 5)
        return fail(console, ExitUsage, "vendor setup: expected PROFILE TOPOLOGY WIDTHxHEIGHT [BPP] [ORIENTATION]");
    auto profile = parseProfile(args[0]);
    if (!profile)
        return fail(console, ExitUsage, "vendor setup: the profile is 1 to 4, not '" + args[0] + "'");
    auto setup = keltovdisp::profileSetup(*profile);
    if (!setup)
        return fail(console, ExitFailed, "vendor setup: " + explain(setup.error()));
    bool known = false;
    for (const auto& [value, name] : TopologyNames) {
        if (args[1] == name) {
            setup->topology = value;
            known = true;
        }
    }
    if (!known)
        return fail(console, ExitUsage, "vendor setup: the topology is internal, external, clone or extended");
    unsigned width = 0, height = 0, bpp = setup->mode.bitsPerPixel, orientation = 0;
    char rest = 0;
    if (std::sscanf(args[2].c_str(), "%ux%u%c", &width, &height, &rest) != 2 || width == 0 || height == 0)
        return fail(console, ExitUsage, "vendor setup: '" + args[2] + "' is not a size like 1024x768");
    if (args.size() >= 4 && (std::sscanf(args[3].c_str(), "%u%c", &bpp, &rest) != 1 || bpp == 0))
        return fail(console, ExitUsage, "vendor setup: '" + args[3] + "' is not a number of bits per pixel");
    if (args.size() == 5 && (std::sscanf(args[4].c_str(), "%u%c", &orientation, &rest) != 1 || orientation > 3))
        return fail(console, ExitUsage, "vendor setup: the orientation is 0, 1, 2 or 3");
    setup->mode.width = width;
    setup->mode.height = height;
    setup->mode.bitsPerPixel = bpp;
    setup->mode.orientation = orientation;
    auto status = keltovdisp::setProfileSetup(*profile, *setup);
    return status ? ExitSuccess : fail(console, ExitFailed, "vendor setup: " + explain(status.error()));
}

} // namespace

int runVendorCommand(const Console& console, std::span<const std::string> args)
{
    if (args.empty())
        return showVendor(console);
    const std::string& command = args[0];
    if (command == "profile" && args.size() == 2) {
        auto profile = parseProfile(args[1]);
        if (!profile)
            return fail(console, ExitUsage, "vendor profile: the profile is 1 to 4, not '" + args[1] + "'");
        auto status = keltovdisp::setCurrentProfile(*profile);
        return status ? ExitSuccess : fail(console, ExitFailed, "vendor profile: " + explain(status.error()));
    }
    if (command == "enabled" && args.size() == 2) {
        auto mask = parseDword(args[1]);
        if (!mask || *mask > 0xFF)
            return fail(console, ExitUsage, "vendor enabled: the mask is 0 to 0xFF, not '" + args[1] + "'");
        auto status = keltovdisp::setEnabledProfiles(*mask);
        return status ? ExitSuccess : fail(console, ExitFailed, "vendor enabled: " + explain(status.error()));
    }
    if (command == "setup")
        return setupCommand(console, args.subspan(1));
    if (command == "reset-calls" && args.size() == 1) {
        keltovdisp::resetCalls();
        return ExitSuccess;
    }
    if ((command == "install" || command == "remove") && args.size() == 1) {
        // The driver's files are the machine builder's to place, whoever the
        // current user is.
        platform::security::runElevated();
        auto status = command == "install" ? keltovdisp::installLibrary(ownFolder()) : keltovdisp::removeLibrary();
        if (!status)
            return fail(console, ExitFailed, "vendor " + command + ": " + explain(status.error()));
        return ExitSuccess;
    }
    return fail(console, ExitUsage,
        "vendor: expected no arguments, 'profile N', 'enabled MASK', 'setup N TOPOLOGY WxH [BPP] [ORIENTATION]', "
        "'reset-calls', 'install' or 'remove'");
}

} // namespace tools
