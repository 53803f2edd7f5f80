// Starting an entry's assignment: which rule applies, how a program and its
// parameters are split, and what reaches the shell.

#include "platform/files.h"
#include "platform/journal.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "support/launch.h"
#include "tests/support/support_fixture.h"
#include "tools/standins/install.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <vector>

namespace {

using namespace std::chrono_literals;
using platform::text::toUtf8;
using support::LaunchRule;
using support::Refusal;

// ---- The rules alone, over a shell that answers from a list ---------------

class FakeShell final : public support::ShellQueries {
public:
    std::set<std::u16string> existing;
    std::set<std::u16string> associated;
    std::u16string browser { u"C:\\WINDOWS\\System32\\webbrowser.exe" };
    mutable int questions { 0 };

    bool fileExists(std::u16string_view name) const override
    {
        ++questions;
        return existing.contains(std::u16string(name));
    }
    bool hasAssociatedProgram(std::u16string_view name) const override
    {
        ++questions;
        return associated.contains(std::u16string(name));
    }
    std::u16string windowsDirectory() const override { return u"C:\\WINDOWS"; }
    std::u16string webBrowser() const override { return browser; }
};

struct PlanCase {
    const char* name;
    std::u16string_view assignment;
    LaunchRule rule;
    std::u16string_view program;
    std::u16string_view parameters;
};

TEST(LaunchPlan, RulesChooseTheProgramAndSplitTheParameters)
{
    FakeShell shell;
    shell.existing = { u"C:\\WINDOWS\\System32\\powercfg.cpl", u"C:\\WINDOWS\\SYSTEM32\\TABLETPC.CPL",
        u"C:\\WINDOWS\\System32\\sndvol32.exe", u"C:\\Docs\\report.doc", u"C:\\Docs\\notes.cpl.txt" };
    shell.associated = { u"C:\\Docs\\letter.txt" };
    const PlanCase cases[] {
        { "existing applet", u"C:\\WINDOWS\\System32\\powercfg.cpl", LaunchRule::ExistingFile,
            u"C:\\WINDOWS\\System32\\control.exe", u"\"C:\\WINDOWS\\System32\\powercfg.cpl\"" },
        { "existing applet, upper case", u"C:\\WINDOWS\\SYSTEM32\\TABLETPC.CPL", LaunchRule::ExistingFile,
            u"C:\\WINDOWS\\System32\\control.exe", u"\"C:\\WINDOWS\\SYSTEM32\\TABLETPC.CPL\"" },
        { "\".cpl\" anywhere in an existing file's name", u"C:\\Docs\\notes.cpl.txt", LaunchRule::ExistingFile,
            u"C:\\WINDOWS\\System32\\control.exe", u"\"C:\\Docs\\notes.cpl.txt\"" },
        { "existing program", u"C:\\WINDOWS\\System32\\sndvol32.exe", LaunchRule::ExistingFile,
            u"C:\\WINDOWS\\System32\\sndvol32.exe", u"" },
        { "existing document", u"C:\\Docs\\report.doc", LaunchRule::ExistingFile, u"C:\\Docs\\report.doc", u"" },
        { "associated file", u"C:\\Docs\\letter.txt", LaunchRule::AssociatedFile, u"C:\\Docs\\letter.txt", u"" },
        { "quoted program with arguments", u"\"C:\\Program Files\\Tool\\tool.exe\" -x", LaunchRule::Program,
            u"\"C:\\Program Files\\Tool\\tool.exe\"", u"-x" },
        { "quoted program alone", u"\"C:\\Program Files\\Tool\\tool.exe\"", LaunchRule::Program,
            u"\"C:\\Program Files\\Tool\\tool.exe\"", u"" },
        { "quoted program and one character", u"\"C:\\Tool\\tool.exe\" ", LaunchRule::Program,
            u"\"C:\\Tool\\tool.exe\"", u"" },
        { "quoted program, only the first separator dropped", u"\"C:\\Tool\\tool.exe\"  -a  -b", LaunchRule::Program,
            u"\"C:\\Tool\\tool.exe\"", u" -a  -b" },
        { "unquoted program with arguments", u"C:\\Tool\\tool.exe -x", LaunchRule::Program, u"C:\\Tool\\tool.exe",
            u" -x" },
        { "unquoted program, upper case", u"C:\\TOOL\\TOOL.EXE /Y", LaunchRule::Program, u"C:\\TOOL\\TOOL.EXE",
            u" /Y" },
        { "unquoted program alone", u"tool.exe", LaunchRule::Program, u"tool.exe", u"" },
        { "leading blank gives an empty program", u" tool.exe -x", LaunchRule::Program, u"", u" tool.exe -x" },
        { "web address", u"http://www.example.com/", LaunchRule::WebBrowser, u"C:\\WINDOWS\\System32\\webbrowser.exe",
            u"http://www.example.com/" },
        { "a single blank is not empty", u" ", LaunchRule::WebBrowser, u"C:\\WINDOWS\\System32\\webbrowser.exe", u" " },
        { "quoted text without \".exe\"", u"\"no closing quote", LaunchRule::WebBrowser,
            u"C:\\WINDOWS\\System32\\webbrowser.exe", u"\"no closing quote" },
    };
    for (const PlanCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::u16string assignment(c.assignment);
        const auto plan = support::planLaunch(assignment.c_str(), shell);
        EXPECT_EQ(plan.rule, c.rule);
        EXPECT_EQ(toUtf8(plan.program), toUtf8(c.program));
        EXPECT_EQ(toUtf8(plan.parameters), toUtf8(c.parameters));
        EXPECT_EQ(plan.refusal, Refusal::None);
    }
}

TEST(LaunchPlan, NothingToStartAsksTheShellNothing)
{
    FakeShell shell;
    EXPECT_EQ(support::planLaunch(nullptr, shell).rule, LaunchRule::NoAssignment);
    EXPECT_EQ(support::planLaunch(u"", shell).rule, LaunchRule::EmptyAssignment);
    EXPECT_EQ(shell.questions, 0);
}

TEST(LaunchPlan, AssignmentsThatCannotBeStartedSafelyAreRefused)
{
    // Exactly 260 units with no terminator among them, in a buffer of that
    // size: the sanitizers see any read past it.
    auto unterminated = std::make_unique<char16_t[]>(support::LaunchBufferUnits);
    std::fill_n(unterminated.get(), support::LaunchBufferUnits, u'a');
    std::copy_n(u"C:\\tool.exe ", 12, unterminated.get());

    // An existing applet path of 258 units does not fit in quotes into 260.
    const std::u16string longApplet = u"C:\\" + std::u16string(251, u'a') + u".cpl";
    const std::u16string longestQuotable = u"C:\\" + std::u16string(250, u'a') + u".cpl";
    ASSERT_EQ(longApplet.size(), 258u);
    FakeShell shell;
    shell.existing = { longApplet, longestQuotable };

    struct Case {
        const char* name;
        const char16_t* assignment;
        Refusal refusal;
    };
    const std::u16string unclosed = u"\"C:\\Program Files\\Tool\\tool.exe -x";
    const Case cases[] {
        { "no terminator within 260 units", unterminated.get(), Refusal::NotTerminated },
        { "quoted program without its closing quote", unclosed.c_str(), Refusal::UnclosedQuote },
        { "applet path too long to quote", longApplet.c_str(), Refusal::AppletPathTooLong },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto plan = support::planLaunch(c.assignment, shell);
        EXPECT_EQ(plan.rule, LaunchRule::Refused);
        EXPECT_EQ(plan.refusal, c.refusal);
        EXPECT_FALSE(plan.startsSomething());
        EXPECT_EQ(plan.program, u"");
        EXPECT_EQ(plan.parameters, u"");
    }

    // One unit shorter still fits: 257 units, two quotes and the terminator.
    const auto fits = support::planLaunch(longestQuotable.c_str(), shell);
    EXPECT_EQ(fits.rule, LaunchRule::ExistingFile);
    EXPECT_EQ(fits.parameters.size(), 259u);
}

// ---- Through the machine's shell -------------------------------------------

// A machine with the platform's programs (control.exe, webbrowser.exe and
// the applets) and the application installed with its blank page, the
// recording helper as C:\Tool\tool.exe and in a folder with blanks, and
// documents associated with it.
class LaunchTest : public supporttest::SupportTest {
protected:
    void SetUp() override
    {
        // Programs started from drive C: find the object manager through
        // this, and the browser must never reach a real desktop from a test.
        setenv("TAVIO_BIN", TAVIO_BIN_DIR, 0);
        unsetenv("DISPLAY");
        SupportTest::SetUp();
        auto installed = standins::installPlatformPrograms(TAVIO_BIN_DIR);
        ASSERT_TRUE(installed.ok());
        ASSERT_TRUE(installed->missing.empty()) << installed->missing.front() << " is not built";
        std::filesystem::copy_file(std::filesystem::path(TAVIO_BIN_DIR) / "BlankHtm.htm", appFile(u"BlankHtm.htm"));

        for (std::u16string_view folder : { u"C:\\Tool", u"C:\\Program Files\\Tool", u"C:\\Docs" })
            ASSERT_TRUE(platform::files::createDirectory(folder).ok());
        std::filesystem::copy_file(testkit::helperProgram("shell_recorder"), machine().host(u"C:\\Tool") / "tool.exe");
        ASSERT_TRUE(platform::files::copy(
            u"C:\\Tool\\tool.exe", u"C:\\Program Files\\Tool\\tool.exe", platform::files::Overwrite::No)
                        .ok());
        std::ofstream(machine().host(u"C:\\Docs") / "report.doc") << "report";
        associate(u".doc", u"\"C:\\Tool\\tool.exe\" \"%1\"");
    }

    static void associate(std::u16string_view extension, std::u16string_view command)
    {
        using namespace platform::registry;
        auto type = createKey(Root::LocalMachine, u"SOFTWARE\\Classes\\" + std::u16string(extension));
        ASSERT_TRUE(type.ok());
        ASSERT_TRUE(setString(type->key, u"", u"docfile").ok());
        auto open = createKey(Root::LocalMachine, u"SOFTWARE\\Classes\\docfile\\shell\\open\\command");
        ASSERT_TRUE(open.ok());
        ASSERT_TRUE(setString(open->key, u"", command).ok());
    }

    // The shell's record of each open since `from` entries.
    static std::vector<platform::journal::Entry> opensSince(size_t from)
    {
        auto entries = platform::journal::read("shell.execute");
        return { entries.begin() + static_cast<std::ptrdiff_t>(std::min(from, entries.size())), entries.end() };
    }

    // Waits, at most ten seconds, for the started program's own record: the
    // started program's signal that it ran.
    static std::optional<platform::journal::Entry> awaitRecord(std::string_view kind, size_t from)
    {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            auto entries = platform::journal::read(kind);
            if (entries.size() > from)
                return entries[from];
            platform::sync::sleep(20ms);
        }
        return std::nullopt;
    }
};

TEST_F(LaunchTest, EachRuleHandsTheShellItsProgramAndParameters)
{
    struct Case {
        const char* name;
        std::u16string_view assignment;
        std::string_view file; // what the shell was asked to open
        std::string_view parameters;
        std::string_view program; // what the shell ran
        std::string_view startedRecord; // the started program's own journal kind
    };
    const Case cases[] {
        { "existing applet through the Control Panel", u"C:\\WINDOWS\\System32\\powercfg.cpl",
            "C:\\WINDOWS\\System32\\control.exe", "\"C:\\WINDOWS\\System32\\powercfg.cpl\"",
            "C:\\WINDOWS\\System32\\control.exe", "control.open" },
        { "upper-case applet extension", u"C:\\WINDOWS\\SYSTEM32\\TABLETPC.CPL", "C:\\WINDOWS\\System32\\control.exe",
            "\"C:\\WINDOWS\\SYSTEM32\\TABLETPC.CPL\"", "C:\\WINDOWS\\System32\\control.exe", "control.open" },
        { "existing program", u"C:\\Tool\\tool.exe", "C:\\Tool\\tool.exe", "", "C:\\Tool\\tool.exe", "recorder.argv" },
        { "existing document", u"C:\\Docs\\report.doc", "C:\\Docs\\report.doc", "", "C:\\Tool\\tool.exe",
            "recorder.argv" },
        { "quoted program with arguments", u"\"C:\\Program Files\\Tool\\tool.exe\" -x",
            "\"C:\\Program Files\\Tool\\tool.exe\"", "-x", "C:\\Program Files\\Tool\\tool.exe", "recorder.argv" },
        { "unquoted program with arguments", u"C:\\Tool\\tool.exe -x", "C:\\Tool\\tool.exe", " -x",
            "C:\\Tool\\tool.exe", "recorder.argv" },
        { "web address to the browser", u"www.example.com/news", "C:\\WINDOWS\\System32\\webbrowser.exe",
            "www.example.com/news", "C:\\WINDOWS\\System32\\webbrowser.exe", "browser.open" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t opens = platform::journal::read("shell.execute").size();
        const size_t records = platform::journal::read(c.startedRecord).size();
        const std::u16string assignment(c.assignment);

        EXPECT_EQ(support::TavioUtilShellExecute(assignment.c_str()), 0);

        const auto opened = opensSince(opens);
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(opened[0].field("verb"), "open");
        EXPECT_EQ(opened[0].field("file"), c.file);
        EXPECT_EQ(opened[0].field("parameters"), c.parameters);
        EXPECT_EQ(opened[0].field("directory"), "");
        EXPECT_TRUE(platform::text::equalsIgnoreCase(opened[0].field("program"), c.program))
            << opened[0].field("program");
        EXPECT_TRUE(awaitRecord(c.startedRecord, records).has_value()) << c.startedRecord << " was not recorded";
    }
}

TEST_F(LaunchTest, WebAddressReachesTheBrowserWhole)
{
    const size_t records = platform::journal::read("browser.open").size();
    EXPECT_EQ(support::TavioUtilShellExecute(u"www.example.com/a?b=c"), 0);
    auto opened = awaitRecord("browser.open", records);
    ASSERT_TRUE(opened.has_value());
    EXPECT_EQ(opened->field("address"), "www.example.com/a?b=c");
}

TEST_F(LaunchTest, NothingToStartOrRefusedReachesNoShell)
{
    std::array<char16_t, support::LaunchBufferUnits> unterminated;
    unterminated.fill(u'x');
    struct Case {
        const char* name;
        const char16_t* assignment;
        int32_t result;
    };
    const Case cases[] {
        { "null", nullptr, 0 },
        { "empty", u"", 0 },
        { "unclosed quote", u"\"C:\\Program Files\\Tool\\tool.exe -x", -1 },
        { "not terminated within 260 units", unterminated.data(), -1 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t opens = platform::journal::read("shell.execute").size();
        EXPECT_EQ(support::TavioUtilShellExecute(c.assignment), c.result);
        EXPECT_TRUE(opensSince(opens).empty());
    }
}

TEST_F(LaunchTest, ShellFailuresAreMinusOne)
{
    struct Case {
        const char* name;
        std::u16string_view assignment;
    };
    const Case cases[] {
        { "missing program", u"C:\\Tool\\missing.exe -x" },
        { "leading blank leaves no program", u" C:\\Tool\\tool.exe" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t opens = platform::journal::read("shell.execute").size();
        const std::u16string assignment(c.assignment);
        EXPECT_EQ(support::TavioUtilShellExecute(assignment.c_str()), -1);
        EXPECT_EQ(opensSince(opens).size(), 1u);
    }

    // Without the blank page no browser is found: the shell gets no program.
    std::filesystem::remove(appFile(u"BlankHtm.htm"));
    const size_t opens = platform::journal::read("shell.execute").size();
    EXPECT_EQ(support::TavioUtilShellExecute(u"www.example.com"), -1);
    const auto opened = opensSince(opens);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].field("file"), "");
    EXPECT_EQ(opened[0].field("parameters"), "www.example.com");
}

} // namespace
