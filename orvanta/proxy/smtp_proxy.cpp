#include "orvanta/proxy/smtp_proxy.h"

#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <vector>

#include "common/smtp_starttls.h"
#include "orvanta/accounts/smtp_accounts.h"
#include "orvanta/core/log.h"
#include "orvanta/core/settings.h"
#include "orvanta/core/texts.h"
#include "orvanta/proxy/pop3_commands.h"
#include "common/smtp_reply.h"

using orvanta::IntSetting;
using orvanta::StringSetting;
using orvanta::text::Id;
namespace text = orvanta::text;

namespace {

constexpr const char* kGreeting = "220 Orvanta ESMTP Proxy Server... by pellix";
constexpr const char* kHeloReply = "250 Bang ga ! Orvanta ESMTP Proxy Server... by pellix";
// To the client when the real server could not be reached over TLS (or offers none while
// TLS_REQUIRED is 1).
constexpr std::string_view kTlsRefusal = "421 4.7.0 No secure connection to the outgoing server; closing\r\n";
constexpr int kReplyReadSize = 2048;           // server reply lines are read 2047 bytes at a time
constexpr size_t kMaxCommandLine = 64 * 1024;  // AUTH lines may be long; no command is longer
constexpr size_t kReceiveSize = 64 * 1024;
constexpr size_t kMaxAddressText = 150;

int Milliseconds(IntSetting seconds)
{
    int value = orvanta::GetSetting(seconds);
    return value > 0 && value < 86400 ? value * 1000 : 0;
}

bool EqualsNoCase(std::string_view line, std::string_view word)
{
    return line.size() == word.size() && pop3proxy::StartsWithNoCase(line, word);
}

// The mail client's side of a session, read in raw receives so that message text can be
// passed on byte for byte: command lines are handed out one at a time, the message text in
// whole receives up to and including its closing "." line. Bytes after that line stay for
// the next command (a client may pipeline QUIT behind its message).
class ClientReader {
public:
    explicit ClientReader(CClientSocket& socket) : socket_(socket), buffer_(2 * kReceiveSize) {}

    // The next command line without its line end (trailing CRs before the LF dropped, as the
    // line reader does everywhere). False when the client closed or sent an endless line.
    bool NextLine(std::string* line)
    {
        size_t scanned = pos_;
        for (;;) {
            const char* lf = Find('\n', scanned);
            if (lf) {
                const char* begin = buffer_.data() + pos_;
                const char* end = lf;
                while (end > begin && end[-1] == '\r')
                    --end;
                line->assign(begin, static_cast<size_t>(end - begin));
                pos_ = static_cast<size_t>(lf - buffer_.data()) + 1;
                return true;
            }
            scanned = end_;
            if (end_ - pos_ > kMaxCommandLine)
                return false;
            size_t kept = pos_;
            if (!Fill())
                return false;
            scanned -= kept;  // Fill moved the unread bytes to the front
        }
    }

    // Passes message text to `send` (exactly as received) until the line that is a single
    // ".", which goes out with it. False when the client closed or `send` failed. The end is
    // only "." CR LF after a CR LF, as a strict server reads it: with any looser rule the
    // proxy would wait for a reply while the server still takes message text.
    template <typename Send>
    bool RelayText(Send&& send)
    {
        for (;;) {
            size_t from = pos_;
            bool ended = false;
            while (!ended && pos_ < end_) {
                const char* lf = Find('\n', pos_);
                if (!lf) {
                    // The start of a line still on its way is kept back only while it may
                    // turn out to be the closing ".".
                    if (!atLineStart_ || !MayBeEnd(pos_, end_)) {
                        crBeforePos_ = buffer_[end_ - 1] == '\r';
                        pos_ = end_;
                        atLineStart_ = false;
                    }
                    break;
                }
                size_t stop = static_cast<size_t>(lf - buffer_.data());
                ended = atLineStart_ && lineEndedCRLF_ && stop == pos_ + 2 && buffer_[pos_] == '.' &&
                        buffer_[pos_ + 1] == '\r';
                lineEndedCRLF_ = stop > pos_ ? buffer_[stop - 1] == '\r' : (!atLineStart_ && crBeforePos_);
                pos_ = stop + 1;
                atLineStart_ = true;
            }
            if (pos_ > from && !send(buffer_.data() + from, pos_ - from))
                return false;
            if (ended)
                return true;
            if (!Fill())
                return false;
        }
    }

private:
    const char* Find(char ch, size_t from) const
    {
        if (from >= end_)
            return nullptr;
        return static_cast<const char*>(std::memchr(buffer_.data() + from, ch, end_ - from));
    }

    // A partial line that may still become the closing "." CR LF.
    bool MayBeEnd(size_t begin, size_t end) const
    {
        return lineEndedCRLF_ && buffer_[begin] == '.' &&
               (end - begin == 1 || (end - begin == 2 && buffer_[begin + 1] == '\r'));
    }

    // Moves the unread bytes to the front and receives more after them.
    bool Fill()
    {
        if (pos_ > 0) {
            std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
            end_ -= pos_;
            pos_ = 0;
        }
        if (buffer_.size() - end_ < kReceiveSize)
            buffer_.resize(end_ + kReceiveSize);
        int n = socket_.ReadBytes(buffer_.data() + end_, static_cast<int>(buffer_.size() - end_));
        if (n <= 0)
            return false;
        end_ += static_cast<size_t>(n);
        return true;
    }

    CClientSocket& socket_;
    std::vector<char> buffer_;
    size_t pos_ = 0;             // next unread byte
    size_t end_ = 0;             // end of the received bytes
    bool atLineStart_ = true;    // message text: the next byte begins a line
    bool lineEndedCRLF_ = true;  // the last line ended with CR LF (the command line before DATA did)
    bool crBeforePos_ = false;   // the byte before pos_, already passed on, was a CR
};

}  // namespace

namespace smtpproxy {

std::string SenderAddress(std::string_view line)
{
    std::string_view rest = line.size() > 9 ? line.substr(9, kMaxAddressText) : std::string_view();
    size_t open = rest.find('<');
    if (open != std::string_view::npos) {
        size_t close = rest.find('>', open + 1);
        return std::string(
            rest.substr(open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1));
    }
    size_t start = 0;
    while (start < rest.size() && (rest[start] == ' ' || rest[start] == ':' || rest[start] == '\t'))
        ++start;
    size_t end = start;
    while (end < rest.size() && rest[end] != ' ' && rest[end] != '\t')
        ++end;
    return std::string(rest.substr(start, end - start));
}

std::string RelayableEhloReply(std::string_view wire)
{
    std::vector<std::string> kept;
    size_t start = 0;
    while (start < wire.size()) {
        size_t end = wire.find("\r\n", start);
        if (end == std::string_view::npos)
            end = wire.size();
        std::string line(wire.substr(start, end - start));
        start = end + 2;
        if (!kept.empty() && line.size() > 4) {
            std::string_view keyword = std::string_view(line).substr(4);
            keyword = keyword.substr(0, keyword.find(' '));
            if (EqualsNoCase(keyword, "STARTTLS") || EqualsNoCase(keyword, "CHUNKING") ||
                EqualsNoCase(keyword, "BINARYMIME"))
                continue;
        }
        kept.push_back(std::move(line));
    }
    std::string out;
    for (size_t i = 0; i < kept.size(); ++i) {
        // The separator after the code marks every line but the last as continued.
        if (kept[i].size() > 3)
            kept[i][3] = i + 1 < kept.size() ? '-' : ' ';
        out += kept[i] + "\r\n";
    }
    return out;
}

bool ChooseFirstAccount()
{
    std::optional<orvanta::SMTP_ACCOUNT> first = orvanta::FirstSmtpAccount();
    if (!first)
        return false;
    orvanta::SetSetting(StringSetting::SelectSmtpServer, first->server);
    orvanta::SetSetting(IntSetting::SelectSmtpPort, first->port);
    orvanta::SetSetting(IntSetting::SelectSmtpAlways, 0);
    return true;
}

}  // namespace smtpproxy

CSmtpProxy::CSmtpProxy(platform::HWND mainWindow) : CProxyBase(mainWindow), chooser_(smtpproxy::ChooseFirstAccount) {}

CSmtpProxy::~CSmtpProxy() { Terminate(); }

void CSmtpProxy::SetServerChooser(ServerChooser chooser) { chooser_ = std::move(chooser); }

bool CSmtpProxy::OpenServer(const std::string& host, int port, const std::string& ehlo, std::string* ehloReply)
{
    ehloReply->clear();
    lastCode_ = 0;
    const std::string where = "SMTP proxy: " + host + ":" + std::to_string(port);
    auto refuse = [&](const std::string& why) {
        LogUtf8(where + why + "; closed.");
        server_.Close();
        WriteToClient(kTlsRefusal);
        return false;
    };
    int connected = smtptls::Connect(server_, host.c_str(), port);
    if (connected == -30)
        return refuse(": TLS failed (" + server_.TlsError().substr(0, 200) + ")");
    if (connected != 1) {
        LogUtf8(where + " cannot be reached; closed.");
        return false;
    }
    // Commands and replies are small and answered at once: no Nagle delay on them.
    int on = 1;
    ::setsockopt(server_.GetSocket(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (!ReadReply(false)) {
        LogUtf8(where + ": the server went away before its greeting; closed.");
        server_.Close();
        return false;
    }
    std::string failure;
    bool tlsRequired = orvanta::GetSetting(IntSetting::TlsRequired) != 0;
    int secured = smtptls::Negotiate(server_, ehlo, tlsRequired, ehloReply, &lastCode_, &failure);
    switch (secured) {
    case smtptls::kReady:
        LogUtf8(where +
                (server_.IsTls() ? " connected over TLS" : " connected in plain text (the server offers no TLS)"));
        return true;
    case smtptls::kNoTls: ehloReply->clear(); return refuse(" offers no TLS and TLS_REQUIRED is 1");
    case smtptls::kTlsFailed: ehloReply->clear(); return refuse(": TLS failed (" + failure.substr(0, 200) + ")");
    default: LogUtf8(where + ": " + failure + "; closed."); return false;
    }
}

void CSmtpProxy::WriteToClient(std::string_view wire)
{
    if (wire.empty())
        return;
    std::lock_guard guard(sessionLock_);
    if (client_)
        client_->Write(wire.data(), static_cast<int>(wire.size()));
}

bool CSmtpProxy::SendToServer(std::string_view line)
{
    return server_.IsConnected() && server_.SendLine(line.data(), static_cast<int>(line.size()));
}

bool CSmtpProxy::ReadReply(bool relay) { return ReadAndRelay(relay, false); }

bool CSmtpProxy::ReadAndRelay(bool relay, bool ehlo)
{
    lastCode_ = 0;
    if (!server_.IsConnected())
        return false;
    std::string wire;
    bool ok = smtpreply::ReadReply(server_, kReplyReadSize, relay ? &wire : nullptr, &lastCode_);
    if (ok && ehlo && lastCode_ >= 200 && lastCode_ < 300)
        wire = smtpproxy::RelayableEhloReply(wire);
    // What arrived of a broken reply still goes on: the client sees what the server said.
    if (relay)
        WriteToClient(wire);
    return ok;
}

void CSmtpProxy::AbortSession()
{
    std::lock_guard guard(sessionLock_);
    if (clientSocket_ >= 0)
        ::shutdown(clientSocket_, SHUT_RDWR);
    server_.Shutdown();
}

void CSmtpProxy::Session(CClientSocket& client, int clientSocket)
{
    {
        std::lock_guard guard(sessionLock_);
        client_ = &client;
        clientSocket_ = clientSocket;
    }
    auto reply = [&client](const char* line) { client.SendLine(line, static_cast<int>(std::strlen(line))); };
    // Every wait on the real server is bounded, so one that accepts and never answers cannot
    // keep the next mail client waiting; the client's own pauses are not.
    server_.SetTimeouts(Milliseconds(IntSetting::ServerConnectSeconds), Milliseconds(IntSetting::ServerReplySeconds));
    reply(kGreeting);

    ClientReader reader(client);
    std::string line;
    std::string greeting;  // the client's HELO or EHLO line, replayed to the server
    bool greeted = false;  // a HELO was answered here or an EHLO relayed
    bool byHelo = false;
    bool upstream = false;  // the real server is connected and greeted
    bool inText = false;    // between DATA and the closing "."
    bool mailSent = false;

    for (;;) {
        if (inText) {
            bool relayed = reader.RelayText(
                [this](const char* data, size_t length) { return server_.Write(data, static_cast<int>(length)); });
            if (!relayed)
                break;
            inText = false;
            mailSent = true;
            if (!ReadReply(true))
                break;
            continue;
        }
        if (!reader.NextLine(&line))
            break;

        if (!greeted && line.size() > 3 &&
            (pop3proxy::StartsWithNoCase(line, "HELO") || pop3proxy::StartsWithNoCase(line, "EHLO"))) {
            greeting = line;
            if (pop3proxy::StartsWithNoCase(line, "HELO")) {
                reply(kHeloReply);
                greeted = byHelo = true;
                continue;
            }
            if (orvanta::GetSetting(IntSetting::SelectSmtpAlways) == 0 && !(chooser_ && chooser_())) {
                LogUtf8("SMTP proxy: no outgoing server chosen; closed.");
                break;
            }
            std::string host = orvanta::GetSetting(StringSetting::SelectSmtpServer);
            if (host.empty())
                break;
            // The client gets the EHLO reply from inside TLS, so its AUTH runs protected.
            std::string ehloReply;
            bool opened = OpenServer(host, orvanta::GetSetting(IntSetting::SelectSmtpPort), greeting, &ehloReply);
            if (opened && lastCode_ >= 200 && lastCode_ < 300)
                ehloReply = smtpproxy::RelayableEhloReply(ehloReply);
            WriteToClient(ehloReply);
            if (!opened)
                break;
            greeted = upstream = true;
            continue;
        }

        if (byHelo && !upstream && line.size() > 8 && pop3proxy::StartsWithNoCase(line, "MAIL FROM")) {
            std::string sender = smtpproxy::SenderAddress(line);
            char host[100] = {};
            int port = 25;
            orvanta::FindSmtpServer(sender.c_str(), host, sizeof host, &port);
            if (!*host) {
                LogUtf8("SMTP proxy: no account's server for " + sender + "; closed.");
                break;
            }
            // TLS is settled with an EHLO of the client's name first; the client's own HELO
            // and MAIL FROM follow inside it.
            std::string ehloReply;
            if (!OpenServer(host, port, "EHLO" + greeting.substr(4), &ehloReply))
                break;
            if (!SendToServer(greeting) || !ReadReply(false) || !SendToServer(line) || !ReadReply(true))
                break;
            upstream = true;
            continue;
        }

        // TLS cannot pass a line relay; the capability is not offered, and asked anyway it is
        // refused here so the client carries on in plain text or gives up cleanly.
        if (upstream && EqualsNoCase(line, "STARTTLS")) {
            reply("454 4.7.0 TLS not available through this proxy");
            continue;
        }
        // Every other line goes to the server; without one (a command after HELO and before
        // MAIL FROM) nobody answers and the session ends.
        bool ehlo = line.size() > 3 && pop3proxy::StartsWithNoCase(line, "EHLO");
        if (!SendToServer(line) || !ReadAndRelay(true, ehlo))
            break;
        // The message text follows only when the server asked for it; after a refused DATA
        // the client's next lines are commands again.
        if (EqualsNoCase(line, "DATA") && lastCode_ >= 300 && lastCode_ < 400)
            inText = true;
        if (EqualsNoCase(line, "QUIT"))
            break;
    }

    if (!mailSent)
        orvanta::SetSetting(IntSetting::SelectSmtpAlways, 0);
    if (server_.TimedOut())
        LogUtf8("SMTP proxy: the outgoing server did not answer in time (SERVER_CONNECT_SECONDS, "
                "SERVER_REPLY_SECONDS); closed.");
    server_.Close();
    {
        std::lock_guard guard(sessionLock_);
        client.Close();
        client_ = nullptr;
        clientSocket_ = -1;
    }
    Log(text::Get(Id::ConnectionClosed));
}
