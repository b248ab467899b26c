#pragma once

#include <optional>

#include <QDialog>
#include <QIcon>

#include "unmoor/uninstaller.h"

class QLabel;
class QPushButton;

namespace unmoor {

// The program's icon, drawn from the SVG built into the program.
QIcon ProgramIcon();

// The uninstaller's one window: thanks, the question, OK and Cancel. OK does the work of
// Uninstaller::Accept and closes; Cancel, Esc and the close box close without changing
// anything.
class UninstallDialog : public QDialog {
    Q_OBJECT

public:
    explicit UninstallDialog(Uninstaller& uninstaller, QWidget* parent = nullptr);

    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CancelButton() const { return m_cancel; }
    QLabel* ThanksLabel() const { return m_thanks; }
    QLabel* QuestionLabel() const { return m_question; }
    // What OK did, once it was pressed.
    const std::optional<Outcome>& Result() const { return m_outcome; }

private:
    Uninstaller& m_uninstaller;
    std::optional<Outcome> m_outcome;
    QLabel* m_thanks;
    QLabel* m_question;
    QPushButton* m_ok;
    QPushButton* m_cancel;
};

// The message box shown instead of the dialog while the main program runs.
void ShowExitFirst(QWidget* parent = nullptr);

}  // namespace unmoor
