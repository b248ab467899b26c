#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "common/client_socket.h"
#include "orvanta/proxy/proxy_base.h"

// The local SMTP server through which the mail client sends. It queues nothing and changes
// nothing: it picks the real outgoing server for the session and relays the client's
// commands and the server's replies. A client that greets with HELO is answered here and
// connected at its first MAIL FROM to the server of the account that owns the sender
// address; a client that greets with EHLO goes to the server the user chose, and gets that
// server's own EHLO reply so that authentication runs between the two.
//
// Towards the real server the proxy speaks TLS whenever it can (implicit on port 465, else
// STARTTLS when offered) and never falls back to plain text once TLS was offered; the client's
// side stays plain text on loopback. A server without TLS is used unless TLS_REQUIRED is 1.
class CSmtpProxy : public CProxyBase {
public:
    // Stands in for the server choice dialog: false for Cancel; on OK it has stored the
    // choice in "SelectSmtpServer", "SelectSmtpPort" and "SelectSmtpAlways".
    using ServerChooser = std::function<bool()>;

    // Receive-buffer capacity of the connection to the real server.
    static constexpr int kServerCapacity = 2048;

    explicit CSmtpProxy(platform::HWND mainWindow);
    ~CSmtpProxy() override;

    // Replaces the choice (the user interface installs its dialog).
    void SetServerChooser(ServerChooser chooser);

    // Reads one reply of the real server; with `relay` it goes on to the mail client. False
    // when the server's connection failed or its reply is broken.
    bool ReadReply(bool relay);

protected:
    void Session(CClientSocket& client, int clientSocket) override;
    void AbortSession() override;

private:
    bool ReadAndRelay(bool relay, bool ehlo);
    // Opens the connection to the real server, reads its greeting and settles TLS with the
    // command `ehlo`: TLS from the first byte on port 465, else STARTTLS when the EHLO reply
    // offers it. *ehloReply receives the EHLO reply the session goes on with (the one inside
    // TLS, without STARTTLS), lastCode_ its code. False when the session cannot go on: the
    // reason is logged and the connection closed; a refusal for TLS's sake is also told to
    // the client (421), a broken reply leaves in *ehloReply what arrived of it.
    bool OpenServer(const std::string& host, int port, const std::string& ehlo, std::string* ehloReply);
    void WriteToClient(std::string_view wire);
    bool SendToServer(std::string_view line);

    ServerChooser chooser_;
    CClientSocket server_{kServerCapacity};
    int lastCode_ = 0;  // number of the last reply ReadReply read

    std::mutex sessionLock_;  // guards the two fields below (AbortSession from another thread)
    CClientSocket* client_ = nullptr;
    int clientSocket_ = -1;
};

namespace smtpproxy {

// The sender address of a "MAIL FROM" line: the text inside its angle brackets, else its
// first word after the colon. At most 150 bytes of the line's argument are looked at.
std::string SenderAddress(std::string_view line);

// An EHLO reply (lines with CR LF) without STARTTLS, CHUNKING and BINARYMIME: the relay is
// line by line in plain text, so a TLS handshake or binary chunks could not pass it.
std::string RelayableEhloReply(std::string_view wire);

// The default choice with no dialog: the first account of the account SMTP table, stored as
// the dialog's OK would store it (its check box left off). False with no account at all.
bool ChooseFirstAccount();

}  // namespace smtpproxy
