// The exported functions of TavioSupport.DLL: each converts its arguments
// and calls the library's own code.

#include "support/log.h"
#include "support/menu_data.h"
#include "support/tavio_support.h"

#include <cstdarg>

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

// Appends one formatted, time-stamped message to the log.
void LogInfo(const char16_t* format, ...)
{
    va_list args;
    va_start(args, format);
    support::logInfoV(format, args);
    va_end(args);
}

} // extern "C"
