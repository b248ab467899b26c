#pragma once

class CIMAPServer;
class CPop3Proxy;
class CSmtpProxy;

// The three servers of the program, started and stopped together by the start-up and by the
// settings page's "run" and "stop" buttons.
namespace orvanta {

class FrontEnd;

class ServerSet {
public:
    ServerSet(FrontEnd& frontEnd, CSmtpProxy& smtp, CPop3Proxy& pop3, CIMAPServer& imap)
        : frontEnd_(frontEnd), smtp_(smtp), pop3_(pop3), imap_(imap)
    {
    }

    // Starts every server that is not running, in the order SMTP, POP3, IMAP, each on its
    // port from the settings. A server that cannot start shows its own message (61204, 61205,
    // 61206) and leaves the others running. Returns the number of servers that failed.
    int StartServers();
    // Stops the running ones: the SMTP proxy, the IMAP server, the POP3 proxy.
    void StopServers();
    // The settings page's buttons follow the IMAP server's state.
    bool ImapRunning() const;

private:
    FrontEnd& frontEnd_;
    CSmtpProxy& smtp_;
    CPop3Proxy& pop3_;
    CIMAPServer& imap_;
};

}  // namespace orvanta
