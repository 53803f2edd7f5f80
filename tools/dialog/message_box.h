#pragma once

#include "platform/dialogs.h"

#include <QMessageBox>
#include <QString>

#include <vector>

class QPushButton;

namespace dialog {

// One message box as the platform draws it: the style's buttons in the
// platform's order, its default button and icon, and Escape (with the close
// button) only where the platform allows it.
class MessageBox {
public:
    MessageBox(const platform::dialogs::Style& style, const QString& caption, const QString& text);

    QMessageBox& widget() { return m_box; }
    // The buttons, left to right, and the answer each gives.
    const std::vector<QPushButton*>& buttons() const { return m_buttons; }
    const std::vector<platform::dialogs::Answer>& answers() const { return m_answers; }

    // Shows the box until it is answered.
    platform::dialogs::Answer exec();
    // The answer of the button that closed the box; the default answer when
    // none did.
    platform::dialogs::Answer answer() const;

private:
    platform::dialogs::Style m_style;
    QMessageBox m_box;
    std::vector<platform::dialogs::Answer> m_answers;
    std::vector<QPushButton*> m_buttons;
};

} // namespace dialog
