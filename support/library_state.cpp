#include "support/library_state.h"

#include "common/settings.h"
#include "platform/dialogs.h"
#include "platform/text.h"
#include "support/library_info.h"
#include "support/log.h"

namespace support {

platform::modules::ModuleHandle ModuleHandle {};
PathBuffer AppPath {};
PathBuffer WindowsDir {};
PathBuffer DataPath {};
PathBuffer LogPath {};
bool LogFileReady = false;

namespace {

// The caption of every message box the library shows.
constexpr std::u16string_view MessageCaption = u"Tavio Menu";
// Where the video driver puts the vendor display library, below the Windows folder.
constexpr std::u16string_view VendorLibrarySuffix = u"\\system32\\KELTOVDISP.DLL";
// The text shown when the vendor display library is missing.
constexpr uint32_t VendorLibraryMissingText = 77;

// Whether the start-up has run since the library came into the process.
bool attached = false;

// Without the vendor display library the display operations fail quietly,
// so the user is told once, at load time, to install the video driver.
void checkVendorLibrary()
{
    std::u16string path = std::u16string(platform::text::view(WindowsDir)) + std::u16string(VendorLibrarySuffix);
    if (FileExists(path))
        return;
    PathBuffer text {};
    TavioUtilGetString(VendorLibraryMissingText, text.data());
    // The answer does not matter: loading goes on once the box is closed.
    static_cast<void>(
        platform::dialogs::messageBox(0, platform::text::view(text), MessageCaption, platform::dialogs::MB_OK));
}

} // namespace

std::u16string siblingPath(std::u16string_view path, std::u16string_view name)
{
    size_t separator = path.rfind(u'\\');
    std::u16string_view folder = separator == path.npos ? std::u16string_view() : path.substr(0, separator);
    return std::u16string(folder) + u"\\" + std::u16string(name);
}

void attachProcess(platform::modules::ModuleHandle module)
{
    if (module.isValid())
        ModuleHandle = module;
    if (attached)
        return;
    attached = true;

    if (LogFileReady)
        logTrace(u"In DLL_PROCESS_ATTACH\n");
    if (!ModuleHandle.isValid()) {
        // Loaded without the platform's loader: the library finds itself.
        auto own = platform::modules::moduleContaining(reinterpret_cast<const void*>(&checkVendorLibrary));
        if (own)
            ModuleHandle = *own;
    }
    if (!LogFileReady)
        CreateLogFile();
    if (TavioUtilGetAppPath(AppPath.data()) != 0)
        AppPath.fill(0);
    if (!platform::text::copyTo(WindowsDir, platform::paths::windowsDirectory()))
        WindowsDir.fill(0);
    checkVendorLibrary();
    common::GetDataFilePath(DataPath);
}

void detachProcess()
{
    attached = false;
}

void resetProcessState()
{
    attached = false;
    ModuleHandle = {};
    AppPath.fill(0);
    WindowsDir.fill(0);
    DataPath.fill(0);
    LogPath.fill(0);
    LogFileReady = false;
}

} // namespace support
