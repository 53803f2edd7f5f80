// sndvol32.exe, the platform's volume control, over the machine's audio
// state in its configuration: "audio.volume" (0-100) and "audio.muted"
// (0 or 1). With no arguments it opens (prints the state); /mute, /unmute,
// /togglemute and /volume N change it. The whole command line is checked
// before anything changes, so a bad argument changes nothing.

#include "platform/config.h"
#include "platform/journal.h"

#include <charconv>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view VolumeSetting = "audio.volume";
constexpr std::string_view MutedSetting = "audio.muted";
constexpr int DefaultVolume = 100;

struct AudioState {
    int volume { DefaultVolume };
    bool muted { false };
};

std::optional<int> parseVolume(std::string_view text)
{
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0 || value > 100)
        return std::nullopt;
    return value;
}

// A missing or damaged setting reads as the machine's default.
AudioState readState()
{
    AudioState state;
    if (auto volume = platform::config::get(VolumeSetting))
        state.volume = parseVolume(*volume).value_or(DefaultVolume);
    if (auto muted = platform::config::get(MutedSetting))
        state.muted = *muted == "1";
    return state;
}

void print(const AudioState& state)
{
    std::cout << "volume " << state.volume << (state.muted ? " muted" : " not muted") << '\n';
}

int usage(const std::string& problem)
{
    std::cerr << "sndvol32.exe: " << problem
              << "\nusage: sndvol32.exe [/mute | /unmute | /togglemute] [/volume 0-100]\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    const AudioState before = readState();
    AudioState after = before;
    bool toggle = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "/mute" || argument == "-mute") {
            after.muted = true;
        } else if (argument == "/unmute" || argument == "-unmute") {
            after.muted = false;
        } else if (argument == "/togglemute" || argument == "-togglemute") {
            toggle = !toggle;
        } else if (argument == "/volume" || argument == "-volume") {
            if (i + 1 >= argc)
                return usage("/volume needs a number from 0 to 100");
            auto volume = parseVolume(argv[++i]);
            if (!volume)
                return usage("/volume takes a number from 0 to 100, not '" + std::string(argv[i]) + "'");
            after.volume = *volume;
        } else {
            return usage("unknown argument '" + std::string(argument) + "'");
        }
    }
    if (toggle)
        after.muted = !after.muted;

    if (argc == 1) {
        platform::journal::record(
            "volume.open", { { "volume", std::to_string(before.volume) }, { "muted", before.muted ? "1" : "0" } });
        print(before);
        return 0;
    }
    auto volumeSet = platform::config::set(VolumeSetting, std::to_string(after.volume));
    auto mutedSet = platform::config::set(MutedSetting, after.muted ? "1" : "0");
    if (!volumeSet || !mutedSet) {
        std::cerr << "sndvol32.exe: cannot store the audio state: "
                  << platform::describe(!volumeSet ? volumeSet.error() : mutedSet.error()) << '\n';
        return 1;
    }
    platform::journal::record(
        "volume.change", { { "volume", std::to_string(after.volume) }, { "muted", after.muted ? "1" : "0" } });
    print(after);
    return 0;
}
