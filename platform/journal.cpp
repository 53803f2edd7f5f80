#include "platform/journal.h"

#include "platform/machine.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

/*
 * The machine journal, format version 1.
 *
 * One file, journal.jsonl, in the machine folder. Each entry is one line of
 * JSON, appended with a single write to a descriptor opened with O_APPEND, so
 * that entries from many processes never interleave inside a line:
 *
 *   {"v":1,"t":<microseconds since epoch>,"pid":<pid>,"program":"<name>",
 *    "kind":"<dotted kind>","fields":{"<name>":"<text>",...}}
 *
 * Field values are UTF-8 text; the field order is kept as recorded.
 */

namespace platform::journal {

namespace {

void appendEscaped(std::string& out, std::string_view text)
{
    out += '"';
    for (char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned char>(c));
                out += buffer;
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

std::string programName()
{
    char buffer[4096];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return "unknown";
    buffer[n] = 0;
    std::string path(buffer);
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A small reader for the lines this file writes; nothing more general.
class LineParser {
public:
    explicit LineParser(std::string_view line)
        : m_line(line)
    { }

    bool parse(Entry& entry)
    {
        if (!expect('{'))
            return false;
        while (true) {
            std::string key;
            if (!readString(key) || !expect(':'))
                return false;
            if (key == "fields") {
                if (!readFields(entry.fields))
                    return false;
            } else if (key == "program" || key == "kind") {
                std::string value;
                if (!readString(value))
                    return false;
                (key == "program" ? entry.program : entry.kind) = value;
            } else {
                long long number = 0;
                if (!readNumber(number))
                    return false;
                if (key == "t")
                    entry.timeMicroseconds = static_cast<uint64_t>(number);
                else if (key == "pid")
                    entry.pid = static_cast<int32_t>(number);
            }
            skipSpace();
            if (peek() == ',') {
                ++m_pos;
                continue;
            }
            return expect('}');
        }
    }

private:
    char peek() const { return m_pos < m_line.size() ? m_line[m_pos] : '\0'; }
    void skipSpace()
    {
        while (m_pos < m_line.size() && (m_line[m_pos] == ' ' || m_line[m_pos] == '\t'))
            ++m_pos;
    }
    bool expect(char c)
    {
        skipSpace();
        if (peek() != c)
            return false;
        ++m_pos;
        return true;
    }
    bool readNumber(long long& number)
    {
        skipSpace();
        size_t start = m_pos;
        if (peek() == '-')
            ++m_pos;
        while (m_pos < m_line.size() && m_line[m_pos] >= '0' && m_line[m_pos] <= '9')
            ++m_pos;
        if (start == m_pos)
            return false;
        number = std::stoll(std::string(m_line.substr(start, m_pos - start)));
        return true;
    }
    bool readString(std::string& out)
    {
        if (!expect('"'))
            return false;
        while (m_pos < m_line.size()) {
            char c = m_line[m_pos++];
            if (c == '"')
                return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_pos >= m_line.size())
                return false;
            char escaped = m_line[m_pos++];
            switch (escaped) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                if (m_pos + 4 > m_line.size())
                    return false;
                out += static_cast<char>(std::stoi(std::string(m_line.substr(m_pos, 4)), nullptr, 16));
                m_pos += 4;
                break;
            }
            default:
                out += escaped;
            }
        }
        return false;
    }
    bool readFields(Fields& fields)
    {
        if (!expect('{'))
            return false;
        skipSpace();
        if (peek() == '}') {
            ++m_pos;
            return true;
        }
        while (true) {
            std::string name, value;
            if (!readString(name) || !expect(':') || !readString(value))
                return false;
            fields.emplace_back(std::move(name), std::move(value));
            skipSpace();
            if (peek() == ',') {
                ++m_pos;
                continue;
            }
            return expect('}');
        }
    }

    std::string_view m_line;
    size_t m_pos { 0 };
};

} // namespace

std::string Entry::field(std::string_view name) const
{
    for (const auto& [key, value] : fields) {
        if (key == name)
            return value;
    }
    return {};
}

void record(std::string_view kind, Fields fields)
{
    auto now = std::chrono::system_clock::now().time_since_epoch();
    std::string line = "{\"v\":1,\"t\":";
    line += std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(now).count());
    line += ",\"pid\":" + std::to_string(::getpid()) + ",\"program\":";
    static const std::string program = programName();
    appendEscaped(line, program);
    line += ",\"kind\":";
    appendEscaped(line, kind);
    line += ",\"fields\":{";
    bool first = true;
    for (const auto& [name, value] : fields) {
        if (!first)
            line += ',';
        first = false;
        appendEscaped(line, name);
        line += ':';
        appendEscaped(line, value);
    }
    line += "}}\n";

    int fd = ::open(machine::journalPath().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    // One write per entry: O_APPEND keeps concurrent entries whole.
    ssize_t written;
    do {
        written = ::write(fd, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    ::close(fd);
}

std::vector<Entry> read()
{
    std::vector<Entry> entries;
    std::ifstream in(machine::journalPath());
    std::string line;
    while (std::getline(in, line)) {
        Entry entry;
        if (LineParser(line).parse(entry))
            entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<Entry> read(std::string_view kind)
{
    std::vector<Entry> matching;
    for (auto& entry : read()) {
        if (entry.kind == kind)
            matching.push_back(std::move(entry));
    }
    return matching;
}

std::string format(const Entry& entry)
{
    auto seconds = static_cast<time_t>(entry.timeMicroseconds / 1000000);
    struct tm local { };
    localtime_r(&seconds, &local);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%06u", local.tm_hour, local.tm_min, local.tm_sec,
        static_cast<unsigned>(entry.timeMicroseconds % 1000000));
    std::string out = std::string(stamp) + " " + std::to_string(entry.pid) + " " + entry.program + " " + entry.kind;
    for (const auto& [name, value] : entry.fields) {
        out += " " + name + "=";
        bool quote = value.empty() || value.find_first_of(" \t\"") != std::string::npos;
        if (quote) {
            out += '"' + value + '"';
        } else {
            out += value;
        }
    }
    return out;
}

} // namespace platform::journal
