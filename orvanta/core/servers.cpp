#include "orvanta/core/servers.h"

#include <string>

#include "harborage/imap_server.h"
#include "orvanta/core/front_end.h"
#include "orvanta/core/log.h"
#include "orvanta/core/settings.h"
#include "orvanta/core/texts.h"
#include "orvanta/proxy/pop3_proxy.h"
#include "orvanta/proxy/smtp_proxy.h"

namespace orvanta {
namespace {

// The log line of a failed start; ports below 1024 are the usual cause on Linux.
void LogStartFailure(const char* server, int port, const std::string& detail)
{
    std::string line = std::string(server) + ": cannot listen on port " + std::to_string(port);
    if (!detail.empty())
        line += " (" + detail + ")";
    if (port > 0 && port < 1024)
        line += "; ports below 1024 need root or CAP_NET_BIND_SERVICE";
    LogUtf8(line);
}

}  // namespace

int ServerSet::StartServers()
{
    int failures = 0;
    auto started = [&](const char* server, int port, bool ok, const std::string& detail, text::Id failure) {
        if (ok) {
            LogUtf8(std::string(server) + " listening on port " + std::to_string(port));
            return;
        }
        ++failures;
        LogStartFailure(server, port, detail);
        ShowInformation(frontEnd_, text::Get(failure));
    };

    if (!smtp_.IsRunning()) {
        int port = GetSetting(IntSetting::SmtpPort);
        bool ok = smtp_.InitSockets() && smtp_.Start("localhost", port);
        started("SMTP proxy", port, ok, ListenResult::Text(smtp_.LastListenResult()), text::Id::SmtpStartFailed);
    }
    if (!pop3_.IsRunning()) {
        int port = GetSetting(IntSetting::Pop3Port);
        bool ok = pop3_.InitSockets() && pop3_.Start("localhost", port);
        started("POP3 proxy", port, ok, ListenResult::Text(pop3_.LastListenResult()), text::Id::Pop3StartFailed);
    }
    if (!imap_.IsStart()) {
        int port = GetSetting(IntSetting::ImapPort);
        imap_.SetLocalOnly(GetSetting(IntSetting::ImapLocal) != 0);
        imap_.IMAPInit();
        bool ok = imap_.Start("localhost", port);
        started("IMAP server", port, ok, "the IMAP port could not be opened", text::Id::ImapStartFailed);
    }
    return failures;
}

bool ServerSet::ImapRunning() const { return imap_.IsStart(); }

void ServerSet::StopServers()
{
    if (smtp_.IsRunning())
        smtp_.Stop();
    if (imap_.IsStart()) {
        imap_.Close();
        imap_.IMAPUnInit();
    }
    if (pop3_.IsRunning())
        pop3_.Stop();
}

}  // namespace orvanta
