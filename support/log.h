#pragma once

// The diagnostic log TavioMenuLog.log beside the menu data file: one
// time-stamped line per message, appended as 8-bit text.

#include <cstdarg>
#include <cstddef>
#include <span>

namespace support {

// Build-time switches: the library logs its error messages and none of its
// trace messages.
inline constexpr bool LogErrors = true;
inline constexpr bool LogTrace = false;

// The formatted message buffer, terminator included.
inline constexpr size_t LogMessageUnits = 520;

// Local time as the time stamp shows it.
struct LocalTime {
    int year { 0 };
    int month { 0 }; // 1-12
    int day { 0 };
    int hour { 0 };
    int minute { 0 };
    int second { 0 };
};

// Where LogInfo takes the time from; nullptr restores the host's local
// clock. Tests fix the clock to check whole lines.
using LocalTimeSource = LocalTime (*)();
void setLocalTimeSource(LocalTimeSource source);

// printf over UTF-16 into a fixed buffer, always terminated. Conversions:
// %s (const char16_t*, null prints "(null)"), %c, %d, %i, %u, %x, %X, %%;
// flags '-', '0', '+', ' ', '#'; a width and a precision, either of them '*';
// the length modifiers 'l' and 'h' are accepted. Returns the units written
// without the terminator.
size_t formatMessage(std::span<char16_t, LogMessageUnits> buffer, const char16_t* format, va_list args);

// Formats one message and appends "<time stamp>: <message>" to the log.
// Never reports a failure: without a log path or a writable file nothing is
// written.
void logInfoV(const char16_t* format, va_list args);
void LogInfo(const char16_t* format, ...);

// Computes LogPath from the data folder and makes sure the log exists; sets
// LogFileReady when it could be created or opened. Run at library start-up.
void CreateLogFile();

// The library's own messages go through these two, each guarded by its
// switch. Arguments must be what the format asks for: 32-bit integers and
// const char16_t* texts.
template <typename... Arguments> void logError(const char16_t* format, Arguments... arguments)
{
    if constexpr (LogErrors)
        LogInfo(format, arguments...);
}

template <typename... Arguments> void logTrace(const char16_t* format, Arguments... arguments)
{
    if constexpr (LogTrace)
        LogInfo(format, arguments...);
}

} // namespace support
