#pragma once

#include <string>
#include <string_view>

class CClientSocket;

// Reading SMTP replies from a real server, shared by the SMTP proxy, the warning mail and the
// TLS negotiation.
namespace smtpreply {

// Longest reply line taken in whole; a longer one counts as a broken reply.
constexpr size_t kMaxReplyLine = 64 * 1024;
// A reply of more lines counts as broken too: a server cannot keep a session reading for ever.
constexpr int kMaxReplyLines = 1000;

// A line ends its reply when its fourth byte is not '-' (or when it is just the three-digit
// code, which RFC 5321 allows).
bool IsFinalLine(std::string_view line);

// Reads one whole reply, its continuation lines included, each line whole however the
// connection's reads of `readSize` bytes cut it. `wire` (optional) receives every line with
// CR LF, ready to pass on; `code` (optional) the number of the final line, 0 when it has
// none. False when the connection failed, a line was empty or too long, or the reply had too
// many lines.
bool ReadReply(CClientSocket& server, int readSize, std::string* wire, int* code);

// The check of a reply: true when it is positive (2xx) or asks for more (3xx).
inline bool IsPositive(int code) { return code >= 200 && code < 400; }

}  // namespace smtpreply
