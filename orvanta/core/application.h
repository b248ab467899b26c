#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/window.h"

class CPop3Proxy;

// The frame of the main program: single instance, directories, settings, the long-lived
// objects and the servers, and the main window's messages.
namespace orvanta {

// Window messages of the main window.
constexpr platform::UINT kMsgQuitRequest = 1006;                   // from the updater/uninstaller
constexpr platform::UINT kMsgTray = platform::WM_USER + 100;       // 1124, tray callback
constexpr platform::UINT kMsgImap = platform::WM_USER + 1000;      // 2024, WM_IMAPMESG
constexpr platform::UINT kMsgIgnored = platform::WM_USER + 2000;   // 3024
constexpr platform::LPARAM kTrayLeftDown = 513;
constexpr platform::LPARAM kTrayRightDown = 516;
constexpr platform::UINT kTimerHide = 200;
constexpr platform::UINT kTimerBusy = 100;

class Application;

// Later parts plug into the start-up here: a start-up hook runs once the directories, the
// settings and the POP3 proxy exist (the pipeline creates its filter sets and installs its
// examination on the proxy; the store makes sure "INBOX" exists); a message handler takes
// one main-window message (the pipeline takes WM_IMAPMESG). Register before Run.
// A hook of the phase BeforeServers runs later: after the log-on start with "Auto_Start" 0
// has ended the program, just before the servers start.
using StartupHook = std::function<void(Application&)>;
using MessageHandler = std::function<platform::LRESULT(platform::HWND, platform::WPARAM, platform::LPARAM)>;
enum class StartupPhase { Objects, BeforeServers };
void AddStartupHook(StartupHook hook, StartupPhase phase = StartupPhase::Objects);
void SetMessageHandler(platform::UINT message, MessageHandler handler);

// Menu commands reach the main window as WM_COMMAND with the command id in wParam (the tray
// menu; --link-accounts and --unlink-accounts post them to a running copy, or carry them out
// in a short run with the stored settings when none runs).
constexpr platform::UINT kMsgCommand = 0x0111;
constexpr platform::WPARAM kCmdLinkAccounts = 0x8026;
constexpr platform::WPARAM kCmdUnlinkAccounts = 0x8028;
using CommandHandler = std::function<void()>;
void SetCommandHandler(platform::WPARAM command, CommandHandler handler);

struct Options {
    bool headless = false;
    std::string home;                 // --home, else $ORVANTA_HOME, else the executable's dir
    std::vector<std::string> args;    // the remaining arguments ("/start")
    bool sendQuit = false;            // --send-quit: ask the running copy to quit
    bool setPorts = false;            // --ports POP3,SMTP,IMAP: store these ports first
    platform::WPARAM command = 0;     // --link-accounts / --unlink-accounts
    int ports[3] = {0, 0, 0};
    std::string error;                // a bad command line
};

Options ParseOptions(int argc, char** argv);

class Application {
public:
    Application();
    ~Application();

    // Runs the program to its end; returns the exit code.
    int Run(const Options& options);

    CPop3Proxy* Pop3Proxy() { return pop3_.get(); }
    platform::HWND MainWindow() const { return window_; }

private:
    platform::LRESULT WindowProc(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                 platform::LPARAM lParam);
    void Quit();

    platform::HWND window_ = nullptr;
    bool started_ = false;
    std::unique_ptr<CPop3Proxy> pop3_;
};

}  // namespace orvanta
