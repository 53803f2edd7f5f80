#include "platform/process.h"

#include "platform/files.h"
#include "platform/journal.h"
#include "platform/paths.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "tests/testkit/machine_fixture.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>

using namespace platform;
using namespace std::chrono_literals;

namespace {

std::string utf8(std::u16string_view text)
{
    return text::toUtf8(text);
}

std::string show(const std::vector<std::u16string>& arguments)
{
    std::string shown = "[";
    for (const auto& argument : arguments)
        shown += (shown.size() > 1 ? "|" : "") + utf8(argument);
    return shown + "]";
}

struct SplitCase {
    std::u16string_view commandLine;
    std::vector<std::u16string> expected;
};

// The platform's argument splitter, rule by rule.
TEST(CommandLine, SplitsArgumentsAsThePlatformDoes)
{
    const SplitCase cases[] = {
        { u"", {} },
        { u"   \t ", {} },
        { u"a b  c", { u"a", u"b", u"c" } },
        { u"\ta\t b ", { u"a", u"b" } },
        { u"\"two words\" next", { u"two words", u"next" } },
        { u"pre\"mid dle\"post", { u"premid dlepost" } },
        { u"\"\"", { u"" } },
        { u"a \"\" b", { u"a", u"", u"b" } },
        { u"C:\\dir\\file", { u"C:\\dir\\file" } },
        { u"a\\\\b", { u"a\\\\b" } },
        { u"a\\\"b", { u"a\"b" } },
        { u"a\\\\\\\"b", { u"a\\\"b" } },
        { u"a\\\\\"b c\"", { u"a\\b c" } },
        { u"\"C:\\Program Files\\\\\" x", { u"C:\\Program Files\\", u"x" } },
        { u"\"say \"\"hi\"\"\"", { u"say \"hi\"" } },
        { u"\"open ended", { u"open ended" } },
        { u"trailing\\", { u"trailing\\" } },
    };
    for (const auto& row : cases)
        EXPECT_EQ(process::splitArguments(row.commandLine), row.expected)
            << "command line <" << utf8(row.commandLine) << "> gave " << show(process::splitArguments(row.commandLine));
}

TEST(CommandLine, ProgramNameTakesBackslashesLiterally)
{
    const SplitCase cases[] = {
        { u"\"C:\\Program Files\\Tool\\tool.exe\" -x \"a b\"",
            { u"C:\\Program Files\\Tool\\tool.exe", u"-x", u"a b" } },
        // A backslash before the closing quote is a path separator here.
        { u"\"C:\\Tools\\\" rest", { u"C:\\Tools\\", u"rest" } },
        { u"  C:\\Tools\\tool.exe  a\\\"b", { u"C:\\Tools\\tool.exe", u"a\"b" } },
        { u"tool.exe", { u"tool.exe" } },
        { u"", {} },
    };
    for (const auto& row : cases)
        EXPECT_EQ(process::splitCommandLine(row.commandLine), row.expected)
            << "command line <" << utf8(row.commandLine) << "> gave "
            << show(process::splitCommandLine(row.commandLine));
}

// Quoting is right exactly when splitting gives the arguments back.
TEST(CommandLine, QuotedArgumentsSplitBackUnchanged)
{
    const std::vector<std::u16string> awkward {
        u"plain",
        u"",
        u"two words",
        u"tab\there",
        u"quote\"inside",
        u"\"",
        u"ends with backslash\\",
        u"C:\\Program Files\\",
        u"back\\\\\"slash quote",
        u"\\\\server\\share",
        u"100%",
    };
    EXPECT_EQ(process::splitArguments(process::joinArguments(awkward)), awkward)
        << utf8(process::joinArguments(awkward));
    EXPECT_EQ(process::quoteArgument(u"plain"), u"plain");
    EXPECT_EQ(process::quoteArgument(u""), u"\"\"");
}

constexpr std::u16string_view Recorder = u"C:\\Tools\\recorder.exe";

// A machine with the recording helper copied onto drive C: the way any
// program gets there, through the platform's file copy.
class ProcessTest : public testkit::MachineTest {
protected:
    void SetUp() override
    {
        // Programs run from drive C: find the object manager through this.
        setenv("TAVIO_BIN", TAVIO_BIN_DIR, 0);
        MachineTest::SetUp();
        ASSERT_TRUE(files::createDirectory(u"C:\\Tools"));
        std::filesystem::copy_file(testkit::helperProgram("shell_recorder"), machine().host(u"C:\\Tools\\staged"));
        ASSERT_TRUE(files::copy(u"C:\\Tools\\staged", Recorder, files::Overwrite::No));
    }

    // The helper's record of its own start, written by the process `pid`.
    std::optional<journal::Entry> recordOf(int32_t pid)
    {
        for (auto& entry : journal::read("recorder.argv"))
            if (entry.pid == pid)
                return entry;
        return std::nullopt;
    }

    std::vector<std::string> receivedArguments(const journal::Entry& entry)
    {
        std::vector<std::string> arguments;
        const int count = std::stoi(entry.field("count"));
        for (int i = 1; i <= count; ++i)
            arguments.push_back(entry.field("arg" + std::to_string(i)));
        return arguments;
    }
};

TEST_F(ProcessTest, StartedProgramReceivesTheSplitArguments)
{
    struct Case {
        std::u16string_view arguments;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        { u"", {} },
        { u"-x \"two words\" last", { "-x", "two words", "last" } },
        { u"C:\\dir\\ \"C:\\Program Files\\\\\" a\\\"b", { "C:\\dir\\", "C:\\Program Files\\", "a\"b" } },
        { u"\u00e9t\u00e9 \"\"", { "\xc3\xa9t\xc3\xa9", "" } },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE("arguments <" + utf8(row.arguments) + ">");
        auto started = process::start(Recorder, row.arguments);
        ASSERT_TRUE(started) << describe(started.error());
        auto exitCode = started->wait(10s);
        ASSERT_TRUE(exitCode) << "the program did not end";
        EXPECT_EQ(*exitCode, row.expected.size());
        auto record = recordOf(started->id());
        ASSERT_TRUE(record);
        EXPECT_EQ(receivedArguments(*record), row.expected);
        EXPECT_EQ(record->field("arg0"), utf8(Recorder));
    }
}

TEST_F(ProcessTest, StartIsJournaledWithProgramCommandLineAndPid)
{
    auto started = process::start(Recorder, u"-x \"a b\"", { u"C:\\WINDOWS", process::Show::Minimized });
    ASSERT_TRUE(started) << describe(started.error());
    ASSERT_TRUE(started->wait(10s));
    std::optional<journal::Entry> start;
    for (auto& entry : journal::read("process.start"))
        if (entry.field("pid") == std::to_string(started->id()))
            start = entry;
    ASSERT_TRUE(start);
    EXPECT_EQ(start->field("program"), utf8(Recorder));
    EXPECT_EQ(start->field("commandLine"), "C:\\Tools\\recorder.exe -x \"a b\"");
    EXPECT_EQ(start->field("show"), "2");
    auto record = recordOf(started->id());
    ASSERT_TRUE(record);
    EXPECT_EQ(record->field("directory"), "C:\\WINDOWS") << "the working folder was not applied";
}

TEST_F(ProcessTest, WholeCommandLineNamesItsProgramFirst)
{
    ASSERT_TRUE(files::createDirectory(u"C:\\Program Files\\Some Tool"));
    ASSERT_TRUE(files::copy(Recorder, u"C:\\Program Files\\Some Tool\\tool.exe", files::Overwrite::No));
    auto started = process::startCommandLine(u"\"C:\\Program Files\\Some Tool\\tool.exe\" one \"t w o\"");
    ASSERT_TRUE(started) << describe(started.error());
    ASSERT_TRUE(started->wait(10s));
    auto record = recordOf(started->id());
    ASSERT_TRUE(record);
    EXPECT_EQ(receivedArguments(*record), (std::vector<std::string> { "one", "t w o" }));
}

TEST_F(ProcessTest, BareNamesAreFoundInTheSystemFolders)
{
    ASSERT_TRUE(files::copy(Recorder, u"C:\\WINDOWS\\System32\\rec.exe", files::Overwrite::No));
    EXPECT_EQ(process::findProgram(u"rec").valueOr(u""), u"C:\\WINDOWS\\System32\\rec.exe");
    EXPECT_EQ(process::findProgram(u"REC.EXE").valueOr(u""), u"C:\\WINDOWS\\System32\\REC.EXE");
    EXPECT_EQ(process::findProgram(u"missing").error(), Error::FileNotFound);
}

TEST_F(ProcessTest, RefusesWhatIsNoProgram)
{
    ASSERT_TRUE(files::createDirectory(u"C:\\Tools\\folder.exe"));
    {
        auto text = files::open(u"C:\\Tools\\notes.exe", files::Access::Write, files::Share::None, files::Create::New);
        ASSERT_TRUE(text);
        std::string_view content = "#!/bin/sh\necho not a program\n";
        ASSERT_TRUE(text->write(std::as_bytes(std::span(content.data(), content.size()))));
    }
    struct Case {
        std::u16string_view program;
        std::u16string_view directory;
        Error expected;
    };
    const Case cases[] = {
        { u"C:\\Tools\\missing.exe", u"", Error::FileNotFound },
        { u"C:\\Nowhere\\tool.exe", u"", Error::PathNotFound },
        { u"C:\\Tools\\folder.exe", u"", Error::AccessDenied },
        { u"C:\\Tools\\notes.exe", u"", Error::BadExeFormat },
        { Recorder, u"C:\\Nowhere", Error::PathNotFound },
        { u"", u"", Error::FileNotFound },
    };
    for (const auto& row : cases) {
        auto started = process::start(row.program, u"", { std::u16string(row.directory) });
        EXPECT_EQ(started.error(), row.expected)
            << utf8(row.program) << " in <" << utf8(row.directory) << ">: " << describe(started.error());
    }
    EXPECT_TRUE(journal::read("process.start").empty()) << "a refused start must not be journaled as one";
}

TEST_F(ProcessTest, FinishedProgramLeavesNoZombie)
{
    int32_t pid = -1;
    {
        auto started = process::start(Recorder, u"a");
        ASSERT_TRUE(started);
        pid = started->id();
        EXPECT_EQ(started->wait(10s).valueOr(99u), 1u);
    }
    // Collected by the reaper: neither a zombie nor a child left to wait for.
    const int result = ::kill(pid, 0);
    const int error = errno;
    EXPECT_EQ(result, -1);
    EXPECT_EQ(error, ESRCH);
}

TEST_F(ProcessTest, WaitTimesOutUntilTheProgramEnds)
{
    auto event = sync::createEvent(u"ProcessTestRelease", sync::ResetMode::Manual, sync::InitialState::NotSignalled);
    ASSERT_TRUE(event);
    auto held = process::start(Recorder, u"--hold ProcessTestRelease");
    ASSERT_TRUE(held);
    EXPECT_EQ(held->wait(20ms).error(), Error::WaitTimeout);
    EXPECT_FALSE(held->exitCode());
    ASSERT_TRUE(sync::setEvent(event->handle));
    EXPECT_EQ(held->wait(10s).valueOr(99u), 0u);
    EXPECT_EQ(held->exitCode(), 0u);

    auto killed = process::start(Recorder, u"--hold ProcessTestNeverSet");
    ASSERT_TRUE(killed);
    killed->terminate(7);
    EXPECT_EQ(killed->wait(10s).valueOr(99u), 7u);
    killed->terminate(8); // ended already: nothing changes
    EXPECT_EQ(killed->exitCode(), 7u);
}

} // namespace
