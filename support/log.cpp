#include "support/log.h"

#include "common/names.h"
#include "common/settings.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "support/library_state.h"

#include <cstdio>
#include <ctime>
#include <string>

namespace support {

// The log file is 8-bit text in which every line feed is written as carriage
// return and line feed. Choices where the platform's format has no answer:
// - a UTF-16 unit up to U+00FF is written as the byte of the same value; a
//   unit above U+00FF has no byte and is written as '?';
// - a message longer than the 520-unit buffer holds (519 units and the
//   terminator) is cut after its 519th unit; the rest is dropped, so an
//   over-long message loses its trailing line feed and the next message
//   continues its line.

namespace {

LocalTimeSource localTimeSource = nullptr;

LocalTime hostLocalTime()
{
    std::time_t now = std::time(nullptr);
    std::tm parts {};
    localtime_r(&now, &parts);
    return { parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec };
}

// Collects output into the fixed buffer, dropping what does not fit.
class Writer {
public:
    explicit Writer(std::span<char16_t, LogMessageUnits> buffer)
        : m_buffer(buffer)
    { }

    void put(char16_t unit)
    {
        if (m_length + 1 < m_buffer.size())
            m_buffer[m_length++] = unit;
    }
    void repeat(char16_t unit, int count)
    {
        for (int i = 0; i < count; ++i)
            put(unit);
    }
    size_t finish()
    {
        m_buffer[m_length] = 0;
        return m_length;
    }

private:
    std::span<char16_t, LogMessageUnits> m_buffer;
    size_t m_length { 0 };
};

struct Conversion {
    bool left { false };
    bool zero { false };
    bool plus { false };
    bool space { false };
    bool alternate { false };
    int width { 0 };
    int precision { -1 };
};

// Writes `body` (with `prefix` before it, and leading zeros or blanks) padded
// to the field width.
void emitField(
    Writer& out, const Conversion& conversion, std::u16string_view prefix, std::u16string_view body, int zeros)
{
    int length = static_cast<int>(prefix.size() + body.size()) + zeros;
    int padding = conversion.width > length ? conversion.width - length : 0;
    if (!conversion.left && !conversion.zero)
        out.repeat(u' ', padding);
    for (char16_t unit : prefix)
        out.put(unit);
    if (!conversion.left && conversion.zero)
        out.repeat(u'0', padding);
    out.repeat(u'0', zeros);
    for (char16_t unit : body)
        out.put(unit);
    if (conversion.left)
        out.repeat(u' ', padding);
}

void emitNumber(Writer& out, Conversion conversion, bool negative, uint64_t magnitude, unsigned base, bool upper)
{
    const char16_t* digitSet = upper ? u"0123456789ABCDEF" : u"0123456789abcdef";
    char16_t digits[24];
    size_t count = 0;
    // A precision of 0 prints no digits for the value 0, as printf does.
    if (magnitude != 0 || conversion.precision != 0) {
        do {
            digits[count++] = digitSet[magnitude % base];
            magnitude /= base;
        } while (magnitude != 0);
    }
    std::u16string body(std::make_reverse_iterator(digits + count), std::make_reverse_iterator(digits));
    std::u16string prefix;
    if (negative)
        prefix = u"-";
    else if (conversion.plus && base == 10)
        prefix = u"+";
    else if (conversion.space && base == 10)
        prefix = u" ";
    if (conversion.alternate && base == 16 && !body.empty() && body != u"0")
        prefix += upper ? u"0X" : u"0x";
    int zeros = 0;
    if (conversion.precision >= 0) {
        zeros = conversion.precision > static_cast<int>(body.size())
            ? conversion.precision - static_cast<int>(body.size())
            : 0;
        conversion.zero = false; // a precision turns off zero padding, as in printf
    }
    emitField(out, conversion, prefix, body, zeros);
}

// Reads a width or precision: digits, or '*' taking an int argument.
int readCount(const char16_t*& cursor, va_list& args)
{
    if (*cursor == u'*') {
        ++cursor;
        return va_arg(args, int);
    }
    int value = 0;
    while (*cursor >= u'0' && *cursor <= u'9') {
        // Widths beyond the buffer only pad what is dropped anyway.
        if (value < static_cast<int>(LogMessageUnits))
            value = value * 10 + (*cursor - u'0');
        ++cursor;
    }
    return value;
}

// Appends bytes of 8-bit text: units above U+00FF become '?', line feeds
// become carriage return and line feed.
void appendText(std::string& bytes, std::u16string_view text)
{
    for (char16_t unit : text) {
        if (unit == u'\n')
            bytes += "\r\n";
        else if (unit > 0xFF)
            bytes += '?';
        else
            bytes += static_cast<char>(static_cast<unsigned char>(unit));
    }
}

} // namespace

void setLocalTimeSource(LocalTimeSource source)
{
    localTimeSource = source;
}

size_t formatMessage(std::span<char16_t, LogMessageUnits> buffer, const char16_t* format, va_list args)
{
    Writer out(buffer);
    if (!format)
        return out.finish();
    // NOTE: copied so that readCount can take it by reference; a va_list
    // parameter may be an array type that decays to a pointer.
    va_list arguments;
    va_copy(arguments, args);
    const char16_t* cursor = format;
    while (*cursor) {
        if (*cursor != u'%') {
            out.put(*cursor++);
            continue;
        }
        const char16_t* start = cursor++;
        Conversion conversion;
        for (;; ++cursor) {
            if (*cursor == u'-')
                conversion.left = true;
            else if (*cursor == u'0')
                conversion.zero = true;
            else if (*cursor == u'+')
                conversion.plus = true;
            else if (*cursor == u' ')
                conversion.space = true;
            else if (*cursor == u'#')
                conversion.alternate = true;
            else
                break;
        }
        conversion.width = readCount(cursor, arguments);
        if (conversion.width < 0) {
            conversion.left = true;
            conversion.width = -conversion.width;
        }
        if (*cursor == u'.') {
            ++cursor;
            conversion.precision = readCount(cursor, arguments);
        }
        // NOTE: 'l' and 'h' are accepted and change nothing: the programs'
        // integers are 32 bits wide, as the platform's long is.
        while (*cursor == u'l' || *cursor == u'h')
            ++cursor;
        switch (*cursor) {
        case u'%':
            out.put(u'%');
            break;
        case u'd':
        case u'i': {
            int value = va_arg(arguments, int);
            int64_t wide = value;
            emitNumber(out, conversion, wide < 0, static_cast<uint64_t>(wide < 0 ? -wide : wide), 10, false);
            break;
        }
        case u'u':
            emitNumber(out, conversion, false, va_arg(arguments, unsigned int), 10, false);
            break;
        case u'x':
            emitNumber(out, conversion, false, va_arg(arguments, unsigned int), 16, false);
            break;
        case u'X':
            emitNumber(out, conversion, false, va_arg(arguments, unsigned int), 16, true);
            break;
        case u'c': {
            char16_t unit = static_cast<char16_t>(va_arg(arguments, int));
            emitField(out, conversion, {}, std::u16string_view(&unit, 1), 0);
            break;
        }
        case u's': {
            const char16_t* text = va_arg(arguments, const char16_t*);
            std::u16string_view body = text ? std::u16string_view(text) : std::u16string_view(u"(null)");
            if (conversion.precision >= 0 && static_cast<size_t>(conversion.precision) < body.size())
                body = body.substr(0, conversion.precision);
            conversion.zero = false;
            emitField(out, conversion, {}, body, 0);
            break;
        }
        default:
            // Not a conversion this log knows: the text is kept as written
            // and no argument is taken.
            for (const char16_t* unit = start; unit != cursor; ++unit)
                out.put(*unit);
            if (*cursor == 0)
                continue;
            out.put(*cursor);
            break;
        }
        ++cursor;
    }
    va_end(arguments);
    return out.finish();
}

void logInfoV(const char16_t* format, va_list args)
{
    char16_t message[LogMessageUnits];
    size_t length = formatMessage(message, format, args);

    LocalTime now = localTimeSource ? localTimeSource() : hostLocalTime();
    char stamp[platform::paths::MaxPath];
    std::snprintf(stamp, sizeof(stamp), "%02d:%02d:%02d %02d/%02d/%04d", now.hour, now.minute, now.second, now.month,
        now.day, now.year);

    std::string line = stamp;
    line += ": ";
    appendText(line, std::u16string_view(message, length));

    // NOTE: opened for reading and appending and shared with other writers,
    // so that the lines of two processes writing at once interleave whole:
    // each line is one append.
    using namespace platform::files;
    auto file = open(platform::text::view(LogPath), Access::ReadWrite, Share::ReadWrite, Create::OpenAlways);
    if (!file)
        return;
    (void)file->append(std::as_bytes(std::span<const char>(line))); // logging never reports a failure
}

void LogInfo(const char16_t* format, ...)
{
    va_list args;
    va_start(args, format);
    logInfoV(format, args);
    va_end(args);
}

void CreateLogFile()
{
    if (LogTrace && LogFileReady)
        logTrace(u"Enter CreateLogFile\n");
    if (common::GetDataFilePath(LogPath)) {
        std::u16string logPath = siblingPath(platform::text::view(LogPath), common::LogFileName);
        // A path that does not fit is dropped rather than cut: a cut path
        // would name another file. LogInfo then writes nothing.
        if (!platform::text::copyTo(LogPath, logPath)) {
            LogFileReady = false;
        } else {
            auto file = platform::files::open(logPath, platform::files::Access::Write, platform::files::Share::None,
                platform::files::Create::OpenAlways);
            LogFileReady = file.ok();
        }
    }
    logTrace(u"Exit CreateLogFile\n");
}

} // namespace support
