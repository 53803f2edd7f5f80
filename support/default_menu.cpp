#include "support/default_menu.h"

#include "platform/text.h"
#include "support/catalogue.h"
#include "support/library_info.h"
#include "support/library_state.h"
#include "support/log.h"
#include "support/menu_data.h"

#include <array>
#include <string>
#include <string_view>

namespace support {

namespace {

// Which folder an entry's FileName starts from.
enum class Folder {
    None, // FileName is a single space: the entry starts nothing
    Windows,
    Application,
};

struct DefaultEntry {
    uint32_t tabId;
    uint32_t labelId;
    uint32_t helpId;
    bool shown;
    Folder folder { Folder::None };
    std::u16string_view suffix {};
};

// The default menu, in menu order.
constexpr std::array<DefaultEntry, DefaultEntryCount> DefaultEntries { {
    { TAB_MUTE, 20, 5, true },
    { TAB_BRIGHTNESS, 17, 2, true },
    { TAB_INTERNAL_ONLY, 60, 61, true },
    { TAB_EXTERNAL_ONLY, 58, 59, false },
    { TAB_INTERNAL_EXTERNAL, 62, 63, true },
    { TAB_EXTENDED_DESKTOP, 75, 76, false },
    { TAB_VOLUME, 19, 4, true, Folder::Windows, u"\\System32\\sndvol32.exe" },
    { TAB_CAPTURE_SCREEN, 21, 6, false },
    { TAB_CAPTURE_WINDOW, 22, 7, false },
    { TAB_POWER_CONTROL, 23, 8, false, Folder::Windows, u"\\System32\\powercfg.cpl" },
    { TAB_PRESENTATION, 24, 9, true },
    { TAB_DOCKED_PROFILE, 80, 81, false },
    { TAB_UNDOCKED_PROFILE, 78, 79, false },
    { TAB_WRITE_PROFILE, 82, 83, false },
    { TAB_PORTRAIT_PRIMARY, 25, 10, true },
    { TAB_LANDSCAPE_PRIMARY, 26, 11, true },
    { TAB_PORTRAIT_SECONDARY, 27, 12, false },
    { TAB_LANDSCAPE_SECONDARY, 28, 13, false },
    { TAB_STANDBY, 72, 73, false },
    { TAB_HIBERNATE, 67, 74, false },
    { TAB_SHUTDOWN, 68, 71, false },
    { TAB_TABLET_SETTINGS, 30, 15, true, Folder::Windows, u"\\system32\\tabletpc.cpl" },
    { TAB_SETTINGS, 32, 33, true, Folder::Application, u"\\tavioutility.cpl" },
} };

std::u16string fileNameOf(const DefaultEntry& entry)
{
    switch (entry.folder) {
    case Folder::Windows:
        return std::u16string(platform::text::view(WindowsDir)) + std::u16string(entry.suffix);
    case Folder::Application:
        return std::u16string(platform::text::view(AppPath)) + std::u16string(entry.suffix);
    case Folder::None:
        break;
    }
    return u" ";
}

} // namespace

std::unique_ptr<TavioMenuData> defaultMenu()
{
    auto data = std::make_unique<TavioMenuData>();
    for (size_t i = 0; i < DefaultEntries.size(); ++i) {
        const DefaultEntry& entry = DefaultEntries[i];
        TabInfo& info = data->TabInfo[i];
        TavioUtilGetString(entry.labelId, info.DisplayName);
        info.Flags = entry.shown ? FLAG_SHOWN : 0;
        info.TabID = entry.tabId;
        info.HelpStringID = entry.helpId;
        // NOTE: a folder that leaves no room for the file's name would give
        // a path naming another file; such an entry keeps an empty FileName,
        // which starts nothing.
        static_cast<void>(platform::text::copyTo(info.FileName, fileNameOf(entry)));
    }
    data->NumEntries = DefaultEntryCount;
    data->DataSize = DefaultEntryCount * TabInfoSize;
    data->LastTabIDUsed = FirstUserTabID;
    return data;
}

int32_t InitTavioMenuData()
{
    logTrace(u"Enter InitTavioMenuData\n");
    auto data = defaultMenu();
    uint32_t written = support::WriteTavioMenuData(*data);
    logTrace(u"Exit InitTavioMenuData\n");
    return written != 0 ? 1 : 0;
}

} // namespace support
