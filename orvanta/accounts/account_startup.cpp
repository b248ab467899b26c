// Links the mail client's accounts at every start, before the servers run, and carries out
// the link and unlink commands of the tray menu and of the command line.
#include "orvanta/accounts/mail_client_accounts.h"
#include "orvanta/accounts/smtp_accounts.h"
#include "orvanta/core/application.h"

namespace orvanta {
namespace {

const bool g_registered = [] {
    AddStartupHook([](Application&) { RefreshAccountLinks(); }, StartupPhase::BeforeServers);
    SetCommandHandler(kCmdLinkAccounts, [] {
        // A short run without the start-up pass has no table yet; the spam-box account takes
        // its outgoing server from it.
        if (!SmtpAccountTableBuilt()) BuildSmtpAccountTable();
        LinkMailClient();
    });
    SetCommandHandler(kCmdUnlinkAccounts, [] { UnlinkMailClient(); });
    return true;
}();

}  // namespace
}  // namespace orvanta
