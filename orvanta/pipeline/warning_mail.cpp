#include "orvanta/pipeline/warning_mail.h"

#include "components/almanac/program_info.h"
#include "common/client_socket.h"
#include "common/smtp_starttls.h"
#include "orvanta/accounts/smtp_accounts.h"
#include "orvanta/core/log.h"
#include "orvanta/core/settings.h"
#include "orvanta/pipeline/spam_notices.h"
#include "common/smtp_reply.h"
#include "platform/codepage.h"

namespace orvanta::pipeline {
namespace {

constexpr int kCapacity = 1000;  // receive buffer of the warning's connection
constexpr int kReadSize = 1000;  // reply lines are read 999 bytes at a time

std::string Domain(const std::string& address)
{
    size_t at = address.find('@');
    return at == std::string::npos ? std::string() : address.substr(at);
}

// An address that would break a command or header line is not used.
bool Usable(const std::string& address)
{
    return !address.empty() && address.find_first_of("\r\n<>") == std::string::npos;
}

bool Check(CClientSocket& server)
{
    int code = 0;
    return smtpreply::ReadReply(server, kReadSize, nullptr, &code) && smtpreply::IsPositive(code);
}

bool Command(CClientSocket& server, const std::string& line)
{
    return server.SendLine(line.data(), static_cast<int>(line.size())) && Check(server);
}

}  // namespace

std::string WarningMessage(const std::string& sender, const std::string& recipient, const std::string& text)
{
    static const std::string subject = platform::Utf8ToCp949("[Orvanta] 스팸메일을 발송하지 마세요.");
    std::string out;
    out.reserve(text.size() + 256);
    out += "FROM: " + recipient + "\r\n";
    out += "To: " + sender + "\r\n";
    out += "SUBJECT: " + subject + "\r\n";
    out += "\r\n";
    bool lineStart = true;
    for (char ch : text) {
        if (lineStart && ch == '.')
            out += '.';
        out += ch;
        lineStart = ch == '\n';
    }
    out += "\r\n";
    return out;
}

bool SendWarningMailTo(const std::string& serverName, int port, const std::string& sender, const std::string& recipient,
                       const std::string& text)
{
    CClientSocket server(kCapacity);
    const std::string where = "Warning mail: " + serverName + ":" + std::to_string(port);
    int connected = smtptls::Connect(server, serverName.c_str(), port);
    if (connected == -30)
        LogUtf8(where + ": TLS failed (" + server.TlsError().substr(0, 200) + "); not sent.");
    if (connected != 1)
        return false;
    if (!Check(server)) {
        server.Close();
        return false;
    }
    // TLS is settled with an EHLO before the HELO the dialogue has always begun with; once the
    // server offers TLS nothing goes out without it.
    std::string reply, failure;
    int code = 0;
    int secured =
        smtptls::Negotiate(server, "EHLO localhost", GetSetting(IntSetting::TlsRequired) != 0, &reply, &code, &failure);
    if (secured == smtptls::kNoTls)
        LogUtf8(where + " offers no TLS and TLS_REQUIRED is 1; not sent.");
    if (secured == smtptls::kTlsFailed)
        LogUtf8(where + ": TLS failed (" + failure.substr(0, 200) + "); not sent.");
    if (secured != smtptls::kReady)
        return false;
    // One reply for every command: a refused recipient ends the dialogue before DATA.
    bool sent = Command(server, "HELO localhost") && Command(server, "MAIL FROM: <" + recipient + ">") &&
                Command(server, "RCPT TO: <" + sender + ">") && Command(server, "DATA");
    if (sent) {
        std::string message = WarningMessage(sender, recipient, text) + ".\r\n";
        sent = server.Write(message.data(), static_cast<int>(message.size())) && Check(server);
    }
    if (sent)
        Command(server, "QUIT");
    server.Close();
    return sent;
}

bool SendWarningMail(const std::string& sender, const std::string& recipient, int selectWarn)
{
    if (!Usable(sender) || !Usable(recipient))
        return false;
    std::string senderDomain = Domain(sender);
    if (!senderDomain.empty() && senderDomain == Domain(recipient))
        return false;
    if (selectWarn < 0 || selectWarn >= static_cast<int>(WarningTexts().size()))
        return false;

    char server[100] = {};
    int port = kWarningPort;
    FindSmtpServer(recipient.c_str(), server, sizeof server, &port);
    if (!*server)
        return false;

    char footer[1000] = {};
    CProgramInfo::GetTEXTFooter(footer, 1);
    return SendWarningMailTo(server, kWarningPort, sender, recipient, WarningTexts()[selectWarn] + footer);
}

}  // namespace orvanta::pipeline
