#include "support/library_state.h"

#include "common/settings.h"
#include "support/log.h"

namespace support {

PathBuffer DataPath {};
PathBuffer LogPath {};
bool LogFileReady = false;

std::u16string siblingPath(std::u16string_view path, std::u16string_view name)
{
    size_t separator = path.rfind(u'\\');
    std::u16string_view folder = separator == path.npos ? std::u16string_view() : path.substr(0, separator);
    return std::u16string(folder) + u"\\" + std::u16string(name);
}

void attachProcess()
{
    if (LogFileReady)
        logTrace(u"In DLL_PROCESS_ATTACH\n");
    if (!LogFileReady)
        CreateLogFile();
    // FIXME: the module handle (platform::modules::moduleContaining on one of
    // the library's own functions), the application path, the Windows folder
    // and the check for the vendor display library belong here as well.
    common::GetDataFilePath(DataPath);
}

void resetProcessState()
{
    DataPath.fill(0);
    LogPath.fill(0);
    LogFileReady = false;
}

} // namespace support
