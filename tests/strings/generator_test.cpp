#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct TableFile {
    std::string name;
    std::string content;
};

struct Outcome {
    int exitCode;
    std::string messages;
    std::string source;
};

// Each test gets its own folder of table files and runs the generator on all
// of them with English as the reference, as the build does.
class Generator : public testing::Test {
protected:
    void SetUp() override
    {
        std::string testName = testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(testName.begin(), testName.end(), '/', '_');
        folder = fs::temp_directory_path() / ("tavio-strings-" + std::to_string(getpid()) + "-" + testName);
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    Outcome run(const std::vector<TableFile>& files)
    {
        std::string command = std::string(TAVIO_STRINGS_GENERATOR) + " '" + (folder / "out.cpp").string() + "' 1033";
        for (const auto& file : files) {
            std::ofstream(folder / file.name, std::ios::binary) << file.content;
            command += " '" + (folder / file.name).string() + "'";
        }
        command += " 2>&1";
        Outcome outcome {};
        FILE* pipe = popen(command.c_str(), "r");
        std::array<char, 512> chunk;
        size_t read = 0;
        while ((read = fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
            outcome.messages.append(chunk.data(), read);
        int status = pclose(pipe);
        outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::ifstream source(folder / "out.cpp");
        std::stringstream text;
        text << source.rdbuf();
        outcome.source = text.str();
        return outcome;
    }

    fs::path folder;
};

const std::string english = "# reference\n1\t\"One\"\n2\t\"Two  with blanks \"\n";

TEST_F(Generator, AcceptsTablesWithTheSameIdsAndKeepsEveryUnit)
{
    auto outcome = run({ { "1033-english.tsv", english },
        { "1031-german.tsv", "\xEF\xBB\xBF# German\r\n\r\n2\t\"Zwei \\\"\\\\ \\u00E9\xC3\xA4\"\r\n1\t\"Eins\"\r\n" } });
    ASSERT_EQ(outcome.exitCode, 0) << outcome.messages;
    // Texts keep their blanks; escapes, a byte order mark and CR LF line ends are understood.
    EXPECT_NE(outcome.source.find(R"({ 2, u"Two  with blanks "sv })"), std::string::npos) << outcome.source;
    EXPECT_NE(outcome.source.find(R"({ 2, u"Zwei \"\\ \x00E9\x00E4"sv })"), std::string::npos) << outcome.source;
    // Languages and ids come out in ascending order, whatever the file order.
    EXPECT_LT(outcome.source.find("entries1031[]"), outcome.source.find("entries1033[]"));
    EXPECT_LT(outcome.source.find("{ 1, u\"Eins\"sv }"), outcome.source.find("{ 2, u\"Zwei"));
}

TEST_F(Generator, AcceptsTheLongestTextThatFitsTheBuffer)
{
    std::string longest = "1\t\"" + std::string(259, 'x') + "\"\n";
    auto outcome = run({ { "1033-english.tsv", longest } });
    EXPECT_EQ(outcome.exitCode, 0) << outcome.messages;
}

std::string repeat(const std::string& text, int times)
{
    std::string repeated;
    for (int i = 0; i < times; ++i)
        repeated += text;
    return repeated;
}

struct Fault {
    const char* name;
    std::vector<TableFile> files;
    const char* message;
};

class GeneratorRefuses : public Generator, public testing::WithParamInterface<Fault> { };

TEST_P(GeneratorRefuses, FaultyTable)
{
    auto outcome = run(GetParam().files);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_NE(outcome.messages.find(GetParam().message), std::string::npos) << outcome.messages;
    EXPECT_TRUE(outcome.source.empty()) << "no source may be written from a faulty table";
}

const Fault faults[] = {
    { "MissingId", { { "1033-english.tsv", english }, { "1031-german.tsv", "1\t\"Eins\"\n" } },
        "1031-german.tsv: id 2 of 1033-english.tsv is missing" },
    { "ExtraId", { { "1033-english.tsv", english }, { "1031-german.tsv", "1\t\"Eins\"\n2\t\"Zwei\"\n3\t\"Drei\"\n" } },
        "1031-german.tsv: id 3 is not in 1033-english.tsv" },
    { "DuplicateId", { { "1033-english.tsv", english + "1\t\"Again\"\n" } }, "1033-english.tsv:4: id 1 appears twice" },
    { "IdZero", { { "1033-english.tsv", "0\t\"Zero\"\n" } }, "the id must be a number from 1 to 65535" },
    { "IdTooLarge", { { "1033-english.tsv", "65536\t\"Big\"\n" } }, "the id must be a number from 1 to 65535" },
    { "NoTab", { { "1033-english.tsv", "1 \"One\"\n" } }, "expected: id, tab, quoted text" },
    { "Unquoted", { { "1033-english.tsv", "1\tOne\n" } }, "between double quotes" },
    { "TrailingBlankAfterQuote", { { "1033-english.tsv", "1\t\"One\" \n" } }, "between double quotes" },
    { "EmptyText", { { "1033-english.tsv", "1\t\"\"\n" } }, "empty text" },
    { "RawTab", { { "1033-english.tsv", "1\t\"a\tb\"\n" } }, "raw control character" },
    { "UnknownEscape", { { "1033-english.tsv", "1\t\"a\\qb\"\n" } }, "unknown escape \\q" },
    { "ShortUnicodeEscape", { { "1033-english.tsv", "1\t\"a\\u12\"\n" } }, "four hexadecimal digits" },
    { "NulEscape", { { "1033-english.tsv", "1\t\"a\\u0000b\"\n" } }, "would end the text early" },
    { "BackslashAtEnd", { { "1033-english.tsv", "1\t\"a\\\"\n" } }, "backslash at the end" },
    { "InvalidUtf8", { { "1033-english.tsv", "1\t\"a\xC3(\"\n" } }, "invalid UTF-8" },
    { "OverlongUtf8", { { "1033-english.tsv", "1\t\"a\xC0\xAF\"\n" } }, "invalid UTF-8" },
    { "SurrogateInUtf8", { { "1033-english.tsv", "1\t\"a\xED\xA0\x80\"\n" } }, "invalid UTF-8" },
    { "TruncatedUtf8", { { "1033-english.tsv", "1\t\"a\xE4\xB8\"\n" } }, "UTF-8" },
    { "TextTooLong", { { "1033-english.tsv", "1\t\"" + std::string(260, 'x') + "\"\n" } }, "does not fit" },
    // A four-byte character takes two units: 130 of them are 260 units.
    { "TextTooLongInUnits", { { "1033-english.tsv", "1\t\"" + repeat("\xF0\x9F\x98\x80", 130) + "\"\n" } },
        "does not fit" },
    { "UnpairedSurrogateEscape", { { "1033-english.tsv", "1\t\"a\\uD83Db\"\n" } }, "unpaired surrogate" },
    { "FileNameWithoutLanguage", { { "1033-english.tsv", english }, { "german.tsv", english } },
        "<language id>-<name>.tsv" },
    { "LanguageHeldTwice", { { "1033-english.tsv", english }, { "1033-american.tsv", english } }, "also held by" },
    { "NoReferenceTable", { { "1031-german.tsv", english } }, "no table for the reference language" },
};

INSTANTIATE_TEST_SUITE_P(Generator, GeneratorRefuses, testing::ValuesIn(faults),
    [](const testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

} // namespace
