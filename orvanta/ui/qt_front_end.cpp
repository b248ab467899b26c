#include "orvanta/ui/qt_front_end.h"

#include <QMenu>
#include <QMessageBox>
#include <QSystemTrayIcon>

#include "orvanta/core/application.h"
#include "orvanta/core/log.h"
#include "orvanta/core/window_messages.h"
#include "orvanta/pipeline/folder_choice.h"
#include "orvanta/ui/cp949.h"
#include "orvanta/ui/debug_window.h"
#include "orvanta/ui/feedback_prompt.h"
#include "orvanta/ui/filter_settings.h"
#include "orvanta/ui/icons.h"
#include "orvanta/ui/mailbox_dialog.h"
#include "orvanta/ui/main_window.h"
#include "orvanta/ui/pass_filter_page.h"
#include "orvanta/ui/private_filter_page.h"
#include "orvanta/ui/small_windows.h"
#include "orvanta/ui/smtp_choice_dialog.h"
#include "orvanta/ui/ui_texts.h"
#include "platform/window.h"

namespace orvanta::ui {
namespace {

// The private filter dialog's "찾기": the mailbox dialog as a chooser.
std::optional<QString> ChooseStoreFolder(const std::string& storeDirectory, QWidget* parent)
{
    return MailboxDialog(storeDirectory, parent).Choose();
}

}  // namespace

QtFrontEnd::QtFrontEnd(int& argc, char** argv, bool debugMode) : m_qt(argc, argv), m_debugMode(debugMode)
{
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(ProgramIcon());
    m_debugWindow = std::make_unique<DebugWindow>();
}

QtFrontEnd::~QtFrontEnd()
{
    platform::SetWakeupHook({});
    delete m_splash.data();
}

void QtFrontEnd::Attach(Application& app)
{
    m_app = &app;
    m_splash = ShowSplash();
}

void QtFrontEnd::CreateWindows()
{
    const std::string store = m_app->Paths().storeDirectory;
    m_window = std::make_unique<MainWindow>(
        *m_app, [store](QWidget* parent) { return ChooseStoreFolder(store, parent); }, m_debugMode);
    QObject::connect(m_window.get(), &MainWindow::DebugWindowAsked, [this] {
        m_debugWindow->show();
        m_debugWindow->raise();
        m_debugWindow->activateWindow();
    });
    m_window->show();

    BuildTrayMenu();
    m_tray = std::make_unique<QSystemTrayIcon>(ProgramIcon());
    m_tray->setToolTip(QString::fromUtf8(text::kTrayTip));
    m_tray->setContextMenu(m_trayMenu.get());
    QObject::connect(m_tray.get(), &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            platform::PostMessage(m_app->MainWindow(), kMsgTray, 0, kTrayLeftDown);
    });
    m_trayShown = QSystemTrayIcon::isSystemTrayAvailable();
    if (m_trayShown)
        m_tray->show();
    else
        LogUtf8("The desktop offers no system tray: the main window stays shown.");
}

void QtFrontEnd::BuildTrayMenu()
{
    m_trayMenu = std::make_unique<QMenu>();
    auto command = [this](const char* label, unsigned id) {
        QObject::connect(m_trayMenu->addAction(QString::fromUtf8(label)), &QAction::triggered,
                         [this, id] { PostCommand(id); });
    };
    command(text::kTrayOpen, kCmdOpen);
    m_trayMenu->addSeparator();
    command(text::kTrayLink, kCmdLinkAccounts);
    command(text::kTrayUnlink, kCmdUnlinkAccounts);
    m_trayMenu->addSeparator();
    command(text::kTrayUpdate, kCmdUpdate);
    m_trayMenu->addSeparator();
    QObject::connect(m_trayMenu->addAction(QString::fromUtf8(text::kTrayHelp)), &QAction::triggered,
                     [] { OpenPage(ManualUrl()); });
    QObject::connect(m_trayMenu->addAction(QString::fromUtf8(text::kTrayAbout)), &QAction::triggered,
                     [this] { AboutBox(m_window.get()).exec(); });
    QObject::connect(m_trayMenu->addAction(QString::fromUtf8(text::kTrayHome)), &QAction::triggered,
                     [] { OpenPage(HomePageUrl()); });
    m_trayMenu->addSeparator();
    command(text::kTrayExit, kCmdExit);
}

CDebug* QtFrontEnd::DebugListener(DebugTab tab) { return m_debugMode ? m_debugWindow->Listener(tab) : nullptr; }

void QtFrontEnd::PostCommand(unsigned command) { platform::PostMessage(m_app->MainWindow(), kMsgCommand, command, 0); }

void QtFrontEnd::RemoveTrayIcon()
{
    if (m_tray)
        m_tray->hide();
}

int QtFrontEnd::RunMessageLoop()
{
    // Every message queued for the main window, from any thread, is handled on Qt's thread.
    auto pump = [] {
        int code = 0;
        if (!platform::ProcessPendingMessages(&code))
            QApplication::exit(code);
    };
    platform::SetWakeupHook([pump] { QMetaObject::invokeMethod(qApp, pump, Qt::QueuedConnection); });
    QMetaObject::invokeMethod(qApp, pump, Qt::QueuedConnection);
    const int code = QApplication::exec();
    std::lock_guard guard(m_choiceLock);
    m_loopEnded = true;
    for (const std::shared_ptr<PendingChoice>& pending : m_pendingChoices)
        pending->answered = true;
    m_pendingChoices.clear();
    m_choiceAnswered.notify_all();
    return code;
}

std::optional<SmtpServerChoice> QtFrontEnd::ChooseSmtpServer(const std::vector<std::string>& servers)
{
    auto pending = std::make_shared<PendingChoice>();
    {
        std::lock_guard guard(m_choiceLock);
        if (m_loopEnded)
            return std::nullopt;
        m_pendingChoices.push_back(pending);
    }
    QStringList names;
    for (const std::string& server : servers)
        names << FromCp949(server);
    QMetaObject::invokeMethod(
        qApp,
        [this, pending, names] {
            SmtpChoiceDialog dialog(names, m_window && m_window->isVisible() ? m_window.get() : nullptr);
            AnswerChoice(*pending, dialog.Ask());
        },
        Qt::QueuedConnection);
    std::unique_lock lock(m_choiceLock);
    m_choiceAnswered.wait(lock, [&] { return pending->answered; });
    return pending->choice;
}

void QtFrontEnd::AnswerChoice(PendingChoice& pending, std::optional<SmtpServerChoice> choice)
{
    std::lock_guard guard(m_choiceLock);
    if (pending.answered)
        return;  // the loop ended while the dialog was open
    pending.answered = true;
    pending.choice = choice;
    std::erase_if(m_pendingChoices, [&](const std::shared_ptr<PendingChoice>& p) { return p.get() == &pending; });
    m_choiceAnswered.notify_all();
}

void QtFrontEnd::ShowMessageBox(const std::string& text, const std::string& caption)
{
    QMessageBox::information(m_window.get(), FromCp949(caption), FromCp949(text));
}

bool QtFrontEnd::AskOkCancel(const std::string& text, const std::string& caption)
{
    LogText(text);
    return QMessageBox::question(m_window.get(), FromCp949(caption), FromCp949(text),
                                 QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) == QMessageBox::Ok;
}

void QtFrontEnd::ShowNotice(const std::string& cp949Text)
{
    if (!m_notice)
        m_notice = std::make_unique<NoticeWindow>();
    m_notice->ShowText(FromCp949(cp949Text));
}

void QtFrontEnd::ShowMainWindow()
{
    if (!m_window)
        return;
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void QtFrontEnd::HideMainWindow()
{
    // Without a tray the window is the only way back in.
    if (m_window && m_trayShown)
        m_window->hide();
}

std::optional<std::string> QtFrontEnd::AskAddBlockRule(const std::string& from, const std::string& /*mailbox*/)
{
    FeedbackPrompt prompt(FeedbackPrompt::Kind::kBlock, FromCp949(from));
    std::optional<QString> chosen = prompt.Ask();
    if (!chosen)
        return std::nullopt;
    return ToCp949(*chosen);
}

std::optional<std::string> QtFrontEnd::AskAddPassEntry(const std::string& from)
{
    FeedbackPrompt prompt(FeedbackPrompt::Kind::kPass, FromCp949(from));
    std::optional<QString> chosen = prompt.Ask();
    if (!chosen)
        return std::nullopt;
    return ToCp949(*chosen);
}

void QtFrontEnd::SwapTrayIcon()
{
    if (!m_tray)
        return;
    m_busyShown = !m_busyShown;
    m_tray->setIcon(m_busyShown ? BusyIcon() : ProgramIcon());
}

void QtFrontEnd::ExaminationEnded()
{
    m_busyShown = false;
    if (m_tray)
        m_tray->setIcon(ProgramIcon());
    FiltersChanged();
}

void QtFrontEnd::FiltersChanged()
{
    if (!m_window)
        return;
    m_window->Filters()->Private()->RefreshCounts();
    m_window->Filters()->Pass()->RefreshCounts();
}

}  // namespace orvanta::ui
