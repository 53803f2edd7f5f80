// The exported functions of TavioSupport.DLL: each converts its arguments
// and calls the library's own code.

#include "support/default_menu.h"
#include "support/launch.h"
#include "support/library_info.h"
#include "support/library_state.h"
#include "support/log.h"
#include "support/menu_data.h"
#include "support/tavio_support.h"

#include <cstdarg>

namespace {

constexpr uint32_t ProcessDetach = 0;
constexpr uint32_t ProcessAttach = 1;

} // namespace

extern "C" {

// Reads the menu data file into the caller's block.
uint32_t ReadTavioMenuData(TavioMenuData* data)
{
    return support::ReadTavioMenuData(data);
}

// Writes the block (a copy of the caller's) and refreshes the backup.
uint32_t WriteTavioMenuData(TavioMenuData data)
{
    return support::WriteTavioMenuData(data);
}

// Restores the data file from its backup.
int32_t CopyDataBackupFile(void)
{
    return support::CopyDataBackupFile();
}

// Replaces the data file with the default menu.
int32_t InitTavioMenuData(void)
{
    return support::InitTavioMenuData();
}

// Present for the programs that require it; does nothing.
void InitSupportDLL(void)
{
    support::InitSupportDLL();
}

// Runs the start-up when the library comes into a process and forgets it
// when the library leaves; the attach always succeeds.
int32_t DllMain(void* module, uint32_t reason, void*)
{
    if (reason == ProcessAttach)
        support::attachProcess(platform::modules::ModuleHandle(reinterpret_cast<uintptr_t>(module)));
    else if (reason == ProcessDetach)
        support::detachProcess();
    return 1;
}

// Reads a machine-wide registry value with the caller's buffer.
uint32_t TavioUtilGetRegistry(
    const char16_t* keyPath, const char16_t* valueName, uint32_t* type, void* data, uint32_t* dataSize)
{
    return support::TavioUtilGetRegistry(keyPath, valueName, type, data, dataSize);
}

// Reads "ApplicationPath" into a buffer of 260 units.
uint32_t TavioUtilGetAppPath(char16_t* buffer)
{
    return support::TavioUtilGetAppPath(buffer);
}

// Reads "Version" into a buffer of at least 130 units.
uint32_t TavioUtilGetAppVersion(char16_t* buffer)
{
    return support::TavioUtilGetAppVersion(buffer);
}

// 0 for an administrator, 5 for anyone else.
uint32_t IsAdministrator(void)
{
    return support::IsAdministrator();
}

// Copies a text of the string table in the calling thread's language.
uint32_t TavioUtilGetString(uint32_t id, char16_t* buffer)
{
    return support::TavioUtilGetString(id, buffer);
}

// Starts an entry's assignment through the shell.
int32_t TavioUtilShellExecute(const char16_t* assignment)
{
    return support::TavioUtilShellExecute(assignment);
}

// Appends one formatted, time-stamped message to the log.
void LogInfo(const char16_t* format, ...)
{
    va_list args;
    va_start(args, format);
    support::logInfoV(format, args);
    va_end(args);
}

} // extern "C"
