#pragma once

// The uninstall hook's work, apart from its exported entry points: it reads
// the application folder once, deletes the shared menu data files there and
// tells the tray launcher and the mode change service to exit.
//
// The hook's text is 8-bit: the application folder and the joined file paths
// are held in buffers of 260 bytes, as the uninstaller's side of the product
// has always kept them.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace uninstall {

inline constexpr size_t PathBufferSize = 260;
// Zero-terminated 8-bit text; empty when the first byte is the terminator.
using PathBuffer = std::array<char, PathBufferSize>;

// The shared data files, joined to the application folder. The platform's
// file names ignore letter case, so these find MenuData.txt and MenuData.bak.
inline constexpr std::string_view DataFileSuffix = "\\MENUDATA.TXT";
inline constexpr std::string_view BackupFileSuffix = "\\MENUDATA.BAK";

// The stop events of the tray launcher and of the mode change service.
inline constexpr std::u16string_view TrayLauncherTerminateEvent = u"EventTavioUtilityTerminate";
inline constexpr std::u16string_view ModeChangeShutdownEvent = u"ModeChangeShutdown";

// How long each program is given to exit after its signal.
inline constexpr std::chrono::milliseconds TrayLauncherGrace { 5000 };
inline constexpr std::chrono::milliseconds ModeChangeGrace { 4000 };

// Reads "ApplicationPath" from the machine-wide settings key as 8-bit text.
// The buffer stays empty when the value is missing, is not a string or does
// not fit 259 bytes and a terminator: a truncated folder would name another
// place.
PathBuffer readApplicationFolder();

// Writes folder + suffix into `joined`. False, with `joined` empty, when the
// folder is empty (the files would then lie at the root of the drive) or the
// joined path and its terminator do not fit the buffer.
bool joinPath(PathBuffer& joined, const PathBuffer& folder, std::string_view suffix);

// The hook's steps over one application folder. The two grace waits go
// through `wait`, so that tests can run the steps without nine seconds of
// waiting; the exported entry point passes the platform's Sleep.
class Hook {
public:
    using Wait = std::function<void(std::chrono::milliseconds)>;

    Hook(const PathBuffer& applicationFolder, Wait wait);

    // Deletes the data file and its backup from the application folder. A
    // file that is missing or cannot be deleted is passed over.
    void deleteSharedDataFiles() const;
    // Creates or opens the tray launcher's event and sets it.
    void signalTrayLauncher() const;
    // Sets the mode change service's event when the service is running.
    void signalModeChangeService() const;

    // Every step in order, with the grace waits; always 0.
    uint32_t initialize() const;

private:
    PathBuffer m_applicationFolder;
    Wait m_wait;
};

} // namespace uninstall
