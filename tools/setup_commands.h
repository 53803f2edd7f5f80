#pragma once

#include <filesystem>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tools {

// The product's installer: puts the deliverables into the application folder
// of the machine and writes the machine-wide settings that the programs rely
// on. Runs elevated, whoever the machine's current user is.
int runSetupTool(std::vector<std::string> args, std::ostream& out, std::ostream& err);

// One file the installer puts into the application folder.
struct Deliverable {
    std::string_view fileName; // as built, and as installed
    std::string_view what; // for the installer's listing
};

// Every file the product installs, in the order they are listed; files not
// built yet are skipped.
std::span<const Deliverable> deliverables();

// The settings the installer writes under HKEY_LOCAL_MACHINE.
inline constexpr std::u16string_view SettingsKey = u"Software\\KELTO\\Tavio Menu";
inline constexpr std::u16string_view ApplicationFolder = u"C:\\Program Files\\Tavio Menu";
inline constexpr std::u16string_view HelpFileName = u"TavioMenu.hlp";

} // namespace tools
