// Turns the string table's text files into one C++ source, so that the table is
// compiled into the library and never read from disk at run time.
//
// Usage: generate_string_table <output.cpp> <reference language id> <table file>...
//
// String table file format, version 1:
//   - The file name is "<language id>-<name>.tsv"; the language id is the
//     platform's decimal language identifier (1033 for English, United States).
//   - UTF-8 text, an optional byte order mark, lines ending in LF or CR LF.
//   - Blank lines and lines whose first character is '#' are ignored.
//   - Every other line is: decimal string id (1 to 65535), one tab, then the
//     text between double quotes; nothing may follow the closing quote. The
//     text runs from the first quote to the last one, so quotes inside it need
//     no escape.
//   - Inside the quotes a backslash starts an escape: \\ backslash, \" quote,
//     \n line break, \t tab, \uXXXX the character with that hexadecimal code
//     (a surrogate pair is written as two escapes). Raw control characters are
//     not allowed, so a text never hides an invisible character.
//   - Every text is non-empty and shorter than 260 UTF-16 units (the callers'
//     buffers hold 260 units with the terminator).
//   - Every table holds exactly the ids of the reference table, each once.
//
// Any violation stops the build with a message naming the file and line.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr size_t bufferUnits = 260;

struct Table {
    uint16_t languageId = 0;
    std::string fileName;
    // Text of each id as UTF-16, ordered by id.
    std::map<uint32_t, std::u16string> texts;
};

struct Failure {
    std::string message;
};

[[noreturn]] void fail(const std::string& where, const std::string& message)
{
    throw Failure { where + ": " + message };
}

std::optional<uint32_t> parseDecimal(const std::string& text, uint32_t maximum)
{
    if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0'))
        return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value == 0 || value > maximum)
        return std::nullopt;
    return static_cast<uint32_t>(value);
}

void appendUtf16(std::u16string& out, char32_t codePoint)
{
    if (codePoint < 0x10000) {
        out.push_back(static_cast<char16_t>(codePoint));
    } else {
        codePoint -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
    }
}

// Strict UTF-8 decoding of one character: no overlong forms, no surrogates.
char32_t decodeUtf8(const std::string& text, size_t& position, const std::string& where)
{
    auto lead = static_cast<unsigned char>(text[position]);
    int extra = 0;
    char32_t codePoint = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        ++position;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1, codePoint = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, codePoint = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, codePoint = lead & 0x07, minimum = 0x10000;
    } else {
        fail(where, "invalid UTF-8");
    }
    if (position + static_cast<size_t>(extra) >= text.size())
        fail(where, "truncated UTF-8 sequence");
    for (int i = 1; i <= extra; ++i) {
        auto next = static_cast<unsigned char>(text[position + static_cast<size_t>(i)]);
        if ((next & 0xC0) != 0x80)
            fail(where, "invalid UTF-8");
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        fail(where, "invalid UTF-8");
    position += static_cast<size_t>(extra) + 1;
    return codePoint;
}

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::u16string decodeText(const std::string& quoted, const std::string& where)
{
    std::u16string out;
    size_t position = 0;
    while (position < quoted.size()) {
        char c = quoted[position];
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            fail(where, "raw control character in text; use an escape");
        if (c != '\\') {
            appendUtf16(out, decodeUtf8(quoted, position, where));
            continue;
        }
        if (position + 1 >= quoted.size())
            fail(where, "backslash at the end of the text");
        char escape = quoted[position + 1];
        position += 2;
        switch (escape) {
        case '\\':
            out.push_back(u'\\');
            break;
        case '"':
            out.push_back(u'"');
            break;
        case 'n':
            out.push_back(u'\n');
            break;
        case 't':
            out.push_back(u'\t');
            break;
        case 'u': {
            if (position + 4 > quoted.size())
                fail(where, "\\u needs four hexadecimal digits");
            unsigned value = 0;
            for (size_t i = 0; i < 4; ++i) {
                int digit = hexDigitValue(quoted[position + i]);
                if (digit < 0)
                    fail(where, "\\u needs four hexadecimal digits");
                value = value * 16 + static_cast<unsigned>(digit);
            }
            if (value == 0)
                fail(where, "\\u0000 would end the text early");
            out.push_back(static_cast<char16_t>(value));
            position += 4;
            break;
        }
        default:
            fail(where, std::string("unknown escape \\") + escape);
        }
    }
    // Escapes can name surrogates one by one; only whole pairs make valid text.
    for (size_t i = 0; i < out.size(); ++i) {
        bool high = out[i] >= 0xD800 && out[i] <= 0xDBFF;
        bool low = out[i] >= 0xDC00 && out[i] <= 0xDFFF;
        bool pairedHigh = high && i + 1 < out.size() && out[i + 1] >= 0xDC00 && out[i + 1] <= 0xDFFF;
        if (low || (high && !pairedHigh))
            fail(where, "unpaired surrogate in text");
        if (pairedHigh)
            ++i;
    }
    return out;
}

Table readTable(const std::filesystem::path& path)
{
    Table table;
    table.fileName = path.filename().string();
    std::string stem = path.stem().string();
    auto dash = stem.find('-');
    auto languageId = parseDecimal(stem.substr(0, dash), 0xFFFF);
    if (dash == std::string::npos || !languageId || path.extension() != ".tsv")
        fail(table.fileName, "the file name must be <language id>-<name>.tsv");
    table.languageId = static_cast<uint16_t>(*languageId);

    std::ifstream input(path, std::ios::binary);
    if (!input)
        fail(table.fileName, "cannot be read");
    std::string line;
    int lineNumber = 0;
    while (std::getline(input, line)) {
        ++lineNumber;
        std::string where = table.fileName + ":" + std::to_string(lineNumber);
        if (lineNumber == 1 && line.starts_with("\xEF\xBB\xBF"))
            line.erase(0, 3);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        auto tab = line.find('\t');
        if (tab == std::string::npos)
            fail(where, "expected: id, tab, quoted text");
        auto id = parseDecimal(line.substr(0, tab), 0xFFFF);
        if (!id)
            fail(where, "the id must be a number from 1 to 65535");
        std::string rest = line.substr(tab + 1);
        if (rest.size() < 2 || rest.front() != '"' || rest.back() != '"')
            fail(where, "the text must stand between double quotes, with nothing after the closing quote");
        std::u16string text = decodeText(rest.substr(1, rest.size() - 2), where);
        if (text.empty())
            fail(where, "empty text");
        if (text.size() >= bufferUnits)
            fail(where, "text of " + std::to_string(text.size()) + " units does not fit a buffer of 260 units");
        if (!table.texts.emplace(*id, std::move(text)).second)
            fail(where, "id " + std::to_string(*id) + " appears twice");
    }
    return table;
}

void checkSameIds(const Table& table, const Table& reference)
{
    for (const auto& [id, text] : reference.texts) {
        if (!table.texts.contains(id))
            fail(table.fileName, "id " + std::to_string(id) + " of " + reference.fileName + " is missing");
    }
    for (const auto& [id, text] : table.texts) {
        if (!reference.texts.contains(id))
            fail(table.fileName, "id " + std::to_string(id) + " is not in " + reference.fileName);
    }
}

// Writes a UTF-16 literal with every unit outside printable ASCII as a numeric
// escape, so the generated source does not depend on the compiler's input
// character set.
std::string literal(const std::u16string& text)
{
    std::ostringstream out;
    out << "u\"";
    bool lastWasHexEscape = false;
    for (char16_t unit : text) {
        bool printable = unit >= 0x20 && unit < 0x7F;
        if (printable && !(lastWasHexEscape && hexDigitValue(static_cast<char>(unit)) >= 0)) {
            if (unit == u'\\' || unit == u'"')
                out << '\\';
            out << static_cast<char>(unit);
            lastWasHexEscape = false;
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%04X", static_cast<unsigned>(unit));
            out << escape;
            lastWasHexEscape = true;
        }
    }
    out << "\"sv";
    return out.str();
}

std::string generate(const std::vector<Table>& tables)
{
    std::ostringstream out;
    out << "// Generated from support/strings/tables/*.tsv by generate_string_table; edit those files.\n"
           "#include \"support/strings/string_table_p.h\"\n\n"
           "using namespace std::string_view_literals;\n\n"
           "namespace strings::detail {\n\n"
           "namespace {\n\n";
    for (const auto& table : tables) {
        out << "// " << table.fileName << "\n";
        out << "constexpr Entry entries" << table.languageId << "[] = {\n";
        for (const auto& [id, text] : table.texts)
            out << "    { " << id << ", " << literal(text) << " },\n";
        out << "};\n\n";
    }
    out << "constexpr LanguageTable allTables[] = {\n";
    for (const auto& table : tables)
        out << "    { " << table.languageId << ", entries" << table.languageId << " },\n";
    out << "};\n\n";
    out << "constexpr uint16_t allLanguages[] = {";
    for (size_t i = 0; i < tables.size(); ++i)
        out << (i ? ", " : " ") << tables[i].languageId;
    out << " };\n\n";
    out << "constexpr uint32_t allIds[] = {";
    size_t count = 0;
    for (const auto& [id, text] : tables.front().texts) {
        out << (count ? "," : "") << (count % 16 ? " " : "\n    ") << id;
        ++count;
    }
    out << "\n};\n\n";
    out << "} // namespace\n\n"
           "std::span<const LanguageTable> languageTables() { return allTables; }\n"
           "std::span<const uint16_t> languageIds() { return allLanguages; }\n"
           "std::span<const uint32_t> stringIds() { return allIds; }\n\n"
           "} // namespace strings::detail\n";
    return out.str();
}

int run(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <output.cpp> <reference language id> <table file>...\n", argv[0]);
        return 2;
    }
    auto referenceId = parseDecimal(argv[2], 0xFFFF);
    if (!referenceId)
        fail(argv[2], "not a language id");

    std::vector<Table> tables;
    for (int i = 3; i < argc; ++i)
        tables.push_back(readTable(argv[i]));
    std::sort(tables.begin(), tables.end(),
        [](const Table& left, const Table& right) { return left.languageId < right.languageId; });
    for (size_t i = 1; i < tables.size(); ++i) {
        if (tables[i].languageId == tables[i - 1].languageId)
            fail(tables[i].fileName,
                "language " + std::to_string(tables[i].languageId) + " is also held by " + tables[i - 1].fileName);
    }
    auto reference = std::find_if(
        tables.begin(), tables.end(), [&](const Table& table) { return table.languageId == *referenceId; });
    if (reference == tables.end())
        fail(argv[2], "no table for the reference language");
    if (reference->texts.empty())
        fail(reference->fileName, "the reference table holds no texts");
    for (const auto& table : tables)
        checkSameIds(table, *reference);

    // Write only when the content changed, so an unchanged table rebuilds nothing.
    std::string source = generate(tables);
    std::filesystem::path output = argv[1];
    {
        std::ifstream existing(output, std::ios::binary);
        std::ostringstream old;
        old << existing.rdbuf();
        if (existing && old.str() == source)
            return 0;
    }
    std::ofstream file(output, std::ios::binary | std::ios::trunc);
    file << source;
    if (!file)
        fail(output.string(), "cannot be written");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const Failure& failure) {
        std::fprintf(stderr, "string table: %s\n", failure.message.c_str());
        return 1;
    } catch (const std::exception& exception) {
        std::fprintf(stderr, "string table: %s\n", exception.what());
        return 1;
    }
}
