#pragma once

// The vendor display library's settings, kept as machine state so that every
// process loading the library, the machine tool and the tests see the same
// profiles, and the count of calls into each of its functions.

#include "platform/display.h"
#include "platform/result.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace keltovdisp {

inline constexpr uint32_t FirstProfile = 1;
inline constexpr uint32_t LastProfile = 4;

// The display configuration a profile stands for: which outputs show a
// picture and the mode of the primary display.
struct ProfileSetup {
    platform::display::Topology topology { platform::display::Topology::Internal };
    platform::display::Mode mode;

    friend bool operator==(const ProfileSetup&, const ProfileSetup&) = default;
};

// Profile 1 undocked, 2 docked, 3 write, 4 presentation; 87 for another.
platform::Result<ProfileSetup> profileSetup(uint32_t profile);
platform::Status setProfileSetup(uint32_t profile, const ProfileSetup& setup);

// The loaded profile, 1-4 (1 on a fresh machine).
uint32_t currentProfile();
platform::Status setCurrentProfile(uint32_t profile);

// The enabled-profiles mask: profile n counts as enabled when bit n-1 or bit
// n+3 is set. 0x0F (every profile) on a fresh machine; 87 for bits above 0xFF.
uint32_t enabledProfiles();
platform::Status setEnabledProfiles(uint32_t mask);
bool isEnabled(uint32_t mask, uint32_t profile);

// The profile the driver falls back to, 0 for none (the default).
uint32_t defaultProfile();
platform::Status setDefaultProfile(uint32_t profile);

struct CallCount {
    uint32_t count { 0 };
    std::string lastArgument; // the number passed, or "pointer" / "null"
};
// How often a function of the library was called on this machine.
CallCount calls(std::string_view function);
// Counts one call (two programs calling at once both count) and records
// "vendor.call" in the journal.
void recordCall(std::string_view function, std::string_view argument);
void resetCalls();

// Copies the library from a host folder into C:\WINDOWS\System32, or removes
// it from there (2 when it is not there). Both act as the current user.
platform::Status installLibrary(const std::filesystem::path& sourceFolder);
platform::Status removeLibrary();

} // namespace keltovdisp
