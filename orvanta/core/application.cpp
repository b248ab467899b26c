#include "orvanta/core/application.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <strings.h>
#include <map>
#include <thread>
#include <vector>

#include "orvanta/core/log.h"
#include "orvanta/core/paths.h"
#include "orvanta/core/servers.h"
#include "orvanta/core/settings.h"
#include "orvanta/core/stored_mail.h"
#include "orvanta/proxy/pop3_proxy.h"
#ifdef ORVANTA_HAVE_PIPELINE
#include "orvanta/pipeline/pipeline.h"
#endif

namespace orvanta {
namespace {

bool ParsePorts(const char* text, int* ports) {
    int count = 0;
    const char* p = text;
    while (count < 3) {
        char* end = nullptr;
        long v = std::strtol(p, &end, 10);
        if (end == p || v < 1 || v > 65535) return false;
        ports[count++] = static_cast<int>(v);
        if (*end == '\0') break;
        if (*end != ',') return false;
        p = end + 1;
    }
    return count == 3;
}

// SIGINT and SIGTERM end the program like the quit request: the settings are saved. They
// are taken by a thread of their own, which posts the request to the main window.
void WatchSignals(platform::HWND window) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    std::thread([set, window] {
        int sig = 0;
        if (sigwait(&set, &sig) == 0) platform::PostMessage(window, kMsgQuitRequest, 0, 0);
    }).detach();
}

void StorePorts(const Options& options) {
    if (!options.setPorts) return;
    SetSetting(IntSetting::Pop3Port, options.ports[0]);
    SetSetting(IntSetting::SmtpPort, options.ports[1]);
    SetSetting(IntSetting::ImapPort, options.ports[2]);
    SaveSettings();
}

struct Extensions {
    std::vector<StartupHook> startup;
    std::vector<StartupHook> beforeServers;
    std::map<platform::UINT, MessageHandler> handlers;
    std::map<platform::WPARAM, CommandHandler> commands;
};

Extensions& TheExtensions() {
    static Extensions e;
    return e;
}

}  // namespace

void AddStartupHook(StartupHook hook, StartupPhase phase) {
    (phase == StartupPhase::Objects ? TheExtensions().startup : TheExtensions().beforeServers)
        .push_back(std::move(hook));
}

void SetCommandHandler(platform::WPARAM command, CommandHandler handler) {
    TheExtensions().commands[command] = std::move(handler);
}

void SetMessageHandler(platform::UINT message, MessageHandler handler) {
    TheExtensions().handlers[message] = std::move(handler);
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    if (const char* env = std::getenv("ORVANTA_HOME"); env && *env) o.home = env;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--headless") {
            o.headless = true;
        } else if (a == "--home" || a == "--ports") {
            if (i + 1 >= argc) {
                o.error = a + " needs a value";
                return o;
            }
            const char* value = argv[++i];
            if (a == "--home") {
                o.home = value;
            } else if (ParsePorts(value, o.ports)) {
                o.setPorts = true;
            } else {
                o.error = "--ports takes POP3,SMTP,IMAP port numbers";
                return o;
            }
        } else if (a == "--send-quit") {
            o.sendQuit = true;
        } else if (a == "--link-accounts") {
            o.command = kCmdLinkAccounts;
        } else if (a == "--unlink-accounts") {
            o.command = kCmdUnlinkAccounts;
        } else {
            o.args.push_back(a);
        }
    }
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!display || !*display) && (!wayland || !*wayland)) o.headless = true;
    return o;
}

Application::Application() = default;

Application::~Application() {
    if (pop3_) pop3_->Terminate();
    UnregisterServers();
    if (window_) platform::DestroyWindow(window_);
}

platform::LRESULT Application::WindowProc(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                          platform::LPARAM lParam) {
    auto handler = TheExtensions().handlers.find(message);
    if (handler != TheExtensions().handlers.end() && handler->second) return handler->second(window, wParam, lParam);
    switch (message) {
    case kMsgQuitRequest:
        Quit();
        return 0;
    case kMsgCommand: {
        auto command = TheExtensions().commands.find(wParam);
        if (command != TheExtensions().commands.end() && command->second) command->second();
        return 0;
    }
    case kMsgTray:
        if (lParam == kTrayLeftDown) LogUtf8("Asked to show the main window (no window in headless mode).");
        return 0;
    case platform::WM_TIMER:
        if (wParam == kTimerHide) platform::KillTimer(window, kTimerHide);
        // Timer 100 swaps the tray icon while mail is examined; there is no icon headless.
        return 0;
    case platform::WM_CLOSE:
        SaveSettings();
        return 0;
    case kMsgImap:
#ifdef ORVANTA_HAVE_PIPELINE
        return pipeline::OnImapMessage(wParam);
#endif
    case kMsgIgnored:
    default:
        return 0;
    }
}

void Application::Quit() {
    if (started_) SaveSettings();
    LogUtf8("Quit requested; settings saved, ending.");
    platform::PostQuitMessage(0);
}

int Application::Run(const Options& options) {
    if (!options.error.empty()) {
        std::fprintf(stderr, "orvanta: %s\n", options.error.c_str());
        return 2;
    }
    SetLogToStdout(options.headless);
    std::signal(SIGPIPE, SIG_IGN);   // a peer that hung up is seen as a failed write

    if (options.sendQuit) {
        platform::HWND running = platform::FindWindow(kProgramTitle);
        if (!running) {
            std::fprintf(stderr, "orvanta: no running copy found\n");
            return 1;
        }
        platform::PostMessage(running, kMsgQuitRequest, 0, 0);
        return 0;
    }

    if (options.command != 0) {
        if (platform::HWND running = platform::FindWindow(kProgramTitle)) {
            if (!platform::PostMessage(running, kMsgCommand, options.command, 0)) {
                std::fprintf(stderr, "orvanta: the running copy could not be reached\n");
                return 1;
            }
            LogUtf8("Asked the running copy to carry out the command.");
            return 0;
        }
        auto command = TheExtensions().commands.find(options.command);
        if (command == TheExtensions().commands.end() || !command->second) {
            std::fprintf(stderr, "orvanta: this build cannot carry out that command\n");
            return 1;
        }
        SetPaths(MakeAppPaths(options.home));
        if (!LoadSettings()) LogUtf8("The settings could not be read; the defaults are used.");
        StorePorts(options);
        command->second();
        return 0;
    }

    // Single instance: a running copy is asked to show itself.
    if (platform::HWND running = platform::FindWindow(kProgramTitle)) {
        platform::PostMessage(running, kMsgTray, 0, kTrayLeftDown);
        LogUtf8("Orvanta is already running; asked it to show itself.");
        return 0;
    }

    // Signals are blocked before any thread starts, so only the watcher takes them.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);

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

    AppPaths paths = MakeAppPaths(options.home);
    SetPaths(paths);
    CreateAppDirectories(paths);
    if (!LoadSettings()) LogUtf8("The settings could not be read; the defaults are used.");
    StorePorts(options);

#ifdef ORVANTA_HAVE_PIPELINE
    pipeline::CreateFilterSets(window_, paths.dataDirectory, paths.storeDirectory);
#endif
    pop3_ = std::make_unique<CPop3Proxy>(window_);
    pop3_->SetDataDirectory(paths.dataDirectory);
#ifdef ORVANTA_HAVE_PIPELINE
    pop3_->SetExaminer([](CPop3Client& client, ProxyMesgList& list) { return pipeline::Examine(client, list); });
    if (!pipeline::EnsureInbox()) LogUtf8("The store folder INBOX could not be created.");
#endif
    CPop3Proxy* pop3 = pop3_.get();
    RegisterServer(ServerSlot::Pop3, ServerControl{
        [pop3] { return pop3->IsRunning(); },
        [pop3](int port) { return pop3->InitSockets() && pop3->Start("localhost", port); },
        [pop3] { pop3->Stop(); },
        [pop3] {
            switch (pop3->LastListenResult()) {
            case -10: return std::string("no socket");
            case -30: return std::string("the port is in use or not permitted");
            case -40: return std::string("listen failed");
            default: return std::string();
            }
        }});

    for (StartupHook& hook : TheExtensions().startup) hook(*this);

    const int lastClean[] = {GetSetting(IntSetting::DelYear), GetSetting(IntSetting::DelMonth),
                             GetSetting(IntSetting::DelDay)};
    int deleted = DeleteOldStoredMail(paths.storeDirectory, std::time(nullptr));
    if (deleted > 0) LogUtf8("Deleted " + std::to_string(deleted) + " old stored messages.");
    // The new date is kept at once: after a crash the next start would take the old one and
    // delete the mail stored since.
    if (lastClean[0] != GetSetting(IntSetting::DelYear) || lastClean[1] != GetSetting(IntSetting::DelMonth) ||
        lastClean[2] != GetSetting(IntSetting::DelDay))
        SaveSettings();

    WriteProgramInfo(paths.programDirectory);

    // The start made at log-on ends at once when the user turned it off.
    if (!options.args.empty() && GetSetting(IntSetting::AutoStart) == 0 &&
        strcasecmp(options.args[0].c_str(), "/start") == 0) {
        LogUtf8("Started with /start while Auto_Start is 0; ending.");
        return 0;
    }

    for (StartupHook& hook : TheExtensions().beforeServers) hook(*this);

    LogUtf8("Orvanta (headless) home: " + paths.programDirectory);
    StartServers();
    started_ = true;
    platform::SetTimer(window_, kTimerHide, 100);
    int code = platform::RunMessageLoop();
    // Ending the process would close the servers' sockets; here they are closed in order.
    pop3_->Terminate();
    return code;
}

}  // namespace orvanta
