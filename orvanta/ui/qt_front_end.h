#pragma once

#include <QApplication>
#include <QLabel>
#include <QPointer>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "orvanta/core/front_end.h"

class QMenu;
class QSystemTrayIcon;

namespace orvanta {
class Application;
}

namespace orvanta::ui {

class DebugWindow;
class MainWindow;
class NoticeWindow;

// The tray application: the main window with its pages, the tray icon and its menu, the
// prompts, the notice window and the message boxes. The window stand-in's messages (the
// servers', the updater's, a second copy's) are dispatched from Qt's event loop, so they
// reach the main window as they do headless. Where the desktop has no tray, the main window
// stays shown, so the program is never running and out of reach.
class QtFrontEnd : public FrontEnd {
public:
    QtFrontEnd(int& argc, char** argv, bool debugMode);
    ~QtFrontEnd() override;

    // The program whose windows these are; before Run.
    void Attach(Application& app);

    void CreateWindows() override;
    void RemoveTrayIcon() override;
    int RunMessageLoop() override;
    void ShowMessageBox(const std::string& text, const std::string& caption) override;
    bool AskOkCancel(const std::string& text, const std::string& caption) override;
    void ShowNotice(const std::string& cp949Text) override;
    void ShowMainWindow() override;
    void HideMainWindow() override;
    std::optional<std::string> AskAddBlockRule(const std::string& from, const std::string& mailbox) override;
    std::optional<std::string> AskAddPassEntry(const std::string& from) override;
    void SwapTrayIcon() override;
    void ExaminationEnded() override;
    void FiltersChanged() override;
    CDebug* DebugListener(DebugTab tab) override;
    std::optional<SmtpServerChoice> ChooseSmtpServer(const std::vector<std::string>& servers) override;

    MainWindow* Window() const { return m_window.get(); }

private:
    void PostCommand(unsigned command);
    void BuildTrayMenu();

    QApplication m_qt;
    bool m_debugMode;
    Application* m_app = nullptr;
    QPointer<QLabel> m_splash;  // null once it closed itself
    // Made first and hidden; its listeners outlive the servers that report to them.
    std::unique_ptr<DebugWindow> m_debugWindow;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<NoticeWindow> m_notice;
    std::unique_ptr<QMenu> m_trayMenu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    // The SMTP proxy's questions waiting for the window's thread. When the message loop ends,
    // every one still open is answered "취소", so no session waits for a loop that is gone.
    struct PendingChoice {
        bool answered = false;
        std::optional<SmtpServerChoice> choice;
    };
    void AnswerChoice(PendingChoice& pending, std::optional<SmtpServerChoice> choice);
    std::mutex m_choiceLock;
    std::condition_variable m_choiceAnswered;
    std::vector<std::shared_ptr<PendingChoice>> m_pendingChoices;
    bool m_loopEnded = false;  // guarded by m_choiceLock

    bool m_busyShown = false;
    bool m_trayShown = false;
};

}  // namespace orvanta::ui
