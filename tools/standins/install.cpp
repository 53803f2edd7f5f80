#include "tools/standins/install.h"

#include "platform/files.h"
#include "platform/journal.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/text.h"

#include <fstream>

namespace standins {

namespace {

using platform::Error;
using platform::Status;

constexpr std::u16string_view Classes = u"SOFTWARE\\Classes";

Status installFile(const std::filesystem::path& source, std::u16string_view destination)
{
    auto imported = platform::files::importHostFile(source, destination);
    if (!imported)
        return imported.error();
    return {};
}

Status setDefault(std::u16string_view subkey, std::u16string_view text)
{
    using namespace platform::registry;
    TRY_RESULT(created, createKey(Root::LocalMachine, platform::paths::append(Classes, subkey), Access::Write));
    return setString(created.key, u"", text);
}

std::u16string openCommand(std::u16string_view program)
{
    return u"\"" + platform::paths::append(platform::paths::systemDirectory(), program) + u"\" \"%1\"";
}

Status registerAssociations()
{
    const std::u16string browser = openCommand(u"webbrowser.exe");
    for (std::u16string_view extension : { u".htm", u".html" })
        TRY_STATUS(setDefault(extension, u"htmlfile"));
    TRY_STATUS(setDefault(u"htmlfile", u"HTML Document"));
    TRY_STATUS(setDefault(u"htmlfile\\shell\\open\\command", browser));

    for (std::u16string_view scheme : { u"http", u"https" }) {
        TRY_STATUS(setDefault(scheme, u"URL:HyperText Transfer Protocol"));
        using namespace platform::registry;
        TRY_RESULT(key, openKey(Root::LocalMachine, platform::paths::append(Classes, scheme), Access::Write));
        TRY_STATUS(setString(key, u"URL Protocol", u""));
        TRY_STATUS(setDefault(std::u16string(scheme) + u"\\shell\\open\\command", browser));
    }

    TRY_STATUS(setDefault(u".cpl", u"cplfile"));
    TRY_STATUS(setDefault(u"cplfile", u"Control Panel extension"));
    TRY_STATUS(setDefault(u"cplfile\\shell\\open\\command", openCommand(u"control.exe")));
    return {};
}

} // namespace

platform::Result<InstallReport> installPlatformPrograms(const std::filesystem::path& sourceFolder)
{
    InstallReport report;
    for (std::string_view name : PlatformPrograms) {
        const std::filesystem::path source = sourceFolder / name;
        std::error_code ignored;
        if (!std::filesystem::is_regular_file(source, ignored)) {
            report.missing.emplace_back(name);
            continue;
        }
        const std::u16string destination
            = platform::paths::append(platform::paths::systemDirectory(), platform::text::toUtf16(name));
        TRY_STATUS(installFile(source, destination));
        report.installed.emplace_back(name);
    }
    TRY_STATUS(registerAssociations());

    std::string installed;
    for (const auto& name : report.installed)
        installed += (installed.empty() ? "" : ",") + name;
    std::string missing;
    for (const auto& name : report.missing)
        missing += (missing.empty() ? "" : ",") + name;
    platform::journal::record("platform.install", { { "installed", installed }, { "missing", missing } });
    return report;
}

} // namespace standins
