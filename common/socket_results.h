#pragma once

// The int results of the socket steps, by name. The calls return int, as their callers in
// every library expect; these name the values and turn them into a plain English reason for
// the log.

// CClientSocket::Connect and ConnectTls, CPop3Client::Connect.
struct ConnectResult {
    enum : int {
        Connected = 1,
        NoSocket = -10,   // no socket could be created (CPop3Client also: the server cannot be reached)
        NoAddress = -20,  // the host cannot be resolved or refused the connection
        TlsFailed = -30,  // the TLS handshake or the certificate check failed
    };
    static constexpr const char* Text(int result)
    {
        switch (result) {
        case Connected: return "connected";
        case NoSocket: return "no socket";
        case NoAddress: return "the host cannot be resolved or refused the connection";
        case TlsFailed: return "the TLS handshake or the certificate check failed";
        default: return "unknown connect result";
        }
    }
};

// The listening sockets of the proxies and of the IMAP server.
struct ListenResult {
    enum : int {
        Listening = 1,
        NoSocket = -10,
        BindFailed = -30,  // the port is in use, not permitted or out of range
        ListenFailed = -40,
    };
    static constexpr const char* Text(int result)
    {
        switch (result) {
        case Listening: return "listening";
        case NoSocket: return "no socket";
        case BindFailed: return "the port is in use or not permitted";
        case ListenFailed: return "listen failed";
        default: return "";
        }
    }
};
