#include "platform/dialogs.h"

#include "platform/journal.h"
#include "platform/text.h"
#include "tests/testkit/machine_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using namespace platform::dialogs;
using platform::Error;

// Sets (or unsets) one environment variable for the life of this object.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value)
        : m_name(name)
    {
        if (const char* previous = std::getenv(name))
            m_previous = previous;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedVariable()
    {
        if (m_previous)
            setenv(m_name, m_previous->c_str(), 1);
        else
            unsetenv(m_name);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_previous;
};

// Every test starts as an automated run: no display, no dialog program named.
class DialogsTest : public testkit::MachineTest {
protected:
    ScopedVariable display { "DISPLAY", nullptr };
    ScopedVariable wayland { "WAYLAND_DISPLAY", nullptr };
    ScopedVariable dialog { "TAVIO_DIALOG", nullptr };

    std::vector<platform::journal::Entry> boxes() { return platform::journal::read("messagebox.show"); }
};

TEST(MessageBoxStyle, defaultButtonFollowsTheStyle)
{
    struct Case {
        const char* scenario;
        uint32_t style;
        Answer expected;
    };
    const Case cases[] = {
        { "ok", MB_OK, Answer::Ok },
        { "ok_cancel", MB_OKCANCEL, Answer::Ok },
        { "ok_cancel_second", MB_OKCANCEL | MB_DEFBUTTON2, Answer::Cancel },
        { "yes_no", MB_YESNO | MB_ICONQUESTION, Answer::Yes },
        { "yes_no_second", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, Answer::No },
        { "yes_no_cancel_third", MB_YESNOCANCEL | MB_DEFBUTTON3, Answer::Cancel },
        { "retry_cancel", MB_RETRYCANCEL | MB_ICONEXCLAMATION, Answer::Retry },
        { "abort_retry_ignore_second", MB_ABORTRETRYIGNORE | MB_DEFBUTTON2, Answer::Retry },
        { "cancel_try_continue_third", MB_CANCELTRYCONTINUE | MB_DEFBUTTON3, Answer::Continue },
        // A default the box does not have falls back to the first button.
        { "ok_fourth", MB_OK | MB_DEFBUTTON4, Answer::Ok },
        { "yes_no_third", MB_YESNO | MB_DEFBUTTON3, Answer::Yes },
        // Flags of other kinds (here MB_TOPMOST and MB_SETFOREGROUND) change nothing.
        { "ok_cancel_topmost", MB_OKCANCEL | MB_DEFBUTTON2 | 0x40000 | 0x10000, Answer::Cancel },
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.scenario);
        auto style = Style::fromFlags(testCase.style);
        ASSERT_TRUE(style.ok());
        EXPECT_EQ(defaultAnswer(*style), testCase.expected);
    }

    for (uint32_t bad : { 0x7u, 0xFu, 0x50u, 0xF0u, 0x400u, 0xF00u }) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(Style::fromFlags(bad).error(), Error::InvalidParameter);
    }
}

TEST(MessageBoxStyle, answersParseByNameOrNumber)
{
    EXPECT_EQ(parseAnswer("IDOK"), Answer::Ok);
    EXPECT_EQ(parseAnswer("idno"), Answer::No);
    EXPECT_EQ(parseAnswer("4"), Answer::Retry);
    EXPECT_EQ(parseAnswer("11"), Answer::Continue);
    for (const char* bad : { "", "0", "8", "12", "-1", "IDMAYBE", "6 " }) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(parseAnswer(bad), std::nullopt);
    }
    EXPECT_EQ(answerName(Answer::Yes), "IDYES");
}

TEST_F(DialogsTest, automaticBoxAnswersTheDefaultAndIsJournaled)
{
    EXPECT_EQ(answering(), Answering::Automatic);
    auto answer = messageBox(0, u"KELTOVDISP.DLL file is missing.  Übung ", u"Tavio Menu", MB_YESNO | MB_DEFBUTTON2);
    ASSERT_TRUE(answer.ok());
    EXPECT_EQ(*answer, Answer::No);

    auto entries = boxes();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].field("text"), "KELTOVDISP.DLL file is missing.  Übung ");
    EXPECT_EQ(entries[0].field("caption"), "Tavio Menu");
    EXPECT_EQ(entries[0].field("buttons"), "MB_YESNO");
    EXPECT_EQ(entries[0].field("answer"), "IDNO");
    EXPECT_EQ(entries[0].field("how"), "default");

    EXPECT_EQ(messageBox(0, u"x", u"y", 0x9).error(), Error::InvalidParameter);
    EXPECT_EQ(boxes().size(), 1u) << "a refused box is not shown";
}

TEST_F(DialogsTest, queuedAnswersAreTakenInOrderThenTheDefault)
{
    ASSERT_TRUE(queueAnswer(Answer::No).ok());
    ASSERT_TRUE(queueAnswer(Answer::Yes).ok());
    ASSERT_TRUE(queueAnswer(Answer::Cancel).ok());
    EXPECT_EQ(queuedAnswers(), (std::vector { Answer::No, Answer::Yes, Answer::Cancel }));

    EXPECT_EQ(messageBox(0, u"1", u"Tavio Menu", MB_YESNO).valueOr(Answer::Ok), Answer::No);
    EXPECT_EQ(messageBox(0, u"2", u"Tavio Menu", MB_YESNO).valueOr(Answer::Ok), Answer::Yes);
    // A box cannot be answered with a button it lacks: the answer is used up
    // and the default given.
    EXPECT_EQ(messageBox(0, u"3", u"Tavio Menu", MB_YESNO | MB_DEFBUTTON2).valueOr(Answer::Ok), Answer::No);
    EXPECT_EQ(messageBox(0, u"4", u"Tavio Menu", MB_OKCANCEL).valueOr(Answer::No), Answer::Ok);
    EXPECT_TRUE(queuedAnswers().empty());

    auto entries = boxes();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].field("how"), "queued");
    EXPECT_EQ(entries[2].field("how"), "default");
    EXPECT_EQ(entries[2].field("unusable"), "IDCANCEL");
    EXPECT_EQ(entries[3].field("how"), "default");
    EXPECT_EQ(entries[3].field("unusable"), "");
}

TEST_F(DialogsTest, twoProcessesTakeEachQueuedAnswerOnceInOrder)
{
    // Yes x7, then No x7, then Cancel x6: each process must see its answers
    // in that order, and the two together every answer exactly once.
    std::vector<Answer> queued;
    for (auto [answer, count] : { std::pair { Answer::Yes, 7 }, { Answer::No, 7 }, { Answer::Cancel, 6 } }) {
        for (int i = 0; i < count; ++i) {
            queued.push_back(answer);
            ASSERT_TRUE(queueAnswer(answer).ok());
        }
    }

    const std::string style = std::to_string(MB_YESNOCANCEL);
    fs::path firstOutput = machine().root() / "first.txt";
    fs::path secondOutput = machine().root() / "second.txt";
    auto first = testkit::spawn(testkit::helperProgram("dialogs_taker"), { "10", style }, firstOutput);
    auto second = testkit::spawn(testkit::helperProgram("dialogs_taker"), { "10", style }, secondOutput);
    ASSERT_EQ(first.wait(std::chrono::seconds(60)), 0);
    ASSERT_EQ(second.wait(std::chrono::seconds(60)), 0);

    std::map<int, int> counts;
    for (const auto& output : { firstOutput, secondOutput }) {
        std::istringstream lines(testkit::readFile(output));
        std::vector<int> answers;
        for (int value; lines >> value;)
            answers.push_back(value);
        EXPECT_EQ(answers.size(), 10u) << testkit::readFile(output);
        EXPECT_TRUE(std::is_sorted(answers.begin(), answers.end(), [](int left, int right) {
            auto rank = [](int value) { return value == 6 ? 0 : value == 7 ? 1 : 2; };
            return rank(left) < rank(right);
        })) << testkit::readFile(output);
        for (int value : answers)
            counts[value] += 1;
    }
    EXPECT_EQ(counts, (std::map<int, int> { { 6, 7 }, { 7, 7 }, { 2, 6 } }));
    EXPECT_TRUE(queuedAnswers().empty());
    for (const auto& entry : boxes())
        EXPECT_EQ(entry.field("how"), "queued");
}

TEST_F(DialogsTest, interactiveBoxRunsTheDialogProgramOnlyWithADisplay)
{
    fs::path record = machine().root() / "dialog-arguments.txt";
    ScopedVariable recordVariable("DIALOGS_FAKE_RECORD", record.c_str());
    ScopedVariable answerVariable("DIALOGS_FAKE_ANSWER", "7");
    ScopedVariable program("TAVIO_DIALOG", testkit::helperProgram("dialogs_fake_dialog").c_str());
    ASSERT_TRUE(queueAnswer(Answer::Yes).ok());

    struct Case {
        const char* scenario;
        const char* display;
        Answering mode;
        bool dialogShown;
    };
    const Case cases[] = {
        { "automatic_with_display", ":0", Answering::Automatic, false },
        { "interactive_without_display", nullptr, Answering::Interactive, false },
        { "interactive_with_display", ":0", Answering::Interactive, true },
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.scenario);
        ScopedVariable displayVariable("DISPLAY", testCase.display);
        ASSERT_TRUE(setAnswering(testCase.mode).ok());
        ASSERT_TRUE(queueAnswer(Answer::Yes).ok());
        fs::remove(record);

        auto answer = messageBox(0, u"Stop now?", u"Tavio Menu", MB_YESNO | MB_ICONQUESTION);
        ASSERT_TRUE(answer.ok());
        EXPECT_EQ(fs::exists(record), testCase.dialogShown);
        EXPECT_EQ(*answer, testCase.dialogShown ? Answer::No : Answer::Yes);
        EXPECT_EQ(boxes().back().field("how"), testCase.dialogShown ? "dialog" : "queued");
    }
    EXPECT_EQ(testkit::readFile(record),
        "--caption\nTavio Menu\n--text\nStop now?\n--flags\n" + std::to_string(MB_YESNO | MB_ICONQUESTION) + "\n");
}

TEST_F(DialogsTest, failingOrUnfitDialogFallsBackToTheAutomaticAnswer)
{
    ScopedVariable displayVariable("DISPLAY", ":0");
    ScopedVariable program("TAVIO_DIALOG", testkit::helperProgram("dialogs_fake_dialog").c_str());
    ASSERT_TRUE(setAnswering(Answering::Interactive).ok());
    {
        ScopedVariable fail("DIALOGS_FAKE_FAIL", "1");
        ASSERT_TRUE(queueAnswer(Answer::Cancel).ok());
        EXPECT_EQ(messageBox(0, u"a", u"b", MB_OKCANCEL).valueOr(Answer::Ok), Answer::Cancel);
    }
    {
        // IDYES is no button of an OK box.
        ScopedVariable answer("DIALOGS_FAKE_ANSWER", "6");
        EXPECT_EQ(messageBox(0, u"a", u"b", MB_OK).valueOr(Answer::No), Answer::Ok);
        EXPECT_EQ(boxes().back().field("how"), "default");
    }
}

} // namespace
