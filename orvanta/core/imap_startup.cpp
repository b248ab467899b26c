// Creates the IMAP server with the other long-lived objects and lets StartServers run it
// after the POP3 proxy. Its notifications reach the main window as WM_IMAPMESG.
#include "harborage/harborage.h"
#include "orvanta/core/application.h"
#include "orvanta/core/paths.h"
#include "orvanta/core/servers.h"
#include "orvanta/core/settings.h"

namespace orvanta {
namespace {

const bool g_registered = [] {
    AddStartupHook([](Application& application) {
        std::string root = Paths().storeDirectory;
        if (!root.empty() && root.back() != '/')
            root += '/';
        // Lives until the process ends, like the other long-lived objects.
        static CIMAPServer* server =
            new CIMAPServer(application.MainWindow(), root.c_str(), GetSetting(IntSetting::ImapLocal) != 0, true);
        server->IMAPInit();
        RegisterServer(ServerSlot::Imap, ServerControl{
            [] { return server->IsStart(); },
            [](int port) { return server->Start("localhost", port); },
            [] { server->IMAPUnInit(); },
            [] { return std::string("the IMAP port could not be opened"); }});
    });
    return true;
}();

}  // namespace
}  // namespace orvanta
