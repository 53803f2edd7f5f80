#include "tools/machine_commands.h"

#include "tools/device_commands.h"

#include "tools/standins/install.h"
#include "vendor/state.h"

#include "platform/journal.h"
#include "platform/machine.h"
#include "platform/paths.h"
#include "platform/security.h"
#include "platform/text.h"

#include <array>

namespace tools {

namespace {

constexpr std::string_view ProgramName = "tavio-machine";

int initCommand(const Console& console, std::span<const std::string> args)
{
    platform::machine::InitOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--standard-user") {
            options.role = platform::machine::UserRole::StandardUser;
        } else if (args[i] == "--user") {
            if (i + 1 >= args.size() || args[i + 1].empty())
                return fail(console, ExitUsage, "init: --user needs a user name");
            options.userName = platform::text::toUtf16(args[++i]);
        } else {
            return fail(console, ExitUsage, "init: unknown option '" + args[i] + "'");
        }
    }
    auto status = platform::machine::initialize(options);
    if (!status)
        return fail(console, ExitFailed,
            "init: cannot make a machine at " + platform::machine::root().string() + ": " + explain(status.error()));
    recordObjectManager(RecordMode::Always);
    // Making the machine is its builder's work: the platform's own programs
    // and their associations go in as administrator, whoever the user is.
    platform::security::runElevated();
    auto programs = standins::installPlatformPrograms(ownFolder());
    if (!programs)
        return fail(console, ExitFailed,
            "init: cannot install the platform's programs into "
                + platform::text::toUtf8(platform::paths::systemDirectory()) + ": " + explain(programs.error()));
    for (const auto& missing : programs->missing)
        console.err << ProgramName << ": init: " << missing << " is not built; the machine has none\n";
    // The video driver's display library, which the programs load by name.
    if (auto vendorLibrary = keltovdisp::installLibrary(ownFolder()); !vendorLibrary)
        console.err << ProgramName << ": init: KELTOVDISP.DLL is not installed: " << explain(vendorLibrary.error())
                    << '\n';
    console.out << "Machine ready at " << platform::machine::root().string() << " (user "
                << platform::text::toUtf8(options.userName) << ", "
                << (options.role == platform::machine::UserRole::Administrator ? "administrator" : "standard user")
                << ")\n";
    return ExitSuccess;
}

int pathCommand(const Console& console, std::span<const std::string> args)
{
    if (args.size() != 1)
        return fail(console, ExitUsage, "path: expected one Windows path, e.g. \"C:\\Program Files\"");
    auto host = platform::paths::toHost(platform::text::toUtf16(args[0]), platform::paths::Lookup::ForCreate);
    if (!host)
        return fail(console, ExitFailed, "path: cannot map '" + args[0] + "': " + explain(host.error()));
    console.out << host->string() << '\n';
    return ExitSuccess;
}

int journalCommand(const Console& console, std::span<const std::string> args)
{
    std::string kind;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--kind" && i + 1 < args.size() && !args[i + 1].empty())
            kind = args[++i];
        else if (args[i] == "--kind")
            return fail(console, ExitUsage, "journal: --kind needs a kind, e.g. setup.install");
        else
            return fail(console, ExitUsage, "journal: unknown option '" + args[i] + "'");
    }
    auto entries = kind.empty() ? platform::journal::read() : platform::journal::read(kind);
    for (const auto& entry : entries)
        console.out << platform::journal::format(entry) << '\n';
    return ExitSuccess;
}

constexpr std::array Commands {
    MachineCommand { "init", "[--standard-user] [--user NAME]",
        "make a fresh machine at TAVIO_MACHINE (wipes the one there)", false, initCommand },
    MachineCommand { "path", "WINPATH", "print the host path that a path on drive C: maps to", true, pathCommand },
    MachineCommand { "reg", "query KEY [VALUE] | add KEY [VALUE TYPE DATA] | delete KEY [VALUE]",
        "read and change the registry (KEY like HKLM\\Software\\KELTO\\Tavio Menu)", true, runRegistryCommand },
    MachineCommand {
        "journal", "[--kind KIND]", "print the machine journal, oldest entry first", true, journalCommand },
    MachineCommand { "messages", "[answer ID | queue | automatic [on|off]]",
        "list the message boxes shown, queue an answer for the next one, or switch automatic answering", true,
        runMessagesCommand },
    MachineCommand { "firmware",
        "[dock STATE | radio none|present|on|off | set INSTANCE VALUE | instances present|absent | event]",
        "show the firmware's WMI values, dock (raising keltoDockEvent), fit or remove the radio, write a value", true,
        runFirmwareCommand },
    MachineCommand { "wmi", "[stop | start]", "show whether WMI runs and its subscriptions, or stop or start it", true,
        runWmiCommand },
    MachineCommand { "language", "[ID | default]",
        "print or set the current user's user-interface language (1033, 1031, de-DE...)", true, runLanguageCommand },
    MachineCommand { "window", "list | post TITLE MESSAGE WPARAM LPARAM",
        "list the windows of the machine, or post a message (WM_CLOSE, WM_USER+1, 0x111...) to the window titled TITLE",
        true, runWindowCommand },
    MachineCommand { "session",
        "lock | unlock | console-connect | console-disconnect | remote-connect | remote-disconnect | logon | logoff",
        "notify the windows registered for session changes (logoff also ends the session of every window)", true,
        runSessionCommand },
    MachineCommand { "display", "[set DEVICE WxH [BPP] [ORIENTATION] | driver [OPTIONS] | topology OUTPUTS]",
        "show or change the display devices, their driver and which outputs are on", true, runDisplayCommand },
    MachineCommand { "vendor", "[profile N | enabled MASK | setup N ... | reset-calls | install | remove]",
        "show or change the vendor display library's profiles, call counts and file", true, runVendorCommand },
    MachineCommand { "audio", "[mute on|off]", "show or set the machine's sound", true, runAudioCommand },
    MachineCommand { "clipboard", "[empty]", "show or empty the machine's clipboard", true, runClipboardCommand },
    MachineCommand { "power", "[policy grant|deny | hibernate on|off]",
        "show the power state, grant or deny the shutdown privilege, turn hibernation on or off", true,
        runPowerCommand },
};

void printHelp(std::ostream& out)
{
    out << "usage: " << ProgramName << " COMMAND [ARGUMENTS]\n\n"
        << "Looks at and changes the simulated tablet in the folder named by TAVIO_MACHINE\n"
        << "(now " << platform::machine::root().string() << ").\n\n"
        << "commands:\n";
    for (const auto& command : Commands) {
        out << "  " << command.name << ' ' << command.usage << '\n' << "      " << command.summary << '\n';
    }
    out << "\nreg add TYPE is REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ (parts split at \\0), REG_DWORD\n"
        << "(decimal or 0x hex), REG_QWORD or REG_BINARY (hex bytes, e.g. 01ff or \"01 ff\").\n"
        << "Every command but init acts as the machine's current user.\n";
}

} // namespace

std::span<const MachineCommand> machineCommands()
{
    return Commands;
}

int runMachineTool(std::vector<std::string> args, std::ostream& out, std::ostream& err)
{
    const Console console { out, err, ProgramName };
    if (args.empty())
        return fail(console, ExitUsage, "no command given; try '" + std::string(ProgramName) + " --help'");
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        printHelp(out);
        return ExitSuccess;
    }
    for (const auto& command : Commands) {
        if (args[0] != command.name)
            continue;
        if (command.needsMachine && !platform::machine::exists())
            return fail(console, ExitFailed,
                "no machine at " + platform::machine::root().string()
                    + " (set TAVIO_MACHINE, or make one with 'tavio-machine init')");
        return command.run(console, std::span<const std::string>(args).subspan(1));
    }
    return fail(console, ExitUsage, "unknown command '" + args[0] + "'; try '" + std::string(ProgramName) + " --help'");
}

} // namespace tools
