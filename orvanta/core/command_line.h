#pragma once

#include <string>
#include <vector>

#include "platform/window.h"

namespace orvanta {

// What the command line asks for.
struct Options {
    bool headless = false;          // --headless, or no display
    bool debug = false;             // --debug: the debug window and its toolbar button
    std::string home;               // --home, else $ORVANTA_HOME, else the executable's directory
    std::vector<std::string> args;  // the remaining arguments ("/start")
    bool sendQuit = false;          // --send-quit: ask the running copy to quit
    bool setPorts = false;          // --ports POP3,SMTP,IMAP: store these ports first
    platform::WPARAM command = 0;   // --link-accounts / --unlink-accounts
    int ports[3] = {0, 0, 0};
    std::string error;  // a bad command line
};

Options ParseOptions(int argc, char** argv);

}  // namespace orvanta
