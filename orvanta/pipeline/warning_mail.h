#pragma once

#include <string>

// The warning mail that goes back to the sender of a spam message, from the user's own
// address, through the outgoing server of the user's mail client account.
namespace orvanta::pipeline {

// Warnings go to this port of the account's server, whatever port the account names.
constexpr int kWarningPort = 25;

// Sends the warning text `selectWarn` (0 to 2) with the TEXT footer from `recipient` (the
// user) to `sender` (the spammer). Nothing is sent between two addresses of one domain, to
// an empty address, or when no account names a server. True when the server took the mail.
// Failures are silent, but for those of TLS, which are logged.
bool SendWarningMail(const std::string& sender, const std::string& recipient, int selectWarn);

// The dialogue with one server: HELO, MAIL FROM the user, RCPT TO the spammer, DATA with the
// message below, QUIT. Each command waits for its reply; a negative one ends the dialogue.
// Before HELO an EHLO settles TLS as the SMTP proxy does (implicit on 465, else STARTTLS when
// offered, plain text only when none is offered and TLS_REQUIRED is 0); a TLS failure is logged.
bool SendWarningMailTo(const std::string& server, int port, const std::string& sender, const std::string& recipient,
                       const std::string& text);

// The message as it goes out after DATA, without the closing ".": three header lines, an
// empty line, the text with every line that begins with "." given a second one, CR LF.
std::string WarningMessage(const std::string& sender, const std::string& recipient, const std::string& text);

}  // namespace orvanta::pipeline
