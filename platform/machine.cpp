#include "platform/machine.h"

#include "platform/files.h"
#include "platform/journal.h"
#include "platform/paths.h"
#include "platform/security.h"
#include "platform/store_p.h"
#include "platform/text.h"

#include <cstdlib>
#include <fstream>

namespace platform::machine {

namespace fs = std::filesystem;

namespace {

// A file that marks a folder as a machine, so that initialize() never wipes a
// folder it did not make.
constexpr const char* MarkerName = "tavio-machine.id";
constexpr const char* MarkerText = "tavio simulated machine, layout 1\n";

} // namespace

fs::path root()
{
    if (const char* configured = std::getenv("TAVIO_MACHINE"); configured && *configured)
        return fs::path(configured);
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
        return fs::path(data) / "tavio-machine";
    if (const char* home = std::getenv("HOME"); home && *home)
        return fs::path(home) / ".local" / "share" / "tavio-machine";
    return fs::temp_directory_path() / "tavio-machine";
}

fs::path driveC()
{
    return root() / "drive_c";
}
fs::path storePath()
{
    return root() / "machine.db";
}
fs::path journalPath()
{
    return root() / "journal.jsonl";
}
fs::path runtimeFolder()
{
    return root() / "run";
}

bool exists()
{
    return fs::exists(root() / MarkerName);
}

Status initialize(const InitOptions& options)
{
    const fs::path folder = root();
    std::error_code error;
    if (fs::exists(folder, error)) {
        if (!fs::is_directory(folder, error))
            return Error::AlreadyExists;
        bool empty = fs::is_empty(folder, error);
        if (!empty && !fs::exists(folder / MarkerName, error))
            return Error::AccessDenied; // a folder we did not make: never wipe it
        for (const auto& entry : fs::directory_iterator(folder, error))
            fs::remove_all(entry.path(), error);
    }
    fs::create_directories(folder, error);
    if (error)
        return fromErrno(error.value());
    {
        std::ofstream marker(folder / MarkerName);
        marker << MarkerText;
        if (!marker)
            return Error::WriteFault;
    }
    fs::create_directories(runtimeFolder(), error);
    fs::create_directories(driveC(), error);
    if (error)
        return fromErrno(error.value());

    TRY_STATUS(store::create());
    TRY_STATUS(security::setCurrentUser({ options.userName, options.role }));

    // The drive's fixed folders.
    for (std::u16string folderPath :
        { paths::windowsDirectory(), paths::systemDirectory(), std::u16string(u"C:\\Program Files"),
            std::u16string(u"C:\\Documents and Settings"), paths::profileDirectory(options.userName),
            paths::append(paths::profileDirectory(options.userName), u"Application Data") }) {
        auto made = files::createDirectory(folderPath);
        if (!made && made.error() != Error::AlreadyExists)
            return made.error();
    }
    journal::record("machine.init", { { "user", std::string(text::toUtf8(options.userName)) } });
    return {};
}

} // namespace platform::machine
