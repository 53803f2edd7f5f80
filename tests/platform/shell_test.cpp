#include "platform/shell.h"

#include "platform/config.h"
#include "platform/files.h"
#include "platform/journal.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tests/testkit/machine_fixture.h"
#include "tools/standins/install.h"

#include <cstdlib>

using namespace platform;
using namespace std::chrono_literals;

namespace {

constexpr std::u16string_view Recorder = u"C:\\Tools\\recorder.exe";
constexpr std::u16string_view QuotedTool = u"C:\\Program Files\\Some Tool\\tool.exe";
constexpr std::u16string_view Browser = u"C:\\WINDOWS\\System32\\webbrowser.exe";
constexpr std::u16string_view Control = u"C:\\WINDOWS\\System32\\control.exe";

std::string utf8(std::u16string_view text)
{
    return text::toUtf8(text);
}

void writeFile(std::u16string_view path, std::string_view content = "content")
{
    auto file = files::open(path, files::Access::Write, files::Share::None, files::Create::Always);
    ASSERT_TRUE(file) << utf8(path) << ": " << describe(file.error());
    ASSERT_TRUE(file->write(std::as_bytes(std::span(content.data(), content.size()))));
}

shell::ExecuteRequest request(
    std::u16string_view file, std::u16string_view parameters, std::u16string_view verb = u"open")
{
    shell::ExecuteRequest request;
    request.verb = verb;
    request.file = file;
    request.parameters = parameters;
    return request;
}

// A machine as `tavio-machine init` leaves it: the platform's programs in
// System32 with their associations, plus the recording helper at two
// places (one with blanks in its path) and a folder of documents.
class ShellTest : public testkit::MachineTest {
protected:
    void SetUp() override
    {
        // Programs run from drive C: find the object manager through this,
        // and the browser must never reach a real desktop from a test.
        setenv("TAVIO_BIN", TAVIO_BIN_DIR, 0);
        unsetenv("DISPLAY");
        MachineTest::SetUp();
        auto installed = standins::installPlatformPrograms(TAVIO_BIN_DIR);
        ASSERT_TRUE(installed) << describe(installed.error());
        ASSERT_TRUE(installed->missing.empty()) << installed->missing.front() << " is not built";

        ASSERT_TRUE(files::createDirectory(u"C:\\Tools"));
        ASSERT_TRUE(files::createDirectory(u"C:\\Program Files\\Some Tool"));
        ASSERT_TRUE(files::createDirectory(u"C:\\Docs"));
        std::filesystem::copy_file(testkit::helperProgram("shell_recorder"), machine().host(u"C:\\Tools\\staged"));
        ASSERT_TRUE(files::copy(u"C:\\Tools\\staged", Recorder, files::Overwrite::No));
        ASSERT_TRUE(files::copy(Recorder, QuotedTool, files::Overwrite::No));
    }

    // Opens and waits for the started program to end.
    shell::Launch executeAndWait(shell::ExecuteRequest request)
    {
        auto launch = shell::execute(request);
        if (launch.process) {
            auto exitCode = launch.process->wait(10s);
            EXPECT_TRUE(exitCode) << utf8(launch.program) << " did not end";
            if (!exitCode)
                launch.process->terminate();
        }
        return launch;
    }

    std::optional<journal::Entry> entryOf(std::string_view kind, const shell::Launch& launch)
    {
        if (!launch.process)
            return std::nullopt;
        for (auto& entry : journal::read(kind))
            if (entry.pid == launch.process->id())
                return entry;
        return std::nullopt;
    }

    std::vector<std::string> receivedArguments(const shell::Launch& launch)
    {
        auto entry = entryOf("recorder.argv", launch);
        if (!entry)
            return { "(nothing recorded)" };
        std::vector<std::string> arguments;
        for (int i = 1, count = std::stoi(entry->field("count")); i <= count; ++i)
            arguments.push_back(entry->field("arg" + std::to_string(i)));
        return arguments;
    }

    // Associates an extension with the recording helper.
    void associate(std::u16string_view extension, std::u16string_view command)
    {
        auto type = registry::createKey(
            registry::Root::LocalMachine, u"SOFTWARE\\Classes\\" + std::u16string(extension), registry::Access::Write);
        ASSERT_TRUE(type);
        ASSERT_TRUE(registry::setString(type->key, u"", u"recfile"));
        auto open = registry::createKey(
            registry::Root::LocalMachine, u"SOFTWARE\\Classes\\recfile\\shell\\open\\command", registry::Access::Write);
        ASSERT_TRUE(open);
        ASSERT_TRUE(registry::setString(open->key, u"", command));
    }
};

TEST_F(ShellTest, FindFileTellsWhetherAFileOfThatNameExists)
{
    writeFile(u"C:\\Docs\\Report.doc");
    struct Case {
        std::u16string_view pattern;
        Error expected;
        std::u16string_view name;
    };
    const Case cases[] = {
        { u"C:\\Docs\\report.DOC", Error::Success, u"Report.doc" },
        { u"C:\\WINDOWS\\System32\\*.cpl", Error::Success, u"powercfg.cpl" },
        { u"C:\\Docs\\Rep?rt.*", Error::Success, u"Report.doc" },
        { u"C:\\Docs\\missing.doc", Error::FileNotFound, u"" },
        { u"C:\\Nowhere\\report.doc", Error::PathNotFound, u"" },
    };
    for (const auto& row : cases) {
        auto found = shell::findFile(row.pattern);
        EXPECT_EQ(found.error(), row.expected) << utf8(row.pattern);
        if (found) {
            EXPECT_EQ(found->name, row.name) << utf8(row.pattern);
        }
    }
    EXPECT_FALSE(shell::findFile(u"http://www.example.com/"));
    EXPECT_FALSE(shell::findFile(u"C:\\Tools\\recorder.exe -x")) << "a program with arguments is no file name";
}

TEST_F(ShellTest, FindExecutableNamesTheProgramForAFile)
{
    writeFile(u"C:\\Docs\\page.htm");
    writeFile(u"C:\\Docs\\PAGE2.HTML");
    writeFile(u"C:\\Docs\\notes.xyz");
    writeFile(u"C:\\Docs\\README");
    struct Case {
        std::u16string_view file;
        std::u16string_view directory;
        Error expected;
        std::u16string_view program;
    };
    const Case cases[] = {
        { Recorder, u"", Error::Success, Recorder },
        { u"C:\\Docs\\page.htm", u"", Error::Success, Browser },
        { u"C:\\Docs\\PAGE2.HTML", u"", Error::Success, Browser },
        { u"page.htm", u"C:\\Docs", Error::Success, Browser },
        { u"C:\\WINDOWS\\System32\\powercfg.cpl", u"", Error::Success, Control },
        { u"C:\\Docs\\notes.xyz", u"", shell::NoAssociation, u"" },
        { u"C:\\Docs\\README", u"", shell::NoAssociation, u"" },
        { u"C:\\Docs", u"", shell::NoAssociation, u"" },
        { u"C:\\Docs\\missing.htm", u"", Error::FileNotFound, u"" },
        { u"C:\\Nowhere\\page.htm", u"", Error::PathNotFound, u"" },
        { u"www.example.com", u"", Error::FileNotFound, u"" },
    };
    for (const auto& row : cases) {
        auto found = shell::findExecutable(row.file, row.directory);
        EXPECT_EQ(found.error(), row.expected) << utf8(row.file) << ": " << describe(found.error());
        if (found) {
            EXPECT_TRUE(text::equalsIgnoreCase(*found, row.program)) << utf8(row.file) << " -> " << utf8(*found);
        }
    }
}

TEST_F(ShellTest, FindExecutableReportsAMissingAssociatedProgram)
{
    writeFile(u"C:\\Docs\\a.rec");
    associate(u".rec", u"\"C:\\Tools\\gone.exe\" \"%1\"");
    EXPECT_EQ(shell::findExecutable(u"C:\\Docs\\a.rec").error(), Error::FileNotFound);
}

TEST_F(ShellTest, ProgramGetsExactlyTheParameters)
{
    struct Case {
        std::u16string_view file;
        std::u16string_view parameters;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        { Recorder, u"", {} },
        { Recorder, u" -x", { "-x" } },
        { Recorder, u"-x \"two words\" C:\\dir\\ a\\\"b", { "-x", "two words", "C:\\dir\\", "a\"b" } },
        // One pair of quotes around the program's name is the shell's to remove.
        { u"\"C:\\Program Files\\Some Tool\\tool.exe\"", u"-x", { "-x" } },
        { u"C:\\TOOLS\\RECORDER.EXE", u"upper", { "upper" } },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(utf8(row.file) + " with <" + utf8(row.parameters) + ">");
        auto launch = executeAndWait(request(std::u16string(row.file), std::u16string(row.parameters)));
        ASSERT_TRUE(launch.started()) << launch.number();
        EXPECT_EQ(receivedArguments(launch), row.expected);
    }
    std::vector<journal::Entry> executes = journal::read("shell.execute");
    ASSERT_EQ(executes.size(), std::size(cases));
    EXPECT_EQ(executes[2].field("verb"), "open");
    EXPECT_EQ(executes[2].field("file"), utf8(Recorder));
    EXPECT_EQ(executes[2].field("parameters"), "-x \"two words\" C:\\dir\\ a\\\"b");
    EXPECT_EQ(executes[2].field("program"), utf8(Recorder));
    EXPECT_EQ(executes[2].field("result"), "42");
    EXPECT_EQ(executes[3].field("program"), utf8(QuotedTool));
}

TEST_F(ShellTest, DocumentOpensInItsAssociatedProgram)
{
    writeFile(u"C:\\Docs\\My File.rec");
    writeFile(u"C:\\Docs\\plain.rec");
    struct Case {
        std::u16string_view command;
        std::u16string_view document;
        std::u16string_view parameters;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        { u"\"C:\\Tools\\recorder.exe\" \"%1\"", u"C:\\Docs\\My File.rec", u"", { "C:\\Docs\\My File.rec" } },
        // An unquoted %1 still gives the document as one argument.
        { u"C:\\Tools\\recorder.exe %1", u"C:\\Docs\\My File.rec", u"-p 1", { "C:\\Docs\\My File.rec", "-p", "1" } },
        { u"C:\\Tools\\recorder.exe /open %1 /with %*", u"C:\\Docs\\plain.rec", u"a b",
            { "/open", "C:\\Docs\\plain.rec", "/with", "a", "b" } },
        // Without %1 the document comes last but for the parameters.
        { u"C:\\Tools\\recorder.exe /only", u"c:\\docs\\PLAIN.REC", u"", { "/only", "C:\\Docs\\plain.rec" } },
        { u"recorder2 \"%1\" 100%%", u"C:\\Docs\\plain.rec", u"", { "C:\\Docs\\plain.rec", "100%" } },
    };
    ASSERT_TRUE(files::copy(Recorder, u"C:\\WINDOWS\\System32\\recorder2.exe", files::Overwrite::No));
    for (const auto& row : cases) {
        SCOPED_TRACE("command <" + utf8(row.command) + ">");
        associate(u".rec", row.command);
        auto launch = executeAndWait(request(std::u16string(row.document), std::u16string(row.parameters)));
        ASSERT_TRUE(launch.started()) << launch.number();
        auto received = receivedArguments(launch);
        // The document's path is as it was named; compare its letters without case.
        ASSERT_EQ(received.size(), row.expected.size());
        for (size_t i = 0; i < received.size(); ++i)
            EXPECT_TRUE(text::equalsIgnoreCase(received[i], row.expected[i])) << received[i];
    }
}

TEST_F(ShellTest, WebPagesAndAddressesReachTheBrowser)
{
    writeFile(u"C:\\Docs\\BlankHtm.htm", "<html></html>");
    writeFile(u"C:\\Docs\\My Page.htm", "<html></html>");
    // How the menu opens a web address: the browser found through a blank
    // page, the address as its parameters.
    auto browser = shell::findExecutable(u"C:\\Docs\\BlankHtm.htm");
    ASSERT_TRUE(browser) << describe(browser.error());
    struct Case {
        std::u16string file;
        std::u16string_view parameters;
        std::string address;
    };
    const Case cases[] = {
        { *browser, u"http://www.example.com/a?b=c&d", "http://www.example.com/a?b=c&d" },
        { *browser, u"www.example.com/some page", "www.example.com/some page" },
        { u"C:\\Docs\\My Page.htm", u"", "C:\\Docs\\My Page.htm" },
        { u"https://www.example.com/", u"", "https://www.example.com/" },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(utf8(row.file) + " with <" + utf8(row.parameters) + ">");
        auto launch = executeAndWait(request(row.file, std::u16string(row.parameters)));
        ASSERT_TRUE(launch.started()) << launch.number();
        EXPECT_TRUE(text::equalsIgnoreCase(launch.program, Browser)) << utf8(launch.program);
        auto opened = entryOf("browser.open", launch);
        ASSERT_TRUE(opened);
        EXPECT_EQ(opened->field("address"), row.address);
        EXPECT_EQ(opened->field("opener"), "none");
    }
}

TEST_F(ShellTest, ControlPanelOpensTheAppletItIsGiven)
{
    struct Case {
        std::u16string_view parameters;
        std::string applet;
    };
    const Case cases[] = {
        { u"\"C:\\WINDOWS\\System32\\powercfg.cpl\"", "powercfg.cpl" },
        { u"\"C:\\WINDOWS\\SYSTEM32\\TABLETPC.CPL\"", "tabletpc.cpl" },
        { u"tabletpc.cpl,@0", "tabletpc.cpl" },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(utf8(row.parameters));
        auto launch = executeAndWait(request(std::u16string(Control), std::u16string(row.parameters)));
        ASSERT_TRUE(launch.started()) << launch.number();
        EXPECT_EQ(launch.process->exitCode(), 0u);
        auto opened = entryOf("applet.open", launch);
        ASSERT_TRUE(opened) << "the applet was not opened";
        EXPECT_EQ(opened->field("applet"), row.applet);
        EXPECT_TRUE(entryOf("control.open", launch));
    }
    // Opening an applet file itself goes through its association.
    auto direct = executeAndWait(request(u"C:\\WINDOWS\\System32\\powercfg.cpl", u""));
    ASSERT_TRUE(direct.started());
    EXPECT_TRUE(entryOf("applet.open", direct));
}

TEST_F(ShellTest, ControlPanelFailsOnWhatIsNoApplet)
{
    writeFile(u"C:\\Docs\\fake.cpl", "not a library");
    const std::u16string_view cases[] = {
        u"C:\\Docs\\missing.cpl",
        u"C:\\Docs\\fake.cpl",
        u"C:\\WINDOWS\\System32\\powercfg.cpl,@3",
        u"C:\\Docs\\notes.txt",
    };
    for (auto parameters : cases) {
        SCOPED_TRACE(utf8(parameters));
        auto launch = executeAndWait(request(std::u16string(Control), std::u16string(parameters)));
        ASSERT_TRUE(launch.started());
        EXPECT_NE(launch.process->exitCode(), 0u);
        EXPECT_FALSE(entryOf("applet.open", launch));
        EXPECT_TRUE(entryOf("control.fail", launch));
    }
}

TEST_F(ShellTest, FailuresAreTheShellsNumbersAndStartNothing)
{
    writeFile(u"C:\\Docs\\notes.xyz");
    writeFile(u"C:\\Tools\\script.exe", "#!/bin/sh\n");
    writeFile(u"C:\\Docs\\a.rec");
    associate(u".rec", u"\"C:\\Tools\\gone.exe\" \"%1\"");
    struct Case {
        std::u16string_view verb;
        std::u16string_view file;
        shell::ExecuteCode expected;
    };
    const Case cases[] = {
        { u"open", u"C:\\Tools\\missing.exe", shell::ExecuteCode::FileNotFound },
        { u"open", u"C:\\Nowhere\\tool.exe", shell::ExecuteCode::PathNotFound },
        { u"open", u"", shell::ExecuteCode::FileNotFound },
        { u"open", u"\"\"", shell::ExecuteCode::FileNotFound },
        { u"open", u"C:\\Docs\\notes.xyz", shell::ExecuteCode::NoAssociation },
        { u"open", u"C:\\Docs", shell::ExecuteCode::NoAssociation },
        { u"open", u"C:\\Docs\\a.rec", shell::ExecuteCode::FileNotFound },
        { u"open", u"C:\\Tools\\script.exe", shell::ExecuteCode::BadFormat },
        { u"print", Recorder, shell::ExecuteCode::NoAssociation },
        { u"open", u"nosuchscheme://x", shell::ExecuteCode::FileNotFound },
        { u"open", u"C:\\Tools\\recorder.exe -x", shell::ExecuteCode::FileNotFound },
    };
    for (const auto& row : cases) {
        auto launch = shell::execute(request(row.file, u"", row.verb));
        EXPECT_EQ(launch.code, row.expected) << utf8(row.verb) << " " << utf8(row.file) << ": " << launch.number();
        EXPECT_FALSE(launch.started());
        EXPECT_FALSE(launch.process);
    }
    EXPECT_TRUE(journal::read("process.start").empty());
    auto executes = journal::read("shell.execute");
    ASSERT_EQ(executes.size(), std::size(cases));
    EXPECT_EQ(executes[4].field("result"), "31");
    EXPECT_EQ(executes[4].field("program"), "");
}

TEST_F(ShellTest, VolumeControlChangesTheMachinesAudioState)
{
    const auto volumeControl = machine().host(u"C:\\WINDOWS\\System32\\sndvol32.exe");
    struct Step {
        std::vector<std::string> arguments;
        int exitCode;
        std::string volume;
        std::string muted;
    };
    const Step steps[] = {
        { {}, 0, "", "" },
        { { "/mute" }, 0, "100", "1" },
        { { "/volume", "35" }, 0, "35", "1" },
        { { "/unmute", "/volume", "0" }, 0, "0", "0" },
        { { "/togglemute" }, 0, "0", "1" },
        // Bad arguments change nothing at all.
        { { "/unmute", "/volume", "101" }, 2, "0", "1" },
        { { "/volume", "-1" }, 2, "0", "1" },
        { { "/volume" }, 2, "0", "1" },
        { { "/unmute", "/loud" }, 2, "0", "1" },
    };
    for (const auto& step : steps) {
        std::string shown;
        for (const auto& argument : step.arguments)
            shown += argument + " ";
        SCOPED_TRACE("sndvol32.exe " + shown);
        auto completed = testkit::run(volumeControl, step.arguments, 10s);
        EXPECT_EQ(completed.exitCode, step.exitCode) << completed.output;
        EXPECT_EQ(config::get("audio.volume").value_or(""), step.volume);
        EXPECT_EQ(config::get("audio.muted").value_or(""), step.muted);
    }
    auto opened = journal::read("volume.open");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].field("volume"), "100");
    EXPECT_EQ(opened[0].field("muted"), "0");
    EXPECT_EQ(testkit::run(volumeControl, {}, 10s).output, "volume 0 muted\n");
}

// tavio-machine init leaves a machine with the platform's programs, even for
// a standard user, and records where the object manager lies for programs
// started from drive C:.
TEST(MachineInit, InstallsThePlatformsPrograms)
{
    setenv("TAVIO_BIN", TAVIO_BIN_DIR, 0);
    testkit::TempMachine scratch;
    const auto tool = testkit::systemProgram("tavio-machine");
    auto made = testkit::run(tool, { "init", "--standard-user" }, 30s);
    ASSERT_EQ(made.exitCode, 0) << made.output;
    // NOTE: init remade the machine's store under this process, so the
    // machine is looked at through the tool and the host folder only.
    const auto system32 = scratch.root() / "drive_c" / "WINDOWS" / "System32";
    for (auto name : standins::PlatformPrograms)
        EXPECT_TRUE(std::filesystem::is_regular_file(system32 / name)) << name << " is not installed";
    auto association = testkit::run(tool, { "reg", "query", "HKLM\\SOFTWARE\\Classes\\.html" }, 30s);
    EXPECT_NE(association.output.find("htmlfile"), std::string::npos) << association.output;
    EXPECT_EQ(testkit::readFile(scratch.root() / "objectd.path"),
        (std::filesystem::path(TAVIO_BIN_DIR) / "tavio-machined").string() + "\n");
}

} // namespace
