#include "tests/testkit/machine_fixture.h"

#include "platform/dialogs.h"
#include "platform/locale.h"

#include <cstdlib>

namespace {

using platform::dialogs::Answer;

testkit::Completed machineTool(const std::vector<std::string>& args)
{
    return testkit::run(testkit::systemProgram("tavio-machine"), args);
}

class MessagesToolTest : public testkit::MachineTest { };

TEST_F(MessagesToolTest, queuedAnswersReachTheBoxesAndTheListShowsThem)
{
    for (const char* answer : { "IDNO", "idyes", "2" }) {
        auto queued = machineTool({ "messages", "answer", answer });
        EXPECT_EQ(queued.exitCode, 0) << queued.output;
    }
    EXPECT_EQ(platform::dialogs::queuedAnswers(), (std::vector { Answer::No, Answer::Yes, Answer::Cancel }));
    EXPECT_EQ(machineTool({ "messages", "queue" }).output, "IDNO\nIDYES\nIDCANCEL\n");

    using namespace platform::dialogs;
    EXPECT_EQ(messageBox(0, u"Remove the entry?", u"Tavio Menu", MB_YESNO).valueOr(Answer::Ok), Answer::No);
    EXPECT_EQ(messageBox(0, u"Again?", u"Tavio Menu", MB_YESNO).valueOr(Answer::Ok), Answer::Yes);

    auto listed = machineTool({ "messages" });
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_NE(listed.output.find("MB_YESNO \"Tavio Menu\": \"Remove the entry?\" -> IDNO (queued)"), std::string::npos)
        << listed.output;
    EXPECT_NE(listed.output.find("\"Again?\" -> IDYES (queued)"), std::string::npos) << listed.output;
    EXPECT_EQ(machineTool({ "messages", "queue" }).output, "IDCANCEL\n");
}

TEST_F(MessagesToolTest, refusesWhatIsNoAnswerOrSetting)
{
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        { { "messages", "answer", "IDMAYBE" }, "is no answer" },
        { { "messages", "answer", "0" }, "is no answer" },
        { { "messages", "answer" }, "expected one answer" },
        { { "messages", "automatic", "yes" }, "expected on or off" },
        { { "messages", "show" }, "unknown operation" },
        { { "language", "xx-YY" }, "names no language" },
        { { "language", "0" }, "names no language" },
        { { "language", "1031", "1033" }, "expected one language" },
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.args.back());
        auto run = machineTool(testCase.args);
        EXPECT_EQ(run.exitCode, 2) << run.output;
        EXPECT_NE(run.output.find(testCase.message), std::string::npos) << run.output;
    }
    // Nothing was queued or changed on the way.
    EXPECT_TRUE(platform::dialogs::queuedAnswers().empty());
    EXPECT_EQ(platform::dialogs::answering(), platform::dialogs::Answering::Automatic);
    EXPECT_EQ(platform::locale::userUiLanguage(), std::nullopt);
}

TEST_F(MessagesToolTest, automaticAnsweringSwitchesOffAndOn)
{
    EXPECT_EQ(machineTool({ "messages", "automatic" }).output, "on\n");
    EXPECT_EQ(machineTool({ "messages", "automatic", "off" }).exitCode, 0);
    EXPECT_EQ(platform::dialogs::answering(), platform::dialogs::Answering::Interactive);
    EXPECT_EQ(machineTool({ "messages", "automatic" }).output, "off\n");
    EXPECT_EQ(machineTool({ "messages", "automatic", "on" }).exitCode, 0);
    EXPECT_EQ(platform::dialogs::answering(), platform::dialogs::Answering::Automatic);
}

TEST_F(MessagesToolTest, languageIsSetForTheCurrentUserAndPrinted)
{
    // The tool runs with the test's environment; a known locale keeps the
    // fallback fixed.
    const char* previous = std::getenv("LC_ALL");
    std::string saved = previous ? previous : "";
    setenv("LC_ALL", "ja_JP.UTF-8", 1);

    EXPECT_EQ(machineTool({ "language" }).output, "1041\n");
    EXPECT_EQ(machineTool({ "language", "de-DE" }).exitCode, 0);
    EXPECT_EQ(platform::locale::userUiLanguage(), 1031);
    EXPECT_EQ(machineTool({ "language" }).output, "1031\n");
    EXPECT_EQ(machineTool({ "language", "0x0C0A" }).exitCode, 0);
    EXPECT_EQ(machineTool({ "language" }).output, "3082\n");
    EXPECT_EQ(machineTool({ "language", "default" }).exitCode, 0);
    EXPECT_EQ(machineTool({ "language" }).output, "1041\n");
    // Clearing twice is no fault.
    EXPECT_EQ(machineTool({ "language", "default" }).exitCode, 0);

    if (previous)
        setenv("LC_ALL", saved.c_str(), 1);
    else
        unsetenv("LC_ALL");
}

} // namespace
