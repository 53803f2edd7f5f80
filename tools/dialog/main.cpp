// Shows one message box and prints the value of the answer (IDOK 1, IDYES 6,
// ...) on standard output. The platform runs this program for a message box
// when a person is at the display, and waits for it:
//   tavio-dialog --caption TEXT --text TEXT --flags FLAGS
// Exit code 0 with an answer; 2 for a wrong command line.

#include "platform/dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using platform::dialogs::Answer;

const char* buttonText(Answer answer)
{
    switch (answer) {
    case Answer::Ok:
        return "OK";
    case Answer::Cancel:
        return "Cancel";
    case Answer::Abort:
        return "&Abort";
    case Answer::Retry:
        return "&Retry";
    case Answer::Ignore:
        return "&Ignore";
    case Answer::Yes:
        return "&Yes";
    case Answer::No:
        return "&No";
    case Answer::TryAgain:
        return "&Try Again";
    case Answer::Continue:
        return "&Continue";
    }
    return "OK";
}

QMessageBox::Icon iconOf(platform::dialogs::Icon icon)
{
    switch (icon) {
    case platform::dialogs::Icon::Hand:
        return QMessageBox::Critical;
    case platform::dialogs::Icon::Question:
        return QMessageBox::Question;
    case platform::dialogs::Icon::Exclamation:
        return QMessageBox::Warning;
    case platform::dialogs::Icon::Asterisk:
        return QMessageBox::Information;
    case platform::dialogs::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

int usage(const char* message)
{
    std::fprintf(stderr, "tavio-dialog: %s\nusage: tavio-dialog --caption TEXT --text TEXT --flags FLAGS\n", message);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::string caption;
    std::string text;
    std::string styleText = "0";
    for (int i = 1; i < argc; ++i) {
        std::string_view option = argv[i];
        if (i + 1 >= argc)
            return usage("an option lacks its value");
        if (option == "--caption")
            caption = argv[++i];
        else if (option == "--text")
            text = argv[++i];
        else if (option == "--flags")
            styleText = argv[++i];
        else
            return usage("unknown option");
    }
    char* end = nullptr;
    unsigned long flags = std::strtoul(styleText.c_str(), &end, 0);
    auto style = platform::dialogs::Style::fromFlags(static_cast<uint32_t>(flags));
    if (styleText.empty() || *end != '\0' || flags > 0xFFFFFFFFul || !style)
        return usage("the style is no message box style");

    // NOTE: Qt sees only the program's name: a caption or text that starts
    // with a dash must not be taken for one of its own options.
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QMessageBox box;
    box.setWindowTitle(QString::fromUtf8(caption));
    box.setText(QString::fromUtf8(text));
    box.setIcon(iconOf(style->icon));

    const auto answers = platform::dialogs::buttonAnswers(style->buttons);
    std::vector<QPushButton*> buttons;
    QPushButton* escape = nullptr;
    for (Answer answer : answers) {
        // NOTE: every button has the action role, so that Qt keeps them in
        // the platform's order and picks no Escape button of its own.
        buttons.push_back(box.addButton(QString::fromUtf8(buttonText(answer)), QMessageBox::ActionRole));
        // As on the platform, Escape and the close button mean Cancel where
        // the box has one and OK on a box with only OK; otherwise the box
        // must be answered with a button.
        if (answer == Answer::Cancel || answers.size() == 1)
            escape = buttons.back();
    }
    box.setDefaultButton(buttons[style->defaultIndex < buttons.size() ? style->defaultIndex : 0]);
    box.setEscapeButton(escape);

    box.exec();
    Answer answer = platform::dialogs::defaultAnswer(*style);
    for (size_t i = 0; i < buttons.size(); ++i) {
        if (box.clickedButton() == buttons[i])
            answer = answers[i];
    }
    std::printf("%d\n", static_cast<int>(answer));
    return 0;
}
