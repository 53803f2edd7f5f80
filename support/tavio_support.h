#pragma once

// The exported interface of TavioSupport.DLL, for the programs that load the
// library and bind its exports by name, and for the library itself.
//
// To add an export: declare it in the extern "C" block with TAVIO_SUPPORT_API,
// add its name to TAVIO_SUPPORT_EXPORTS and give it its shim in
// support/exports.cpp. The list gives every binding program the names to look
// up and a pointer type for each (`ReadTavioMenuDataProc`).

#include <bit>
#include <cstddef>
#include <cstdint>

#define TAVIO_SUPPORT_API __attribute__((visibility("default")))

// The file name under which the library is built and loaded.
inline constexpr const char* TavioSupportLibraryName = "TavioSupport.DLL";

// ---- Menu data block -------------------------------------------------------
//
// The in-memory block and, shortened to the entries in use, the data file
// MenuData.txt: all integers 32-bit unsigned little-endian, texts UTF-16 in
// fixed buffers of 260 units. The data file is the header (DataSize,
// NumEntries, LastTabIDUsed), the first DataSize bytes of the entries, then
// CheckSum; so it is 16 + DataSize bytes long. CheckSum is the byte sum, as a
// wrapping 32-bit value, of the first DataSize + 12 bytes of the block.
//
// The natural layout has no padding (every field starts on a multiple of its
// own size); the assertions below keep it so.

inline constexpr uint32_t MaxMenuEntries = 40;
inline constexpr uint32_t MenuTextUnits = 260;

// Flags bits of an entry; all other bits are zero.
inline constexpr uint32_t FLAG_SHOWN = 0x1; // the entry has a button on the quick menu
inline constexpr uint32_t FLAG_USER_ENTRY = 0x100; // added by the user: may be modified or removed

// One menu entry.
struct TabInfo {
    uint32_t Flags;
    uint32_t TabID; // built-in action 231-260, or a user entry's counter value
    uint32_t HelpStringID; // string-table id of the description
    char16_t DisplayName[MenuTextUnits];
    char16_t FileName[MenuTextUnits]; // what to start; " " for built-in actions
};

// The whole menu.
struct TavioMenuData {
    uint32_t DataSize; // bytes of the entry area in use: NumEntries * sizeof(TabInfo)
    uint32_t NumEntries; // 0 to MaxMenuEntries
    uint32_t LastTabIDUsed; // TabID for the next user entry
    // NOTE: the member has the name of its type, so the type is named
    // through its elaborated form here.
    struct TabInfo TabInfo[MaxMenuEntries];
    uint32_t CheckSum;
};

static_assert(std::endian::native == std::endian::little, "the data file is the block's bytes as they stand");
static_assert(sizeof(TabInfo) == 1052);
static_assert(offsetof(TabInfo, Flags) == 0);
static_assert(offsetof(TabInfo, TabID) == 4);
static_assert(offsetof(TabInfo, HelpStringID) == 8);
static_assert(offsetof(TabInfo, DisplayName) == 12);
static_assert(offsetof(TabInfo, FileName) == 532);
static_assert(sizeof(TavioMenuData) == 42096);
static_assert(offsetof(TavioMenuData, DataSize) == 0);
static_assert(offsetof(TavioMenuData, NumEntries) == 4);
static_assert(offsetof(TavioMenuData, LastTabIDUsed) == 8);
static_assert(offsetof(TavioMenuData, TabInfo) == 12);
static_assert(offsetof(TavioMenuData, CheckSum) == 42092);

inline constexpr uint32_t TabInfoSize = sizeof(TabInfo);
inline constexpr uint32_t MaxDataSize = MaxMenuEntries * TabInfoSize; // 42080
inline constexpr uint32_t MenuHeaderSize = offsetof(TavioMenuData, TabInfo);

// ---- Exports -----------------------------------------------------------------

extern "C" {

// Menu data file.
// 0 read and valid, 8 no data file, 1 the file cannot be opened, 9 a read
// failed or the data is damaged.
TAVIO_SUPPORT_API uint32_t ReadTavioMenuData(TavioMenuData* data);
// 1 written (and the backup refreshed), 0 failed. The caller's block is not
// changed.
TAVIO_SUPPORT_API uint32_t WriteTavioMenuData(TavioMenuData data);
// Nonzero when MenuData.bak was copied over MenuData.txt.
TAVIO_SUPPORT_API int32_t CopyDataBackupFile(void);

// Writes the default menu (23 entries) to the data file. 1 written, 0 failed.
TAVIO_SUPPORT_API int32_t InitTavioMenuData(void);

// Library frame.
// Does nothing; the programs require it to be present.
TAVIO_SUPPORT_API void InitSupportDLL(void);
// Start-up and end of the library in a process, called by the platform's
// loader (reason 1 attach, 0 detach). Always 1.
TAVIO_SUPPORT_API int32_t DllMain(void* module, uint32_t reason, void* reserved);

// Settings and user.
// A value of a key under HKEY_LOCAL_MACHINE: 0 or the platform's error code;
// dataSize holds the capacity in bytes on entry and the value's size on return.
TAVIO_SUPPORT_API uint32_t TavioUtilGetRegistry(
    const char16_t* keyPath, const char16_t* valueName, uint32_t* type, void* data, uint32_t* dataSize);
// The application folder into a buffer of 260 units: 0 or the error code.
TAVIO_SUPPORT_API uint32_t TavioUtilGetAppPath(char16_t* buffer);
// The installed version into a buffer of at least 130 units: 0 or the error
// code (234 for a version of 130 characters or more).
TAVIO_SUPPORT_API uint32_t TavioUtilGetAppVersion(char16_t* buffer);
// 0 for a member of the Administrators group, 5 otherwise.
TAVIO_SUPPORT_API uint32_t IsAdministrator(void);

// The text of a string id in the calling thread's language (English when
// that language is not held) into a buffer of 260 units; the units copied,
// 0 for an id that is not held.
TAVIO_SUPPORT_API uint32_t TavioUtilGetString(uint32_t id, char16_t* buffer);

// Starts an entry's FileName: 0 started or nothing to start, -1 failed.
TAVIO_SUPPORT_API int32_t TavioUtilShellExecute(const char16_t* assignment);

// Display modes.
// Orientation 0-3; always 0.
TAVIO_SUPPORT_API int32_t RotateScreen(int32_t orientation);
// Video code 1-4; 1 done, 0 failed.
TAVIO_SUPPORT_API int32_t VideoSwitch(int32_t videoCode);
TAVIO_SUPPORT_API int32_t IsPresentationModeON(void);
TAVIO_SUPPORT_API void SetPresentationMode(int32_t on);
TAVIO_SUPPORT_API int32_t IsPresentationProfileEnable(void);
TAVIO_SUPPORT_API void SetCurrentProfile(int32_t profile);

// Device toggles, capture and power.
// Always 1.
TAVIO_SUPPORT_API int32_t MuteToggle(void);
TAVIO_SUPPORT_API void CaptureScreen(void);
TAVIO_SUPPORT_API void CaptureWindow(void);
TAVIO_SUPPORT_API int32_t IsWirelessAvailable(void);
TAVIO_SUPPORT_API uint8_t GetWirelessStatus(void);
TAVIO_SUPPORT_API void WirelessToggle(void);
// 1 requested, 0 failed.
TAVIO_SUPPORT_API int32_t TurnOnBrightness(void);
TAVIO_SUPPORT_API int32_t TurnOffBrightness(void);
TAVIO_SUPPORT_API void DoSuspend(void);
TAVIO_SUPPORT_API void DoHibernate(void);
TAVIO_SUPPORT_API void DoShutDown(void);

// Diagnostic log: printf-style over UTF-16 (%s takes a const char16_t*).
TAVIO_SUPPORT_API void LogInfo(const char16_t* format, ...);

} // extern "C"

// X(name) for every export the programs bind by name (DllMain is for the
// platform's loader alone).
#define TAVIO_SUPPORT_EXPORTS(X)                                                                                       \
    X(ReadTavioMenuData)                                                                                               \
    X(WriteTavioMenuData)                                                                                              \
    X(CopyDataBackupFile)                                                                                              \
    X(InitTavioMenuData)                                                                                               \
    X(InitSupportDLL)                                                                                                  \
    X(TavioUtilGetRegistry)                                                                                            \
    X(TavioUtilGetAppPath)                                                                                             \
    X(TavioUtilGetAppVersion)                                                                                          \
    X(IsAdministrator)                                                                                                 \
    X(TavioUtilGetString)                                                                                              \
    X(TavioUtilShellExecute)                                                                                           \
    X(RotateScreen)                                                                                                    \
    X(VideoSwitch)                                                                                                     \
    X(IsPresentationModeON)                                                                                            \
    X(SetPresentationMode)                                                                                             \
    X(IsPresentationProfileEnable)                                                                                     \
    X(SetCurrentProfile)                                                                                               \
    X(MuteToggle)                                                                                                      \
    X(CaptureScreen)                                                                                                   \
    X(CaptureWindow)                                                                                                   \
    X(IsWirelessAvailable)                                                                                             \
    X(GetWirelessStatus)                                                                                               \
    X(WirelessToggle)                                                                                                  \
    X(TurnOnBrightness)                                                                                                \
    X(TurnOffBrightness)                                                                                               \
    X(DoSuspend)                                                                                                       \
    X(DoHibernate)                                                                                                     \
    X(DoShutDown)                                                                                                      \
    X(LogInfo)

#define TAVIO_SUPPORT_DECLARE_PROC(name) using name##Proc = decltype(&::name);
TAVIO_SUPPORT_EXPORTS(TAVIO_SUPPORT_DECLARE_PROC)
#undef TAVIO_SUPPORT_DECLARE_PROC
