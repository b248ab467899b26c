#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "orvanta/proxy/proxy_mesg.h"

// The text side of a POP3 proxy session: the log-in line that names the real server, and the
// client commands the proxy answers itself or renumbers before relaying them.
namespace pop3proxy {

// Words of a line split at spaces; a line of 500 bytes or more, or an empty one, has none.
std::vector<std::string> SplitWords(std::string_view line, char separator = ' ');

// Case-insensitive "starts with".
bool StartsWithNoCase(std::string_view line, std::string_view prefix);

// The first client line: "USER name#server[#port]".
struct LoginTarget {
    std::string user;
    std::string server;
    int port = 110;
};

// Longest user name and server name the proxy accepts (they are held in 100-byte fields).
constexpr size_t kMaxLoginPiece = 99;

// False when the line is not USER, names no server, or a piece is too long: the session then
// closes without a reply.
bool ParseLoginLine(std::string_view line, LoginTarget* target);

// Before its log-in line a client may ask for the capabilities (CAPA) and try AUTH or STLS.
// The proxy answers CAPA with what it relays (no SASL, no STLS) and refuses AUTH and STLS, so
// clients fall back to USER and PASS. At most this many such lines come before USER.
constexpr int kMaxLinesBeforeLogin = 10;
inline constexpr const char* kCapaReply = "+OK\r\nUSER\r\nUIDL\r\nTOP\r\n.\r\n";
inline constexpr const char* kRefusedReply = "-ERR\r\n";
bool IsCapaLine(std::string_view line);
// The reply to a line before USER (CAPA, AUTH, STLS); null for any other line.
const char* ReplyBeforeLogin(std::string_view line);

// What the command loop does with one complete client line.
struct CommandAction {
    enum Kind {
        Forward,  // send `text` to the server
        Pass,     // send `text` to the server; a PASS reply is now pending
        Quit,     // send `text` to the server and end the command loop
        Reply,    // answer the client with `replyLines` (each gets CR LF)
    };
    Kind kind = Forward;
    std::string text;
    std::vector<std::string> replyLines;
};

CommandAction TranslateCommand(std::string_view line, const ProxyMesgList& list);

// The proxy answers some commands itself at once and relays the rest, so it keeps the order of
// replies only while the client waits for each one. A server's answer to a relayed CAPA must
// therefore not reach the client with PIPELINING in it. The relay thread passes the server's
// bytes through this filter; the command loop calls Expect() before it forwards a CAPA.
class CapaReplyFilter {
public:
    void Expect(int answers = 1) { expected_ += answers; }
    // Nothing to hold back: the bytes can go to the client as they are.
    bool Idle() const { return expected_ == 0 && state_ == State::Idle; }
    // Appends to `out` what goes to the client for these bytes of the server's.
    void Pass(std::string_view bytes, std::string& out);
    // The server has gone: a line it left unfinished goes on as it was.
    void Finish(std::string& out);

private:
    enum class State { Idle, Status, Capabilities };
    void Line(std::string& out);
    int expected_ = 0;
    State state_ = State::Idle;
    std::string line_;
};

}  // namespace pop3proxy
