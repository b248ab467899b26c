// Creates the SMTP proxy with the other long-lived objects and lets StartServers run it
// first, before the POP3 proxy and the IMAP server.
#include "orvanta/accounts/smtp_accounts.h"
#include "orvanta/core/application.h"
#include "orvanta/core/servers.h"
#include "orvanta/proxy/smtp_proxy.h"

namespace orvanta {
namespace {

const bool g_registered = [] {
    AddStartupHook([](Application& application) {
        // The account configuration builds the table at its start-up pass; until it has, the
        // proxy reads it here so a sender can be matched from the first session on.
        if (!FirstSmtpAccount()) BuildSmtpAccountTable();
        // Lives until the process ends, like the other long-lived objects.
        static CSmtpProxy* proxy = new CSmtpProxy(application.MainWindow());
        RegisterServer(ServerSlot::Smtp, ServerControl{
            [] { return proxy->IsRunning(); },
            [](int port) { return proxy->InitSockets() && proxy->Start("localhost", port); },
            [] { proxy->Stop(); },
            [] {
                switch (proxy->LastListenResult()) {
                case -10: return std::string("no socket");
                case -30: return std::string("the port is in use or not permitted");
                case -40: return std::string("listen failed");
                default: return std::string();
                }
            }});
    });
    return true;
}();

}  // namespace
}  // namespace orvanta
