#include "tools/uninstall_command.h"

#include "tools/setup_commands.h"

#include "common/names.h"

#include "platform/files.h"
#include "platform/journal.h"
#include "platform/machine.h"
#include "platform/modules.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/text.h"

#include <optional>
#include <utility>
#include <vector>

namespace tools {

namespace {

constexpr std::string_view HookFileName = "TavioUnInst.dll";
using HookEntryPoint = uint32_t (*)(uint32_t, uint32_t, uint32_t);

std::string utf8(std::u16string_view text)
{
    return platform::text::toUtf8(text);
}

// The folder the product was installed into: the one its settings name, or
// the installer's own folder when the settings are gone but the folder is
// not. Nothing when neither is there.
std::optional<std::u16string> installedFolder()
{
    using namespace platform::registry;
    auto key = openKey(Root::LocalMachine, SettingsKey, Access::Read);
    if (key) {
        auto path = getString(*key, common::ValueApplicationPath);
        if (path && !path->empty())
            return *path;
    }
    if (key || platform::files::attributes(ApplicationFolder))
        return std::u16string(ApplicationFolder);
    return std::nullopt;
}

struct Report {
    std::vector<std::string> removed;
    std::vector<std::string> failed;
    std::vector<std::string> kept;
};

void removeFile(Report& report, std::u16string_view path)
{
    auto status = platform::files::remove(path);
    // A file or folder that is gone already (removed by hand) is nothing to
    // report, and must not keep the uninstall from finishing.
    if (status)
        report.removed.push_back(utf8(path));
    else if (status.error() != platform::Error::FileNotFound && status.error() != platform::Error::PathNotFound)
        report.failed.push_back(utf8(path) + ": " + explain(status.error()));
}

// The names still in the folder, for telling why it stays.
std::string remainingNames(std::u16string_view folder)
{
    std::string names;
    auto found = platform::files::find(platform::paths::append(folder, u"*"));
    if (!found)
        return names;
    for (const auto& entry : *found) {
        if (!names.empty())
            names += ", ";
        names += utf8(entry.name);
    }
    return names;
}

void removeSettings(Report& report)
{
    using namespace platform::registry;
    const std::string settings = "HKEY_LOCAL_MACHINE\\" + utf8(SettingsKey);
    if (auto status = deleteTree(Root::LocalMachine, SettingsKey); status)
        report.removed.push_back(settings);
    else if (status.error() != platform::Error::FileNotFound)
        report.failed.push_back(settings + ": " + explain(status.error()));

    const std::string runValue
        = "HKEY_LOCAL_MACHINE\\" + utf8(common::RunKey) + " value \"" + utf8(common::RunValueName) + "\"";
    auto runKey = openKey(Root::LocalMachine, common::RunKey, Access::Write);
    if (!runKey)
        return;
    if (auto status = deleteValue(*runKey, common::RunValueName); status)
        report.removed.push_back(runValue);
    else if (status.error() != platform::Error::FileNotFound)
        report.failed.push_back(runValue + ": " + explain(status.error()));
}

void print(const Console& console, const Report& report)
{
    auto list = [&](std::string_view title, const std::vector<std::string>& lines) {
        if (lines.empty())
            return;
        console.out << '\n' << title << ":\n";
        for (const auto& line : lines)
            console.out << "  " << line << '\n';
    };
    list("Removed", report.removed);
    list("Could not remove", report.failed);
    list("Kept", report.kept);
}

} // namespace

int uninstall(const Console& console, std::span<const std::string> args)
{
    if (!args.empty())
        return fail(console, ExitUsage, "uninstall: unknown option '" + args[0] + "'");
    if (!platform::machine::exists())
        return fail(console, ExitFailed,
            "no machine at " + platform::machine::root().string()
                + " (set TAVIO_MACHINE, or make one with 'tavio-machine init')");

    // An uninstaller runs elevated, as the installer does.
    platform::security::runElevated();
    recordObjectManager(RecordMode::IfStale);

    auto folder = installedFolder();
    if (!folder)
        return fail(console, ExitFailed, "uninstall: Tavio Menu is not installed on this machine");
    console.out << "Uninstalling Tavio Menu from " << utf8(*folder) << '\n';

    Report report;
    const std::u16string hookPath = platform::paths::append(*folder, platform::text::toUtf16(HookFileName));
    // The uninstaller loads the hook by its path and binds its entry points
    // by name; a hook that is missing or cannot be loaded leaves the running
    // programs as they are, and the files they hold open then stay.
    platform::modules::Module hook;
    if (platform::files::attributes(hookPath)) {
        auto loaded = platform::modules::Module::load(hookPath);
        if (loaded)
            hook = std::move(loaded).value();
        else
            console.err << console.program << ": uninstall: cannot load " << utf8(hookPath) << ": "
                        << explain(loaded.error()) << '\n';
    }
    auto entryPoint = [&hook](std::string_view name) -> HookEntryPoint {
        if (!hook.isLoaded())
            return nullptr;
        return hook.symbol<HookEntryPoint>(name).valueOr(nullptr);
    };
    const HookEntryPoint initialize = entryPoint("UninstInitialize");
    const HookEntryPoint unInitialize = entryPoint("UninstUnInitialize");

    // The hook deletes the shared menu data files itself; they are looked
    // at before and after so that the listing can say so.
    std::vector<std::u16string> dataFiles;
    for (auto name : { common::DataFileName, common::BackupFileName }) {
        auto path = platform::paths::append(*folder, name);
        if (platform::files::attributes(path))
            dataFiles.push_back(path);
    }
    if (initialize) {
        console.out << "Telling the tray launcher and the mode change service to exit (about 9 seconds)..."
                    << std::endl;
        (void)initialize(0, 0, 0);
        for (const auto& path : dataFiles) {
            if (!platform::files::attributes(path))
                report.removed.push_back(utf8(path) + " (by the uninstall hook)");
        }
    } else {
        console.err << console.program << ": uninstall: warning: the uninstall hook was not run; running programs "
                    << "were not told to exit\n";
    }

    // The hook itself goes last, once it has been unloaded.
    for (const auto& deliverable : deliverables()) {
        if (deliverable.fileName != HookFileName)
            removeFile(report, platform::paths::append(*folder, platform::text::toUtf16(deliverable.fileName)));
    }

    // A file that is still in use keeps the settings, the logon start value
    // and the hook in place, so that uninstalling again finds the product and
    // can finish the work.
    const bool filesRemoved = report.failed.empty();
    if (filesRemoved)
        removeSettings(report);
    if (unInitialize)
        (void)unInitialize(0, 0, 0);
    hook.reset();
    if (filesRemoved)
        removeFile(report, hookPath);

    if (report.failed.empty()) {
        auto status = platform::files::removeDirectory(*folder);
        if (status)
            report.removed.push_back(utf8(*folder));
        else if (status.error() == platform::Error::DirNotEmpty)
            report.kept.push_back(utf8(*folder) + " (still holds " + remainingNames(*folder) + ")");
        else if (status.error() != platform::Error::FileNotFound && status.error() != platform::Error::PathNotFound)
            report.failed.push_back(utf8(*folder) + ": " + explain(status.error()));
    }
    report.kept.push_back("the users' data folders, diagnostic logs and HKEY_CURRENT_USER\\" + utf8(SettingsKey));

    std::string removedList;
    for (const auto& line : report.removed)
        removedList += (removedList.empty() ? "" : ",") + line;
    platform::journal::record("setup.uninstall",
        { { "folder", utf8(*folder) }, { "removed", removedList },
            { "result", report.failed.empty() ? "complete" : "incomplete" } });

    print(console, report);
    if (!report.failed.empty())
        return fail(console, ExitFailed,
            "uninstall: not complete; close the programs that use these files and uninstall again");
    return ExitSuccess;
}

} // namespace tools
