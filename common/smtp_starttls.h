#pragma once

#include <string>
#include <string_view>

class CClientSocket;

// TLS towards a real SMTP server, for every part that sends mail through one: implicit TLS on
// port 465, otherwise STARTTLS when the server's EHLO reply offers it, then EHLO once more.
namespace smtptls {

constexpr int kImplicitTlsPort = 465;

// Whether a server on `port` speaks TLS from the first byte: port 465, and besides it the
// port named by $ORVANTA_SMTP_IMPLICIT_TLS_PORT. That variable exists for tests, which cannot
// always bind a privileged port; it only ever adds a port, so 465 is never taken as plain.
bool IsImplicitTlsPort(int port);

// Connects with TLS from the first byte on an implicit-TLS port and in plain text on any
// other. The results of CClientSocket::ConnectTls (1, -10, -20, -30) and Connect.
int Connect(CClientSocket& server, const char* host, int port);

// Whether a line of the EHLO reply `wire` (lines with their CR LF) names STARTTLS.
bool OffersStartTls(std::string_view wire);
// The reply without its STARTTLS lines; the line that is left last becomes the final one.
std::string WithoutStartTls(std::string_view wire);

// Reads one whole reply, continuation lines included: every line with CR LF into *wire, the
// final line's code into *code. False when the connection failed or the reply is broken.
bool ReadReply(CClientSocket& server, std::string* wire, int* code);

// Results of Negotiate.
constexpr int kReady = 1;        // TLS is on, or the server offers none and plain text is allowed
constexpr int kBroken = -10;     // the server went away or its reply was broken
constexpr int kTlsFailed = -30;  // TLS was offered (or implicit) but the upgrade failed
constexpr int kNoTls = -40;      // the server offers no TLS and TLS is required

// After the greeting has been read: sends `ehlo` ("EHLO name") and reads the reply. On a plain
// connection whose reply offers STARTTLS, upgrades (checking the certificate against the
// connected host) and sends `ehlo` again. *reply receives the EHLO reply to show the client
// (the one after TLS, without STARTTLS) and *code its code; a server that refuses EHLO still
// gives kReady with that code, and the caller may go on with HELO. On every result but kReady
// the connection is closed and *failure says why in one line: nothing more goes out, above
// all not in plain text once TLS was offered.
int Negotiate(CClientSocket& server, const std::string& ehlo, bool tlsRequired, std::string* reply, int* code,
              std::string* failure);

}  // namespace smtptls
