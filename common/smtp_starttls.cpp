#include "common/smtp_starttls.h"

#include <cstdlib>
#include <strings.h>
#include <vector>

#include "common/client_socket.h"
#include "common/smtp_reply.h"

namespace smtptls {

namespace {

constexpr int kReadSize = 2048;  // the connection's reads of a reply line

// The lines of `wire` without their CR LF.
std::vector<std::string_view> Lines(std::string_view wire)
{
    std::vector<std::string_view> lines;
    while (!wire.empty()) {
        size_t lf = wire.find('\n');
        std::string_view line = wire.substr(0, lf);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        if (lf == std::string_view::npos)
            break;
        wire.remove_prefix(lf + 1);
    }
    return lines;
}

// "250-STARTTLS" or "250 STARTTLS", in any case, maybe followed by parameters.
bool IsStartTlsLine(std::string_view line)
{
    if (line.size() < 12 || (line[3] != '-' && line[3] != ' '))
        return false;
    std::string_view keyword = line.substr(4);
    return strncasecmp(keyword.data(), "STARTTLS", 8) == 0 && (keyword.size() == 8 || keyword[8] == ' ');
}

}  // namespace

bool IsImplicitTlsPort(int port)
{
    if (port == kImplicitTlsPort)
        return true;
    const char* extra = std::getenv("ORVANTA_SMTP_IMPLICIT_TLS_PORT");
    if (!extra || !*extra)
        return false;
    char* end = nullptr;
    long value = std::strtol(extra, &end, 10);
    return *end == '\0' && value > 0 && value <= 65535 && value == port;
}

int Connect(CClientSocket& server, const char* host, int port)
{
    return IsImplicitTlsPort(port) ? server.ConnectTls(host, port) : server.Connect(host, port);
}

bool OffersStartTls(std::string_view wire)
{
    for (std::string_view line : Lines(wire))
        if (IsStartTlsLine(line))
            return true;
    return false;
}

std::string WithoutStartTls(std::string_view wire)
{
    std::vector<std::string> kept;
    for (std::string_view line : Lines(wire))
        if (!IsStartTlsLine(line))
            kept.emplace_back(line);
    std::string out;
    for (size_t i = 0; i < kept.size(); ++i) {
        std::string& line = kept[i];
        // The last line says the reply ends there, the others that it goes on.
        if (line.size() >= 4 && (line[3] == '-' || line[3] == ' '))
            line[3] = i + 1 == kept.size() ? ' ' : '-';
        out += line + "\r\n";
    }
    return out;
}

bool ReadReply(CClientSocket& server, std::string* wire, int* code)
{
    wire->clear();
    return smtpreply::ReadReply(server, kReadSize, wire, code) && *code >= 100 && *code < 600;
}

int Negotiate(CClientSocket& server, const std::string& ehlo, bool tlsRequired, std::string* reply, int* code,
              std::string* failure)
{
    failure->clear();
    auto fail = [&](int rc, std::string why) {
        *failure = std::move(why);
        server.Close();
        return rc;
    };
    if (!server.IsConnected())
        return fail(kBroken, "not connected");
    if (!server.SendLine(ehlo.data(), static_cast<int>(ehlo.size())) || !ReadReply(server, reply, code))
        return fail(kBroken, "the server went away after EHLO");
    if (server.IsTls()) {
        *reply = WithoutStartTls(*reply);
        return kReady;
    }
    if (*code < 200 || *code >= 300 || !OffersStartTls(*reply)) {
        if (tlsRequired)
            return fail(kNoTls, "the server offers no TLS");
        return kReady;
    }

    std::string answer;
    int answerCode = 0;
    if (!server.SendLine("STARTTLS", 8) || !ReadReply(server, &answer, &answerCode))
        return fail(kTlsFailed, "the server went away after STARTTLS");
    if (answerCode != 220) {
        std::string first = answer.substr(0, answer.find('\r'));
        return fail(kTlsFailed, "the server offered STARTTLS but refused it: " + first.substr(0, 200));
    }
    if (!server.StartTls()) {
        std::string why = server.TlsError();
        return fail(kTlsFailed, why);
    }
    // The session starts anew inside TLS, and so does the greeting.
    if (!server.SendLine(ehlo.data(), static_cast<int>(ehlo.size())) || !ReadReply(server, reply, code))
        return fail(kBroken, "the server went away after EHLO inside TLS");
    *reply = WithoutStartTls(*reply);
    return kReady;
}

}  // namespace smtptls
