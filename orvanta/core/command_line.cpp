#include "orvanta/core/command_line.h"

#include <cstdlib>

#include "orvanta/core/window_messages.h"

namespace orvanta {
namespace {

bool ParsePorts(const char* text, int* ports)
{
    int count = 0;
    const char* p = text;
    while (count < 3) {
        char* end = nullptr;
        long v = std::strtol(p, &end, 10);
        if (end == p || v < 1 || v > 65535)
            return false;
        ports[count++] = static_cast<int>(v);
        if (*end == '\0')
            break;
        if (*end != ',')
            return false;
        p = end + 1;
    }
    return count == 3;
}

}  // namespace

Options ParseOptions(int argc, char** argv)
{
    Options o;
    if (const char* env = std::getenv("ORVANTA_HOME"); env && *env)
        o.home = env;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--headless") {
            o.headless = true;
        } else if (a == "--debug") {
            o.debug = true;
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
    if ((!display || !*display) && (!wayland || !*wayland))
        o.headless = true;
    return o;
}

}  // namespace orvanta
