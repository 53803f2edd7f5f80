#include "vendor/state.h"

#include "vendor/keltovdisp.h"

#include "platform/config.h"
#include "platform/files.h"
#include "platform/journal.h"
#include "platform/paths.h"

#include <array>
#include <charconv>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

/*
 * The vendor display library's state, format version 1, in the machine
 * configuration:
 *
 *   "vendor.profile.current"   the loaded profile, "1" to "4"
 *   "vendor.profile.enabled"   the enabled-profiles mask, decimal
 *   "vendor.profile.defaults"  the fallback profile, "0" to "4"
 *   "vendor.profile.<n>"       the setup of profile n:
 *       "v1 topology=internal width=1024 height=768 bpp=32 frequency=60 orientation=0"
 *       topology is internal, external, clone or extended.
 *   "vendor.calls.<function>"  "v1 count=3 last=2": calls into the function
 *       and the argument of the last one.
 *
 * A value that is absent or cannot be read stands for its default: profile 1
 * loaded, every profile enabled, no fallback, and the profile setups below.
 */

namespace keltovdisp {

namespace {

using platform::Error;
using platform::display::Mode;
using platform::display::Topology;

constexpr std::string_view FormatVersion = "v1";
constexpr std::string_view CurrentSetting = "vendor.profile.current";
constexpr std::string_view EnabledSetting = "vendor.profile.enabled";
constexpr std::string_view DefaultsSetting = "vendor.profile.defaults";
constexpr uint32_t DefaultEnabled = 0x0F;
constexpr uint32_t ModeFields = platform::display::DM_PELSWIDTH | platform::display::DM_PELSHEIGHT
    | platform::display::DM_BITSPERPEL | platform::display::DM_DISPLAYFREQUENCY
    | platform::display::DM_DISPLAYORIENTATION;

constexpr std::array<std::pair<Topology, std::string_view>, 4> TopologyNames { {
    { Topology::Internal, "internal" },
    { Topology::External, "external" },
    { Topology::Clone, "clone" },
    { Topology::Extended, "extended" },
} };

// Undocked: the panel alone. Docked: the panel and the dock's monitor with
// the same picture. Write: the panel alone, turned to portrait for writing.
// Presentation: the panel and the projector with the same picture.
ProfileSetup defaultSetup(uint32_t profile)
{
    switch (profile) {
    case 2:
        return { Topology::Clone, { ModeFields, 1024, 768, 32, 0, 60, 0 } };
    case 3:
        return { Topology::Internal, { ModeFields, 768, 1024, 32, 1, 60, 0 } };
    case 4:
        return { Topology::Clone, { ModeFields, 1024, 768, 32, 0, 60, 0 } };
    default:
        return { Topology::Internal, { ModeFields, 1024, 768, 32, 0, 60, 0 } };
    }
}

std::optional<uint32_t> number(std::string_view text)
{
    uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

using Words = std::map<std::string, std::string, std::less<>>;

std::optional<Words> wordsOf(const std::optional<std::string>& value)
{
    if (!value || value->compare(0, FormatVersion.size() + 1, std::string(FormatVersion) + " ") != 0)
        return std::nullopt;
    Words words;
    std::string_view rest = std::string_view(*value).substr(FormatVersion.size() + 1);
    while (!rest.empty()) {
        size_t end = rest.find(' ');
        std::string_view word = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        size_t equals = word.find('=');
        if (equals != std::string_view::npos)
            words.emplace(std::string(word.substr(0, equals)), std::string(word.substr(equals + 1)));
    }
    return words;
}

std::optional<uint32_t> numberWord(const Words& words, std::string_view name)
{
    auto found = words.find(name);
    return found == words.end() ? std::nullopt : number(found->second);
}

uint32_t numberSetting(std::string_view name, uint32_t fallback, uint32_t maximum)
{
    auto value = platform::config::get(name);
    auto parsed = value ? number(*value) : std::nullopt;
    return parsed && *parsed <= maximum ? *parsed : fallback;
}

std::string profileSetting(uint32_t profile)
{
    return "vendor.profile." + std::to_string(profile);
}

std::string callSetting(std::string_view function)
{
    return "vendor.calls." + std::string(function);
}

std::u16string installedPath()
{
    return platform::paths::append(platform::paths::systemDirectory(), LibraryName);
}

} // namespace

platform::Result<ProfileSetup> profileSetup(uint32_t profile)
{
    if (profile < FirstProfile || profile > LastProfile)
        return Error::InvalidParameter;
    ProfileSetup setup = defaultSetup(profile);
    auto words = wordsOf(platform::config::get(profileSetting(profile)));
    if (!words)
        return setup;
    auto width = numberWord(*words, "width"), height = numberWord(*words, "height"), bpp = numberWord(*words, "bpp"),
         frequency = numberWord(*words, "frequency"), orientation = numberWord(*words, "orientation");
    auto topology = words->find("topology");
    if (!width || !height || !bpp || !frequency || !orientation || topology == words->end())
        return setup;
    for (const auto& [value, name] : TopologyNames) {
        if (topology->second == name)
            return ProfileSetup { value, { ModeFields, *width, *height, *bpp, *orientation, *frequency, 0 } };
    }
    return setup;
}

platform::Status setProfileSetup(uint32_t profile, const ProfileSetup& setup)
{
    if (profile < FirstProfile || profile > LastProfile || setup.mode.orientation > 3 || setup.mode.width == 0
        || setup.mode.height == 0)
        return Error::InvalidParameter;
    std::string topology;
    for (const auto& [value, name] : TopologyNames) {
        if (value == setup.topology)
            topology = name;
    }
    const Mode& mode = setup.mode;
    return platform::config::set(profileSetting(profile),
        std::string(FormatVersion) + " topology=" + topology + " width=" + std::to_string(mode.width)
            + " height=" + std::to_string(mode.height) + " bpp=" + std::to_string(mode.bitsPerPixel)
            + " frequency=" + std::to_string(mode.frequency) + " orientation=" + std::to_string(mode.orientation));
}

uint32_t currentProfile()
{
    uint32_t profile = numberSetting(CurrentSetting, FirstProfile, LastProfile);
    return profile < FirstProfile ? FirstProfile : profile;
}

platform::Status setCurrentProfile(uint32_t profile)
{
    if (profile < FirstProfile || profile > LastProfile)
        return Error::InvalidParameter;
    return platform::config::set(CurrentSetting, std::to_string(profile));
}

uint32_t enabledProfiles()
{
    return numberSetting(EnabledSetting, DefaultEnabled, 0xFF);
}

platform::Status setEnabledProfiles(uint32_t mask)
{
    if (mask > 0xFF)
        return Error::InvalidParameter;
    return platform::config::set(EnabledSetting, std::to_string(mask));
}

bool isEnabled(uint32_t mask, uint32_t profile)
{
    if (profile < FirstProfile || profile > LastProfile)
        return false;
    return (mask & ((1u << (profile - 1)) | (1u << (profile + 3)))) != 0;
}

uint32_t defaultProfile()
{
    return numberSetting(DefaultsSetting, 0, LastProfile);
}

platform::Status setDefaultProfile(uint32_t profile)
{
    if (profile > LastProfile)
        return Error::InvalidParameter;
    return platform::config::set(DefaultsSetting, std::to_string(profile));
}

CallCount calls(std::string_view function)
{
    CallCount count;
    auto words = wordsOf(platform::config::get(callSetting(function)));
    if (!words)
        return count;
    count.count = numberWord(*words, "count").value_or(0);
    if (auto last = words->find("last"); last != words->end())
        count.lastArgument = last->second;
    return count;
}

void recordCall(std::string_view function, std::string_view argument)
{
    // One step in the store, so that two programs calling at the same moment
    // both count.
    (void)platform::config::update(callSetting(function), [&](const std::optional<std::string>& current) {
        auto words = wordsOf(current);
        uint32_t count = words ? numberWord(*words, "count").value_or(0) : 0;
        return std::string(FormatVersion) + " count=" + std::to_string(count + 1) + " last=" + std::string(argument);
    });
    platform::journal::record(
        "vendor.call", { { "function", std::string(function) }, { "argument", std::string(argument) } });
}

void resetCalls()
{
    for (std::string_view function : FunctionNames)
        (void)platform::config::erase(callSetting(function));
}

platform::Status installLibrary(const std::filesystem::path& sourceFolder)
{
    auto imported = platform::files::importHostFile(
        sourceFolder / std::filesystem::path(std::u16string(LibraryName)), installedPath());
    if (!imported)
        return imported.error();
    platform::journal::record("vendor.install", { { "size", std::to_string(*imported) } });
    return {};
}

platform::Status removeLibrary()
{
    TRY_STATUS(platform::files::remove(installedPath()));
    platform::journal::record("vendor.remove");
    return {};
}

} // namespace keltovdisp
