#pragma once

#include <QDialog>

#include "freshet/updater_view.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace freshet {

class Updater;

// The updater's one window. The worker's calls arrive on its thread and are carried over to
// the window's thread; a message box holds the worker until it is acknowledged.
class UpdaterDialog : public QDialog, public UpdaterView {
    Q_OBJECT

public:
    explicit UpdaterDialog(QWidget* parent = nullptr);

    // Opens `updater` (which starts the work) and lets the button and the window's close go
    // through it.
    void Attach(Updater* updater);

    void SetStatus(const std::string& text) override;
    void ShowBars(bool shown) override;
    void SetBarRange(Bar bar, int maximum) override;
    void SetBarPosition(Bar bar, int position) override;
    void ShowMessage(const std::string& text) override;
    void WorkOver() override;
    bool AskCancel() override;

    QPushButton* Button() const { return m_button; }
    QLineEdit* StatusLine() const { return m_status; }
    QProgressBar* ProgressBar(Bar which) const { return which == Bar::kOverall ? m_overall : m_file; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;  // Esc acts as the button

private:
    // The button's press; true when the window closes.
    bool Press();
    // Runs `f` on the window's thread after the calls queued before it.
    template <class F>
    void Later(F f);

    Updater* m_updater = nullptr;
    bool m_closing = false;
    QLabel* m_intro;
    QLineEdit* m_status;
    QProgressBar* m_overall;
    QProgressBar* m_file;
    QPushButton* m_button;
};

}  // namespace freshet
