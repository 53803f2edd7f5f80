#include "tools/setup_commands.h"

#include "tools/tool_common.h"
#include "tools/uninstall_command.h"

#include "platform/files.h"
#include "platform/journal.h"
#include "platform/machine.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/text.h"

#include <array>
#include <fstream>
#include <iomanip>

#ifndef TAVIO_VERSION
#define TAVIO_VERSION "0.0.0"
#endif

namespace tools {

namespace {

constexpr std::string_view ProgramName = "tavio-setup";

constexpr std::array Deliverables {
    Deliverable { "TavioSupport.DLL", "support library" },
    Deliverable { "TavioMenu.exe", "quick menu" },
    Deliverable { "TavioIcon.exe", "tray launcher" },
    Deliverable { "Modewatch.exe", "mode change service" },
    Deliverable { "tavioutility.cpl", "properties applet" },
    Deliverable { "TavioUnInst.dll", "uninstall hook" },
    Deliverable { "BlankHtm.htm", "blank page for finding the web browser" },
    Deliverable { "TavioMenu.hlp", "help file" },
};

struct Installed {
    const Deliverable* deliverable;
    uint64_t size;
};

// Copies one host file into the machine, with the platform's own codes for a
// destination held open by a running program.
platform::Status installFile(const std::filesystem::path& source, std::u16string_view destination, uint64_t& size)
{
    auto imported = platform::files::importHostFile(source, destination);
    if (!imported)
        return imported.error();
    size = *imported;
    return {};
}

platform::Status writeSettings()
{
    using namespace platform::registry;
    auto created = createKey(Root::LocalMachine, SettingsKey, Access::Write);
    if (!created)
        return created.error();
    const Key& key = created->key;
    TRY_STATUS(setString(key, u"ApplicationPath", ApplicationFolder));
    TRY_STATUS(setString(key, u"Version", platform::text::toUtf16(TAVIO_VERSION)));
    TRY_STATUS(setString(key, u"HelpFileName", HelpFileName));
    TRY_STATUS(setDword(key, u"Parameters", 0));
    return {};
}

int install(const Console& console, std::span<const std::string> args)
{
    std::filesystem::path source = ownFolder();
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--source" && i + 1 < args.size() && !args[i + 1].empty())
            source = args[++i];
        else if (args[i] == "--source")
            return fail(console, ExitUsage, "install: --source needs a folder");
        else
            return fail(console, ExitUsage, "install: unknown option '" + args[i] + "'");
    }
    if (!platform::machine::exists())
        return fail(console, ExitFailed,
            "no machine at " + platform::machine::root().string()
                + " (set TAVIO_MACHINE, or make one with 'tavio-machine init')");

    // An installer asks for elevation once and then may write anywhere.
    platform::security::runElevated();
    recordObjectManager(RecordMode::IfStale);

    auto made = platform::files::createDirectory(ApplicationFolder);
    if (!made && made.error() != platform::Error::AlreadyExists)
        return fail(console, ExitFailed,
            "install: cannot make " + platform::text::toUtf8(ApplicationFolder) + ": " + explain(made.error()));

    std::vector<Installed> installed;
    for (const auto& deliverable : Deliverables) {
        std::filesystem::path from = source / deliverable.fileName;
        std::error_code ignored;
        if (!std::filesystem::is_regular_file(from, ignored))
            continue;
        std::u16string to = platform::paths::append(ApplicationFolder, platform::text::toUtf16(deliverable.fileName));
        uint64_t size = 0;
        auto status = installFile(from, to, size);
        if (!status)
            return fail(console, ExitFailed,
                "install: cannot copy " + from.string() + " to " + platform::text::toUtf8(to) + ": "
                    + explain(status.error()));
        installed.push_back({ &deliverable, size });
    }

    if (auto status = writeSettings(); !status)
        return fail(console, ExitFailed,
            "install: cannot write HKEY_LOCAL_MACHINE\\" + platform::text::toUtf8(SettingsKey) + ": "
                + explain(status.error()));

    std::string fileList;
    for (const auto& file : installed) {
        if (!fileList.empty())
            fileList += ',';
        fileList += file.deliverable->fileName;
    }
    platform::journal::record("setup.install",
        { { "folder", platform::text::toUtf8(ApplicationFolder) }, { "version", TAVIO_VERSION },
            { "files", fileList } });

    console.out << "Installed Tavio Menu " << TAVIO_VERSION << " into " << platform::text::toUtf8(ApplicationFolder)
                << " from " << source.string() << "\n\n";
    console.out << "  " << std::left << std::setw(20) << "File" << std::right << std::setw(10) << "Bytes"
                << "  What\n";
    for (const auto& file : installed)
        console.out << "  " << std::left << std::setw(20) << file.deliverable->fileName << std::right << std::setw(10)
                    << file.size << "  " << file.deliverable->what << '\n';
    if (installed.empty())
        console.out << "  (no deliverable was found beside the installer)\n";
    console.out << "\nSettings under HKEY_LOCAL_MACHINE\\" << platform::text::toUtf8(SettingsKey) << ":\n"
                << "  ApplicationPath = " << platform::text::toUtf8(ApplicationFolder) << '\n'
                << "  Version         = " << TAVIO_VERSION << '\n'
                << "  HelpFileName    = " << platform::text::toUtf8(HelpFileName) << '\n'
                << "  Parameters      = 0\n";
    return ExitSuccess;
}

void printHelp(std::ostream& out)
{
    out << "usage: " << ProgramName << " install [--source FOLDER]\n"
        << "       " << ProgramName << " uninstall\n\n"
        << "install    copies the product's files into " << platform::text::toUtf8(ApplicationFolder)
        << "\n           of the machine at TAVIO_MACHINE and writes its settings under\n"
        << "           HKEY_LOCAL_MACHINE\\" << platform::text::toUtf8(SettingsKey) << ".\n"
        << "           The files come from the installer's own folder, or from FOLDER.\n"
        << "uninstall  tells the running programs to exit (about 9 seconds), removes the\n"
        << "           product's files, its folder when empty, its machine-wide settings\n"
        << "           and its logon start value. The users' data and settings stay.\n";
}

} // namespace

std::span<const Deliverable> deliverables()
{
    return Deliverables;
}

int runSetupTool(std::vector<std::string> args, std::ostream& out, std::ostream& err)
{
    const Console console { out, err, ProgramName };
    if (args.empty())
        return fail(console, ExitUsage, "no command given; try '" + std::string(ProgramName) + " --help'");
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        printHelp(out);
        return ExitSuccess;
    }
    if (args[0] == "install")
        return install(console, std::span<const std::string>(args).subspan(1));
    if (args[0] == "uninstall")
        return uninstall(console, std::span<const std::string>(args).subspan(1));
    return fail(console, ExitUsage, "unknown command '" + args[0] + "'; try '" + std::string(ProgramName) + " --help'");
}

} // namespace tools
