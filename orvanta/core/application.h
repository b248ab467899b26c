#pragma once

#include <memory>
#include <optional>
#include <string>

#include "orvanta/core/command_line.h"
#include "orvanta/core/paths.h"
#include "orvanta/core/window_messages.h"
#include "platform/window.h"

class CIMAPServer;
class CPop3Proxy;
class CSmtpProxy;

namespace winnow {
class CLearningFilter;
}

namespace orvanta {

class FrontEnd;
class ServerSet;

namespace pipeline {
class Examination;
class SpamBoxFeedback;
struct FilterSets;
}  // namespace pipeline

// SIGINT and SIGTERM (a desktop session ending, say) are taken by a thread of the program's
// own and end it like the quit request. Every thread must have them blocked, so this comes
// first in main(), before a toolkit starts threads of its own.
void BlockQuitSignals();

// The frame of the main program: one running copy, the start-up in its order, the
// long-lived objects, the main window's messages and the end. What the user sees goes
// through the front end it is given.
class Application {
public:
    explicit Application(std::unique_ptr<FrontEnd> frontEnd);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Runs the program to its end; returns the exit code.
    int Run(const Options& options);

    // What the front end's windows work on (null before the start-up made it).
    platform::HWND MainWindow() const { return window_; }
    const AppPaths& Paths() const { return paths_; }
    pipeline::FilterSets* Filters() { return filters_.get(); }
    ServerSet* Servers() { return servers_.get(); }

private:
    // The start-up, step by step; an exit code when the program ends before its loop.
    std::optional<int> StartUp(const Options& options);
    // A short run for --link-accounts / --unlink-accounts: handed to the running copy, or
    // carried out here with the stored settings.
    int RunCommand(const Options& options);
    void CarryOut(platform::WPARAM command);
    platform::LRESULT WindowProc(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                 platform::LPARAM lParam);
    void OnTimer(platform::WPARAM timer);
    void Quit();
    // The SMTP proxy's choice of outgoing server, asked through the front end (on the proxy's
    // thread); true when one was chosen and stored in the settings.
    bool ChooseSmtpServer();
    // Stops the servers, in order, before the objects they use go.
    void ShutDown();

    std::unique_ptr<FrontEnd> frontEnd_;
    platform::HWND window_ = nullptr;
    bool started_ = false;  // the start-up completed: quitting saves the settings
    AppPaths paths_;
    std::string htmlFooter_;

    // The long-lived objects, in the order they are made.
    std::unique_ptr<pipeline::FilterSets> filters_;
    std::unique_ptr<winnow::CLearningFilter> learner_;
    std::unique_ptr<CIMAPServer> imap_;
    std::unique_ptr<CSmtpProxy> smtp_;
    std::unique_ptr<pipeline::Examination> examination_;
    std::unique_ptr<CPop3Proxy> pop3_;
    std::unique_ptr<ServerSet> servers_;
    std::unique_ptr<pipeline::SpamBoxFeedback> feedback_;
};

}  // namespace orvanta
