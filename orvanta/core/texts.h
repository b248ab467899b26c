#pragma once

#include <string>

// The main program's own Korean texts. Source files are UTF-8; every text is converted to
// CP949 (the system's code page) once, on first use, and handed out as CP949 bytes.
namespace orvanta::text {

enum class Id {
    // Start failures shown by StartServers (caption: Caption).
    SmtpStartFailed,   // 61204
    Pop3StartFailed,   // 61205
    ImapStartFailed,   // 61206
    Caption,           // 61207
    QuitWhileServing,  // 61216
    QuitConfirm,       // 61217
    // Events of the proxies.
    WinsockInitFailed,
    ServerStopped,
    ServerAlreadyRunning,
    SocketCreateFailed,
    BindFailed,
    ListenFailed,
    WaitThreadFailed,
    ServerStarted,
    ConnectionClosed,
    // Mail client account links (caption: Caption).
    AccountsLinked,    // 61210
    AccountsRestored,  // 61213
    // The update (caption: Caption).
    UpdaterNotOnServer,  // 61209
    Count
};

// CP949 bytes of the text.
const std::string& Get(Id id);

}  // namespace orvanta::text
