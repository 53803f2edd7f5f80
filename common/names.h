#pragma once

// Every name by which the deliverables find each other: the settings key and
// its values, the Parameters bits, the named kernel objects and the window
// names. The texts are the system's own and must not change: programs built
// at different times meet through them.

#include <cstdint>
#include <string_view>

namespace common {

// The settings key, the same path under HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER.
inline constexpr std::u16string_view SettingsKey = u"Software\\KELTO\\Tavio Menu";

// Machine-wide values (HKEY_LOCAL_MACHINE).
inline constexpr std::u16string_view ValueApplicationPath = u"ApplicationPath";
inline constexpr std::u16string_view ValueVersion = u"Version";
inline constexpr std::u16string_view ValueHelpFileName = u"HelpFileName";
inline constexpr std::u16string_view ValueParameters = u"Parameters";

// Per-user values (HKEY_CURRENT_USER).
inline constexpr std::u16string_view ValueWireless = u"Wireless";
inline constexpr std::u16string_view ValueBrightness = u"Brightness";
inline constexpr std::u16string_view ValueMode = u"Mode";
inline constexpr std::u16string_view ValueTavioMenuErrorMode = u"TavioMenuErrorMode";

// The logon start value: HKEY_LOCAL_MACHINE, this key, this value name.
inline constexpr std::u16string_view RunKey = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr std::u16string_view RunValueName = u"Tavio Menu";
inline constexpr std::u16string_view RunProgramName = u"TavioIcon.exe";
inline constexpr std::u16string_view RunSwitch = u" -TAVIOICON";

// Bits of "Parameters". All other bits are left as they are.
inline constexpr uint32_t PARAM_LOCKED = 1;
inline constexpr uint32_t PARAM_ALL_USERS = 2;

// Files of the data folder and the per-user data folder's name.
inline constexpr std::u16string_view DataFileName = u"MenuData.txt";
inline constexpr std::u16string_view BackupFileName = u"MenuData.bak";
inline constexpr std::u16string_view LogFileName = u"TavioMenuLog.log";
inline constexpr std::u16string_view PerUserFolderName = u"Tavio Menu";

// Named events.
inline constexpr std::u16string_view EventTavioUtilityTerminate = u"EventTavioUtilityTerminate";
inline constexpr std::u16string_view EventModeChangeShutdown = u"ModeChangeShutdown";
inline constexpr std::u16string_view EventAdjustScreenOrientation = u"keltoAdjustScreenOrientation";
inline constexpr std::u16string_view EventAdjustProfile = u"keltoAdjustProfile";
inline constexpr std::u16string_view EventAdjustProfileAndScreenOrientation = u"keltoAdjustProfileAndScreenOrientation";
inline constexpr std::u16string_view EventToggleWireless = u"keltoToggleWireless";
inline constexpr std::u16string_view EventToggleBrightness = u"keltoToggleBrightness";
inline constexpr std::u16string_view EventModeChangeShutdownThread = u"ModeChangeShutdownThread";

// Named semaphore of the dock monitor: initial count 0, maximum 10.
inline constexpr std::u16string_view SemaphoreModeChangeRunning
    = u"keltoSemMC-Running-D3D84DD1-21F8-4d5d-8A0F-ED2F38FDC0F9";
inline constexpr int32_t SemaphoreModeChangeRunningMaximum = 10;

// Named mutexes.
inline constexpr std::u16string_view MutexQuickMenuInstance = u"TAVIOMENU_MutexToRunAUniqueInstance";
inline constexpr std::u16string_view MutexQuickMenuClosing = u"CloseTAVIOMENU_MutexToRunAUniqueInstance";
inline constexpr std::u16string_view MutexTrayLauncherInstance = u"TAVIOICON-UniqueMutexName-TavioIcon";

// Window names and the registered message.
inline constexpr std::u16string_view QuickMenuWindowTitle = u"TavioMenu";
// NOTE: the class name ends in a blank and the title does not; both are
// looked up exactly.
inline constexpr std::u16string_view ModeChangeWindowClass = u"Calvex Mode Change ";
inline constexpr std::u16string_view ModeChangeWindowTitle = u"Calvex Mode Change";
inline constexpr std::u16string_view TrayIconMessageName = u"TavioMenu CALLBACK";

} // namespace common
