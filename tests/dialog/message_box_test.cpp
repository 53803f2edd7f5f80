#include "tools/dialog/message_box.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using namespace platform::dialogs;

class MessageBoxTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "dialog_message_box_test";
        static char* argv[] = { name, nullptr };
        application = std::make_unique<QApplication>(argc, argv);
    }
    // NOTE: the application must end before the program's exit handlers run,
    // which take down what it still refers to.
    static void TearDownTestSuite() { application.reset(); }

    static dialog::MessageBox make(uint32_t flags)
    {
        auto style = Style::fromFlags(flags);
        EXPECT_TRUE(style.ok());
        return dialog::MessageBox(style.ok() ? *style : Style {}, "Tavio Menu", "Text");
    }

    // Runs `act` once the box is showing, then waits for the box's answer.
    static Answer answerAfter(dialog::MessageBox& box, std::function<void(dialog::MessageBox&)> act)
    {
        QTimer::singleShot(0, [&box, act] { act(box); });
        return box.exec();
    }

    static void pressEscape(dialog::MessageBox& box)
    {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&box.widget(), &press);
    }

    static inline std::unique_ptr<QApplication> application;
};

TEST_F(MessageBoxTest, buttonsKeepThePlatformsOrderAndDefault)
{
    struct Case {
        uint32_t flags;
        std::vector<QString> texts;
        size_t defaultIndex;
    };
    const Case cases[] = {
        { MB_OK, { "OK" }, 0 },
        { MB_OKCANCEL | MB_DEFBUTTON2, { "OK", "Cancel" }, 1 },
        { MB_YESNO | MB_ICONQUESTION, { "&Yes", "&No" }, 0 },
        { MB_YESNOCANCEL | MB_DEFBUTTON3, { "&Yes", "&No", "Cancel" }, 2 },
        { MB_RETRYCANCEL, { "&Retry", "Cancel" }, 0 },
        { MB_ABORTRETRYIGNORE | MB_DEFBUTTON4, { "&Abort", "&Retry", "&Ignore" }, 0 },
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.flags);
        auto box = make(testCase.flags);
        std::vector<QString> texts;
        for (auto* button : box.buttons())
            texts.push_back(button->text());
        EXPECT_EQ(texts, testCase.texts);
        EXPECT_EQ(box.widget().defaultButton(), box.buttons()[testCase.defaultIndex]);
    }
}

TEST_F(MessageBoxTest, clickedButtonGivesItsAnswer)
{
    auto box = make(MB_YESNOCANCEL);
    EXPECT_EQ(answerAfter(box, [](auto& shown) { shown.buttons()[1]->click(); }), Answer::No);
}

TEST_F(MessageBoxTest, escapeAnswersCancelOrALoneOkAndNothingElse)
{
    struct Case {
        uint32_t flags;
        std::optional<Answer> onEscape; // nothing: the box stays open
    };
    const Case cases[] = {
        { MB_OK, Answer::Ok },
        { MB_OKCANCEL, Answer::Cancel },
        { MB_YESNOCANCEL, Answer::Cancel },
        { MB_YESNO, std::nullopt },
        { MB_ABORTRETRYIGNORE, std::nullopt },
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.flags);
        auto box = make(testCase.flags);
        bool stayedOpen = false;
        Answer answer = answerAfter(box, [&stayedOpen](auto& shown) {
            pressEscape(shown);
            stayedOpen = shown.widget().isVisible();
            // A box that must be answered with a button gets its last one.
            if (stayedOpen)
                shown.buttons().back()->click();
        });
        if (testCase.onEscape) {
            EXPECT_FALSE(stayedOpen);
            EXPECT_EQ(answer, *testCase.onEscape);
        } else {
            EXPECT_TRUE(stayedOpen);
            EXPECT_EQ(answer, box.answers().back());
        }
    }
}

} // namespace
