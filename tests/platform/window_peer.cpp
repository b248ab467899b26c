// A second process for the window tests: it owns a titled window, or looks one up and
// messages it, and reports on standard output one line per event.
//   serve TITLE [CALLER]     window TITLE; WM_USER+1 returns wParam*1000+lParam, 1006 quits,
//                            WM_USER+2 sends WM_USER+1 to the window CALLER and adds 1
//   hang TITLE               window TITLE whose thread never handles a message
//   send TITLE MSG W L       FindWindow + SendMessage, prints "RESULT r" (or "NOTFOUND")
//   post TITLE MSG W L       FindWindow + PostMessage, prints "POSTED 1|0"
//   create TITLE             prints "CREATED" or "REFUSED" and ends
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "platform/window.h"

using namespace platform;

namespace {

std::string g_caller;

void Say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

LRESULT ServeProc(HWND, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_USER + 1)
        return static_cast<LRESULT>(wParam * 1000) + lParam;
    if (message == WM_USER + 2) {
        // Sends back to the caller while the caller waits for this answer.
        HWND caller = FindWindow(g_caller);
        return caller ? SendMessage(caller, WM_USER + 1, wParam, lParam) + 1 : -1;
    }
    if (message == 1006) {
        Say("QUIT");
        PostQuitMessage(5);
        return 1006;
    }
    if (message == WM_USER + 100 && lParam == 513) {
        Say("SHOW");
        return 0;
    }
    Say("MSG " + std::to_string(message) + " " + std::to_string(wParam) + " " + std::to_string(lParam));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    alarm(30);  // never outlive a test that forgot us
    if (argc < 3)
        return 2;
    std::string mode = argv[1], title = argv[2];
    if (mode == "serve" && argc > 3)
        g_caller = argv[3];
    if (mode == "serve" || mode == "hang" || mode == "create") {
        HWND window = CreateWindow(title, ServeProc);
        if (!window) {
            Say("REFUSED");
            return 3;
        }
        if (mode == "create") {
            Say("CREATED");
            DestroyWindow(window);
            return 0;
        }
        Say("READY");
        if (mode == "hang") {
            for (;;)
                pause();
        }
        int code = RunMessageLoop();
        Say("EXIT " + std::to_string(code));
        DestroyWindow(window);
        return 0;
    }
    if ((mode == "send" || mode == "post") && argc == 6) {
        HWND window = FindWindow(title);
        if (!window) {
            Say("NOTFOUND");
            return 1;
        }
        UINT message = static_cast<UINT>(std::strtoul(argv[3], nullptr, 10));
        WPARAM w = std::strtoull(argv[4], nullptr, 10);
        LPARAM l = std::strtoll(argv[5], nullptr, 10);
        if (mode == "send")
            Say("RESULT " + std::to_string(SendMessage(window, message, w, l)));
        else
            Say(std::string("POSTED ") + (PostMessage(window, message, w, l) ? "1" : "0"));
        return 0;
    }
    return 2;
}
