#include "tools/dialog/message_box.h"

#include <QPushButton>

namespace dialog {

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

} // namespace

MessageBox::MessageBox(const platform::dialogs::Style& style, const QString& caption, const QString& text)
    : m_style(style)
    , m_answers(platform::dialogs::buttonAnswers(style.buttons))
{
    m_box.setWindowTitle(caption);
    m_box.setText(text);
    m_box.setIcon(iconOf(style.icon));
    QPushButton* escape = nullptr;
    for (Answer answer : m_answers) {
        // NOTE: every button has the action role, so that Qt keeps them in
        // the platform's order and picks no Escape button of its own.
        m_buttons.push_back(m_box.addButton(QString::fromUtf8(buttonText(answer)), QMessageBox::ActionRole));
        // As on the platform, Escape and the close button mean Cancel where
        // the box has one and OK on a box with only OK; otherwise the box
        // must be answered with a button.
        if (answer == Answer::Cancel || m_answers.size() == 1)
            escape = m_buttons.back();
    }
    m_box.setDefaultButton(m_buttons[style.defaultIndex < m_buttons.size() ? style.defaultIndex : 0]);
    m_box.setEscapeButton(escape);
}

Answer MessageBox::exec()
{
    m_box.exec();
    return answer();
}

Answer MessageBox::answer() const
{
    for (size_t i = 0; i < m_buttons.size(); ++i) {
        if (m_box.clickedButton() == m_buttons[i])
            return m_answers[i];
    }
    return platform::dialogs::defaultAnswer(m_style);
}

} // namespace dialog
