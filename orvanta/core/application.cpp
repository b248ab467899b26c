#include "orvanta/core/application.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <pthread.h>
#include <strings.h>
#include <thread>

#include "components/almanac/program_info.h"
#include "harborage/imap_server.h"
#include "orvanta/accounts/mail_client_accounts.h"
#include "orvanta/accounts/smtp_accounts.h"
#include "orvanta/core/front_end.h"
#include "orvanta/core/log.h"
#include "orvanta/core/servers.h"
#include "orvanta/core/settings.h"
#include "orvanta/core/stored_mail.h"
#include "orvanta/core/texts.h"
#include "orvanta/pipeline/examination.h"
#include "orvanta/pipeline/feedback.h"
#include "orvanta/pipeline/filter_sets.h"
#include "orvanta/pipeline/folder_choice.h"
#include "orvanta/pipeline/spam_notices.h"
#include "orvanta/proxy/pop3_proxy.h"
#include "orvanta/proxy/smtp_proxy.h"
#include "orvanta/update/online_notice.h"
#include "orvanta/update/uninstall_shortcut.h"
#include "orvanta/update/update_check.h"
#include "orvanta/update/update_sites.h"
#include "orvanta/update/updater_program.h"
#include "winnow/winnow.h"

namespace orvanta {
namespace {

sigset_t QuitSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// SIGINT and SIGTERM end the program like the quit request: the settings are saved. They
// are blocked before any thread starts and taken by a thread of their own, which posts the
// request to the main window.
void WatchSignals(platform::HWND window)
{
    std::thread([window] {
        sigset_t set = QuitSignals();
        int sig = 0;
        if (sigwait(&set, &sig) == 0)
            platform::PostMessage(window, kMsgQuitRequest, 0, 0);
    }).detach();
}

void StorePorts(const Options& options)
{
    if (!options.setPorts)
        return;
    SetSetting(IntSetting::Pop3Port, options.ports[0]);
    SetSetting(IntSetting::SmtpPort, options.ports[1]);
    SetSetting(IntSetting::ImapPort, options.ports[2]);
    SaveSettings();
}

void LoadOrWarn()
{
    if (!LoadSettings())
        LogUtf8("The settings could not be read; the defaults are used.");
}

// Deletes the stored mail whose time has come ("Del_Term"). The new date is kept at once:
// after a crash the next start would take the old one and delete the mail stored since.
void DeleteOldStoredMailNow(const std::string& storeDirectory)
{
    const int before[] = {GetSetting(IntSetting::DelYear), GetSetting(IntSetting::DelMonth),
                          GetSetting(IntSetting::DelDay)};
    int deleted = DeleteOldStoredMail(storeDirectory, std::time(nullptr));
    if (deleted > 0)
        LogUtf8("Deleted " + std::to_string(deleted) + " old stored messages.");
    if (before[0] != GetSetting(IntSetting::DelYear) || before[1] != GetSetting(IntSetting::DelMonth) ||
        before[2] != GetSetting(IntSetting::DelDay))
        SaveSettings();
}

}  // namespace

void BlockQuitSignals()
{
    sigset_t signals = QuitSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

Application::Application(std::unique_ptr<FrontEnd> frontEnd) : frontEnd_(std::move(frontEnd)) {}

Application::~Application()
{
    ShutDown();
    ClearSettingsHooks();
    if (window_)
        platform::DestroyWindow(window_);
}

int Application::Run(const Options& options)
{
    if (!options.error.empty()) {
        std::fprintf(stderr, "orvanta: %s\n", options.error.c_str());
        return 2;
    }
    // The log goes to standard output in both modes: a desktop start sends it nowhere, a start
    // from a terminal shows it.
    SetLogToStdout(true);
    std::signal(SIGPIPE, SIG_IGN);  // a peer that hung up is seen as a failed write

    if (options.sendQuit) {
        platform::HWND running = platform::FindWindow(kProgramTitle);
        if (!running) {
            std::fprintf(stderr, "orvanta: no running copy found\n");
            return 1;
        }
        platform::PostMessage(running, kMsgQuitRequest, 0, 0);
        return 0;
    }
    if (options.command != 0)
        return RunCommand(options);

    // One running copy: a second start asks the first to show itself.
    if (platform::HWND running = platform::FindWindow(kProgramTitle)) {
        platform::PostMessage(running, kMsgTray, 0, kTrayLeftDown);
        LogUtf8("Orvanta is already running; asked it to show itself.");
        return 0;
    }

    if (std::optional<int> ended = StartUp(options))
        return *ended;
    int code = frontEnd_->RunMessageLoop();
    ShutDown();
    return code;
}

std::optional<int> Application::StartUp(const Options& options)
{
    BlockQuitSignals();

    // The main window: the servers, the updater, a second copy and the front end reach the
    // program through its messages.
    window_ = platform::CreateWindow(kProgramTitle, [this](platform::HWND w, platform::UINT m, platform::WPARAM wp,
                                                           platform::LPARAM lp) { return WindowProc(w, m, wp, lp); });
    if (!window_) {
        // Another copy registered the title between the look-up and now.
        if (platform::HWND running = platform::FindWindow(kProgramTitle))
            platform::PostMessage(running, kMsgTray, 0, kTrayLeftDown);
        LogUtf8("Orvanta is already running.");
        return 0;
    }
    WatchSignals(window_);

    // The footer of the spam kept in the store (Almanac).
    char footer[1000] = {};
    CProgramInfo::GetHTMLFooter(footer, 1);
    htmlFooter_ = footer;

    // The program, data and scratch directories.
    paths_ = MakeAppPaths(options.home);
    CreateAppDirectories(paths_);
    // The maker's web server ($ORVANTA_WEB_URL), the directories and the clock of the update.
    const update::UpdateEnvironment updateEnvironment = update::StartUpEnvironment(paths_);

    // The settings, and the files that are read and written with them: the warning texts
    // now, the filter lists once they exist.
    AddSettingsLoadHook([this] { pipeline::LoadWarningTexts(paths_.dataDirectory); });
    AddSettingsSaveHook([this] { pipeline::SaveWarningTexts(paths_.dataDirectory); });
    LoadOrWarn();
    // Both read settings ("FLAG" decides on the uninstaller's menu entry).
    update::LoadUpdateSiteList(paths_.dataDirectory);
    update::CreateUninstallShortcut(paths_.programDirectory);
    StorePorts(options);

    // The long-lived objects: the four filter sets, the IMAP server, the SMTP proxy, the
    // POP3 proxy with the examination it runs, and the spam-box feedback.
    filters_ = std::make_unique<pipeline::FilterSets>(paths_.dataDirectory);
    AddSettingsSaveHook([this] { filters_->Save(); });
    // The learning filter's tokens; without them the program runs on its rules alone.
    learner_ = std::make_unique<winnow::CLearningFilter>();
    if (!learner_->Open(paths_.dataDirectory + "learn.db")) {
        LogUtf8("The learning filter's store " + paths_.dataDirectory + "learn.db cannot be opened (" +
                learner_->Error() + "); mail is judged by the rules alone.");
        learner_.reset();
    }
    imap_ = std::make_unique<CIMAPServer>(window_, paths_.storeDirectory.c_str(),
                                          GetSetting(IntSetting::ImapLocal) != 0, true);
    imap_->SetRemotePassword(GetSetting(StringSetting::ImapPassword));
    imap_->SetEventLog([](const char* line) { LogUtf8(line); });
    imap_->SetDebugListener(frontEnd_->DebugListener(DebugTab::Imap));
    smtp_ = std::make_unique<CSmtpProxy>(window_);
    smtp_->SetDebugListener(frontEnd_->DebugListener(DebugTab::Smtp));
    smtp_->SetServerChooser([this] { return ChooseSmtpServer(); });
    pipeline::ExaminationContext context;
    context.window = window_;
    context.dataDirectory = paths_.dataDirectory;
    context.storeDirectory = paths_.storeDirectory;
    context.htmlFooter = htmlFooter_;
    context.sets = filters_.get();
    context.notices = pipeline::ProgramSpamNotices();
    context.learner = learner_.get();
    examination_ = std::make_unique<pipeline::Examination>(std::move(context));
    pop3_ = std::make_unique<CPop3Proxy>(window_, examination_->Examiner(), frontEnd_->DebugListener(DebugTab::Pop3));
    pop3_->SetDataDirectory(paths_.dataDirectory);
    servers_ = std::make_unique<ServerSet>(*frontEnd_, *smtp_, *pop3_, *imap_);
    feedback_ = std::make_unique<pipeline::SpamBoxFeedback>(*filters_, *frontEnd_, learner_.get());

    pipeline::EnsureInbox(paths_.storeDirectory);
    DeleteOldStoredMailNow(paths_.storeDirectory);
    // Before the updater can be started: by the update check below or from the tray menu.
    update::FetchUpdaterProgram(updateEnvironment, *frontEnd_);
    WriteProgramInfo(paths_.programDirectory);

    // The start made at log-on ends at once when the user turned it off.
    if (!options.args.empty() && GetSetting(IntSetting::AutoStart) == 0 &&
        strcasecmp(options.args[0].c_str(), "/start") == 0) {
        LogUtf8("Started with /start while Auto_Start is 0; ending.");
        return 0;
    }

    // The update check, the relinking of the mail client's accounts, then the notice of the
    // day: an updater started by the check runs while the start-up goes on.
    update::CheckForUpdate(updateEnvironment);
    // The mail client's accounts point at the proxies whatever the user did meanwhile.
    RefreshAccountLinks();
    update::ShowOnlineNotice(updateEnvironment, *frontEnd_);

    frontEnd_->CreateWindows();
    if (paths_.rootDirectory == paths_.programDirectory)
        LogUtf8("Orvanta home: " + paths_.programDirectory);
    else
        LogUtf8("Orvanta home: " + paths_.rootDirectory + " (the programs in " + paths_.programDirectory + ")");
    servers_->StartServers();
    started_ = true;
    // The main window hides itself right after it is first shown.
    platform::SetTimer(window_, kTimerHide, kTimerHideMs);
    return std::nullopt;
}

int Application::RunCommand(const Options& options)
{
    if (platform::HWND running = platform::FindWindow(kProgramTitle)) {
        if (!platform::PostMessage(running, kMsgCommand, options.command, 0)) {
            std::fprintf(stderr, "orvanta: the running copy could not be reached\n");
            return 1;
        }
        LogUtf8("Asked the running copy to carry out the command.");
        return 0;
    }
    paths_ = MakeAppPaths(options.home);
    LoadOrWarn();
    StorePorts(options);
    CarryOut(options.command);
    return 0;
}

void Application::CarryOut(platform::WPARAM command)
{
    switch (command) {
    case kCmdLinkAccounts:
        // A short run has had no start-up pass to build the table; the spam-box account takes
        // its outgoing server from it.
        if (!SmtpAccountTableBuilt())
            BuildSmtpAccountTable();
        LinkMailClient(*frontEnd_);
        break;
    case kCmdUnlinkAccounts: UnlinkMailClient(*frontEnd_); break;
    case kCmdOpen: frontEnd_->ShowMainWindow(); break;
    case kCmdExit:
        // Quitting while a mail client is served may leave its session half done: the
        // question says so.
        if (frontEnd_->AskOkCancel(
                text::Get(pop3_ && pop3_->IsServing() ? text::Id::QuitWhileServing : text::Id::QuitConfirm),
                text::Get(text::Id::Caption)))
            Quit();
        break;
    case kCmdUpdate: update::StartUpdater(paths_.programDirectory); break;
    default: break;
    }
}

platform::LRESULT Application::WindowProc(platform::HWND /*window*/, platform::UINT message, platform::WPARAM wParam,
                                          platform::LPARAM lParam)
{
    switch (message) {
    case kMsgQuitRequest: Quit(); return 0;
    case kMsgCommand: CarryOut(wParam); return 0;
    case kMsgTray:
        if (lParam == kTrayLeftDown)
            frontEnd_->ShowMainWindow();
        return 0;
    case platform::WM_TIMER: OnTimer(wParam); return 0;
    case kMsgExaminationEnded: frontEnd_->ExaminationEnded(); return 0;
    case platform::WM_CLOSE:
        // Closing only hides the window; the program goes on.
        SaveSettings();
        frontEnd_->HideMainWindow();
        return 0;
    case kMsgImap: {
        if (!feedback_)
            return 0;
        platform::LRESULT result = feedback_->OnImapMessage(wParam);
        frontEnd_->FiltersChanged();
        return result;
    }
    case kMsgIgnored:
    default: return 0;
    }
}

void Application::OnTimer(platform::WPARAM timer)
{
    if (timer == kTimerHide) {
        platform::KillTimer(window_, kTimerHide);
        frontEnd_->HideMainWindow();
    } else if (timer == kTimerBusy) {
        frontEnd_->SwapTrayIcon();
    }
}

void Application::Quit()
{
    if (started_) {
        frontEnd_->RemoveTrayIcon();
        SaveSettings();
    }
    LogUtf8("Quit requested; settings saved, ending.");
    platform::PostQuitMessage(0);
}

bool Application::ChooseSmtpServer()
{
    const std::vector<SMTP_ACCOUNT> table = SmtpAccountTable();
    if (table.empty()) {
        LogUtf8("SMTP proxy: the mail client has no account with an outgoing server to choose.");
        return false;
    }
    std::vector<std::string> servers;
    for (const SMTP_ACCOUNT& account : table)
        servers.push_back(account.server);
    std::optional<SmtpServerChoice> choice = frontEnd_->ChooseSmtpServer(servers);
    if (!choice || choice->index >= table.size())
        return false;
    SetSetting(StringSetting::SelectSmtpServer, table[choice->index].server);
    SetSetting(IntSetting::SelectSmtpPort, table[choice->index].port);
    SetSetting(IntSetting::SelectSmtpAlways, choice->always ? 1 : 0);
    return true;
}

void Application::ShutDown()
{
    // Ending the process would close the servers' sockets; here they are closed in order.
    if (pop3_)
        pop3_->Terminate();
    if (smtp_)
        smtp_->Terminate();
    if (imap_)
        imap_->Close();
}

}  // namespace orvanta
