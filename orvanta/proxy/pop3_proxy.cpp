#include "orvanta/proxy/pop3_proxy.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <vector>

#include "common/client_socket.h"
#include "fetchling/fetchling.h"
#include "orvanta/core/log.h"
#include "orvanta/core/settings.h"
#include "orvanta/core/texts.h"
#include "orvanta/proxy/pop3_commands.h"

using orvanta::text::Id;
namespace text = orvanta::text;

namespace {

constexpr const char* kGreeting = "+OK Orvanta POP3-Proxy Server ready.";
// The answer to a QUIT that was not passed on, because the spam taken out of the mailbox could
// not be made safe on disk first.
constexpr const char* kCommitRefused = "-ERR nothing deleted: the spam box could not be written to disk";
constexpr int kFirstLineSize = 1000;  // first line, server greeting, USER reply: 999 bytes
constexpr int kLineSize = 2048;       // command loop and relay: 2047 bytes a read
// Relayed lines are gathered and sent in one write per reply (or per this many bytes),
// instead of two writes for every line of a long message.
constexpr size_t kRelayFlushBytes = 64 * 1024;
constexpr size_t kRelayBufferSize = 64 * 1024;
constexpr int kQuitReplyWaitMs = 60000;  // the server's answer to QUIT, deletions committed
// How often the watchdog looks at the reply the relay waits for.
constexpr int kWatchdogSliceMs = 200;
// A client line longer than this (POP3 commands are short) ends the session.
constexpr size_t kMaxClientLine = 1024 * 1024;
constexpr int kRelayEndWaitMs = 10000;  // the relay thread after the session is cut

int Milliseconds(orvanta::IntSetting seconds)
{
    int value = orvanta::GetSetting(seconds);
    return value > 0 && value < 86400 ? value * 1000 : 0;
}

}  // namespace

CPop3Proxy::CPop3Proxy(platform::HWND mainWindow, Examiner examiner, CDebug* debugListener)
    : CProxyBase(mainWindow), pop3_(std::make_unique<CPop3Client>(debugListener)), examiner_(std::move(examiner))
{
    SetDebugListener(debugListener);
}

CPop3Proxy::~CPop3Proxy() { Terminate(); }

void CPop3Proxy::SetDataDirectory(const std::string& directory) { dataDirectory_ = directory; }

int CPop3Proxy::ServerNumber(int n) const
{
    std::lock_guard guard(listLock_);
    return ::ServerNumber(list_, n);
}

void CPop3Proxy::SendToClient(const char* data, size_t length)
{
    std::lock_guard guard(clientWriteLock_);
    if (client_ && length > 0)
        client_->Write(data, static_cast<int>(length));
}

void CPop3Proxy::SendLineToClient(const std::string& line)
{
    std::string out = line + "\r\n";
    SendToClient(out.data(), out.size());
}

void CPop3Proxy::SendToServer(const std::string& line)
{
    // The line goes out whole, NUL bytes included, with its CR LF.
    if (CClientSocket* server = pop3_->GetConnection())
        server->SendLine(line.data(), static_cast<int>(line.size()));
}

void CPop3Proxy::SendCommand(const std::string& line)
{
    replies_.Expect(pop3proxy::ReplyTracker::ReplyTo(line));
    SendToServer(line);
}

bool CPop3Proxy::CommitAllowed()
{
    if (!examined_.load() || !examiner_.beforeCommit)
        return true;
    return examiner_.beforeCommit();
}

void CPop3Proxy::Watchdog()
{
    std::unique_lock guard(stateLock_);
    while (!relayDone_) {
        stateChanged_.wait_for(guard, std::chrono::milliseconds(kWatchdogSliceMs));
        // The examination's own reads are bounded by the socket.
        if (relayDone_ || examining_ || !serverOpen_)
            continue;
        pop3proxy::ReplyTracker::Clock::time_point since;
        if (replies_.Awaiting(&since) &&
            pop3proxy::ReplyTracker::Clock::now() - since >= std::chrono::milliseconds(replyTimeoutMs_)) {
            // The relay's read fails at once; a late reply can no longer be taken for another.
            replyTimedOut_ = true;
            pop3_->ShutdownConnection();
            return;
        }
    }
}

void CPop3Proxy::WaitForExamination()
{
    std::unique_lock guard(stateLock_);
    stateChanged_.wait(guard, [this] { return !examining_; });
}

void CPop3Proxy::CloseServer()
{
    std::lock_guard guard(stateLock_);
    if (!serverOpen_)
        return;
    serverOpen_ = false;
    pop3_->Close();
    pop3_->Pop3UnInit();
}

bool CPop3Proxy::WaitRelay(int ms)
{
    std::unique_lock guard(stateLock_);
    return stateChanged_.wait_for(guard, std::chrono::milliseconds(ms), [this] { return relayDone_; });
}

void CPop3Proxy::JoinRelay()
{
    if (relay_.joinable())
        relay_.join();
}

void CPop3Proxy::AbortSession()
{
    std::lock_guard guard(stateLock_);
    if (clientSocket_ >= 0)
        ::shutdown(clientSocket_, SHUT_RDWR);
    if (serverOpen_)
        pop3_->ShutdownConnection();
}

void CPop3Proxy::Session(CClientSocket& client, int clientSocket)
{
    {
        std::lock_guard guard(listLock_);
        list_.clear();
    }
    {
        std::lock_guard guard(stateLock_);
        client_ = &client;
        clientSocket_ = clientSocket;
    }
    passPending_.store(false);
    capaForwarded_.store(0);
    loggedIn_.store(false);
    examined_.store(false);
    rsetSent_.store(false);
    replyTimedOut_ = false;
    replies_.Reset();
    connectTimeoutMs_ = Milliseconds(orvanta::IntSetting::ServerConnectSeconds);
    replyTimeoutMs_ = Milliseconds(orvanta::IntSetting::ServerReplySeconds);
    pop3_->SetTimeouts(connectTimeoutMs_, replyTimeoutMs_);
    SendLineToClient(kGreeting);

    std::vector<char> line(kLineSize);
    pop3proxy::LoginTarget target;
    bool haveTarget = false;
    // Mail clients (curl, Thunderbird, fetchmail) ask for the capabilities and may try AUTH or
    // STLS before they log in; those are answered here and the log-in line is read next.
    for (int asked = 0; asked <= pop3proxy::kMaxLinesBeforeLogin; ++asked) {
        int n = client.ReadLine(line.data(), kFirstLineSize);
        if (n < 0 || !client.LastLineEnded())
            break;
        std::string_view first(line.data(), static_cast<size_t>(n));
        const char* reply = asked < pop3proxy::kMaxLinesBeforeLogin ? pop3proxy::ReplyBeforeLogin(first) : nullptr;
        if (reply) {
            SendToClient(reply, std::strlen(reply));
            continue;
        }
        haveTarget = pop3proxy::ParseLoginLine(first, &target);
        break;
    }
    if (!haveTarget)
        LogUtf8("POP3 proxy: the first line names no server (USER name#server[#port]); closed.");

    if (haveTarget) {
        pop3_->Pop3Init();
        {
            std::lock_guard guard(stateLock_);
            serverOpen_ = true;
        }
        account_ = std::make_shared<CPop3Account>(dataDirectory_.c_str(), target.server.c_str(), target.server.c_str(),
                                                  target.user.c_str(), "", target.port);
        int connected = pop3_->Connect(account_.get());
        bool reached = connected == ConnectResult::Connected && pop3_->ReadLine(line.data(), kFirstLineSize) >= 0;
        std::string where = "POP3 proxy: " + target.user + " at " + target.server + ":" + std::to_string(target.port);
        if (reached) {
            // Plain text only when the server offers no TLS and the user allows it; an upgrade
            // that fails ends the session rather than falling back.
            int secured = pop3_->NegotiateTls(orvanta::GetSetting(orvanta::IntSetting::TlsRequired) != 0);
            reached = secured == TlsResult::Secured;
            switch (secured) {
            case TlsResult::Secured:
                LogUtf8(where + (pop3_->IsTls() ? " over TLS" : " in plain text (the server offers no TLS)"));
                break;
            case TlsResult::NotOffered: LogUtf8(where + " offers no TLS and TLS_REQUIRED is 1; closed."); break;
            case TlsResult::UpgradeFailed:
                LogUtf8(where + ": TLS failed (" + pop3_->TlsFailure().substr(0, 200) + "); closed.");
                break;
            default: LogUtf8(where + ": " + pop3_->TlsFailure() + "; closed.");
            }
        } else if (connected == ConnectResult::TlsFailed) {
            LogUtf8(where + ": TLS failed (" + pop3_->TlsFailure().substr(0, 200) + "); closed.");
        } else if (pop3_->TimedOut()) {
            LogUtf8(where + (connected == ConnectResult::Connected ? " sent no greeting" : " did not connect") +
                    " in time (SERVER_CONNECT_SECONDS, SERVER_REPLY_SECONDS); closed.");
        } else {
            LogUtf8(where + " cannot be reached; closed.");
        }
        if (reached) {
            // Commands and replies are small and answered at once: no Nagle delay on them.
            int on = 1;
            if (CClientSocket* server = pop3_->GetConnection())
                ::setsockopt(server->GetSocket(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            std::string user = "USER " + target.user;
            pop3_->SendLine(user.c_str());
            bool answered = pop3_->ReadLine(line.data(), kFirstLineSize) >= 0;
            if (!answered && pop3_->TimedOut())
                LogUtf8(where + " did not answer USER in time (SERVER_REPLY_SECONDS); closed.");
            if (answered) {
                SendLineToClient(line.data());
                bool started = false;
                {
                    std::lock_guard guard(stateLock_);
                    relayDone_ = false;
                }
                // From here on the relay reads without a bound of its own, so a mail client may
                // sit idle; the watchdog bounds the wait for each reply it sent for.
                if (CClientSocket* server = pop3_->GetConnection())
                    server->SetReceiveTimeout(0);
                try {
                    relay_ = std::thread(&CPop3Proxy::RelayThread, this);
                    started = true;
                    if (replyTimeoutMs_ > 0)
                        watchdog_ = std::thread(&CPop3Proxy::Watchdog, this);
                } catch (const std::system_error&) {
                    std::lock_guard guard(stateLock_);
                    relayDone_ = true;
                }
                if (started) {
                    CommandLoop(client);
                    // The server answers QUIT and then closes, which ends the relay thread
                    // after it has passed the answer on: deletions are committed and the
                    // client gets its reply. Committing thousands of deletions can take a
                    // loaded server well over ten seconds, so this wait is longer; the relay
                    // gives up by itself when the reply time-out runs out first.
                    WaitRelay(replyTimeoutMs_ > 0 ? replyTimeoutMs_ + kRelayEndWaitMs : kQuitReplyWaitMs);
                }
            }
        }
    }

    // Cut whatever is left: a relay thread still running gets failed reads at once.
    AbortSession();
    if (relay_.joinable()) {
        if (!WaitRelay(kRelayEndWaitMs))
            AbortSession();
        JoinRelay();
    }
    if (watchdog_.joinable())
        watchdog_.join();
    CloseServer();
    {
        std::lock_guard guard(clientWriteLock_);
        std::lock_guard state(stateLock_);
        client.Close();
        client_ = nullptr;
        clientSocket_ = -1;
    }
    account_.reset();
    Log(text::Get(Id::ConnectionClosed));
}

void CPop3Proxy::CommandLoop(CClientSocket& client)
{
    std::vector<char> buffer(kLineSize);
    bool quitSent = false;
    bool withheld = false;  // the QUIT that would commit the deletions was not sent
    for (;;) {
        int n = client.ReadLine(buffer.data(), kLineSize);
        if (n < 0)
            break;
        std::string line(buffer.data(), static_cast<size_t>(n));
        bool ended = client.LastLineEnded();
        WaitForExamination();

        if (!ended) {
            // A line longer than one read: pass it on exactly as the client sent it, its
            // first piece unexamined as a command, up to its real end.
            std::string whole = line;
            while (!ended && whole.size() <= kMaxClientLine) {
                n = client.ReadLine(buffer.data(), kLineSize);
                if (n < 0)
                    break;
                whole.append(buffer.data(), static_cast<size_t>(n));
                ended = client.LastLineEnded();
            }
            if (!ended)
                break;
            replies_.Expect(pop3proxy::ReplyTracker::Reply::StatusLine);
            SendToServer(whole);
            continue;
        }

        pop3proxy::CommandAction action;
        {
            std::lock_guard guard(listLock_);
            action = pop3proxy::TranslateCommand(line, list_);
        }
        switch (action.kind) {
        case pop3proxy::CommandAction::Reply: {
            std::string out;
            for (const std::string& reply : action.replyLines)
                out += reply + "\r\n";
            SendToClient(out.data(), out.size());
            break;
        }
        case pop3proxy::CommandAction::Pass:
            if (!loggedIn_.load())
                passPending_.store(true);
            SendCommand(action.text);
            break;
        case pop3proxy::CommandAction::Quit:
            quitSent = true;
            if (!CommitAllowed()) {
                withheld = true;
                SendLineToClient(kCommitRefused);
                break;
            }
            SendCommand(action.text);
            break;
        case pop3proxy::CommandAction::Forward:
            if (pop3proxy::IsCapaLine(line))
                capaForwarded_.fetch_add(1);
            if (loggedIn_.load() && pop3proxy::StartsWithNoCase(line, "RSET"))
                rsetSent_.store(true);
            SendCommand(action.text);
            break;
        }
        if (quitSent)
            break;
    }
    if (!quitSent) {
        WaitForExamination();
        if (CommitAllowed())
            SendCommand("QUIT");
        else
            withheld = true;
    }
    if (withheld) {
        // Without QUIT the server keeps every message: nothing is lost, and the next log-in
        // takes the spam out again.
        LogUtf8("POP3 proxy: the stored spam could not be forced to disk; the session ends without QUIT, "
                "so the server deletes nothing.");
        CloseServer();
    }
}

void CPop3Proxy::AnswerPass()
{
    {
        std::lock_guard guard(stateLock_);
        examining_ = true;
    }
    ProxyMesgList list;
    examined_.store(true);
    // Each of the examination's reads waits at most the reply time-out.
    CClientSocket* server = pop3_->GetConnection();
    if (server)
        server->SetReceiveTimeout(replyTimeoutMs_);
    int result = examiner_(*pop3_, list);
    if (server)
        server->SetReceiveTimeout(0);
    {
        std::lock_guard guard(listLock_);
        list_ = std::move(list);
    }
    loggedIn_.store(true);
    passPending_.store(false);
    SendLineToClient(result == 1 ? "+OK" : "-ERR");
    {
        std::lock_guard guard(stateLock_);
        examining_ = false;
    }
    stateChanged_.notify_all();
}

void CPop3Proxy::RelayThread()
{
    std::vector<char> buffer(kRelayBufferSize);
    std::string out;
    bool atLineStart = true;
    bool swallowing = false;         // the rest of the server's "+OK" to PASS, not forwarded
    bool cutAfterCRPending = false;  // the last raw receive ended with a CR
    CClientSocket* server = pop3_->GetConnection();
    pop3proxy::CapaReplyFilter capa;
    std::string filtered;
    auto relay = [&](const char* data, size_t length) {
        if (int asked = capaForwarded_.exchange(0))
            capa.Expect(asked);
        if (capa.Idle())
            return SendToClient(data, length);
        filtered.clear();
        capa.Pass(std::string_view(data, length), filtered);
        SendToClient(filtered.data(), filtered.size());
    };
    auto flush = [&] {
        relay(out.data(), out.size());
        out.clear();
    };
    // The server took the QUIT: its deletions are done. Told before the client hears it, so a
    // client that logs in again at once finds the examination's record already up to date.
    auto received = [&](const char* data, size_t length) {
        if (replies_.Received(data, length) && examined_.load() && !rsetSent_.load() && examiner_.committed)
            examiner_.committed();
    };

    int serverSocket = server ? server->GetSocket() : -1;
    for (;;) {
        // Outside the log-in the server's bytes go to the client exactly as they came, a
        // whole receive at a time. Until the log-in the wait for them comes first, so a PASS
        // sent meanwhile is seen before its reply is read, and the reply is then read line by
        // line; after it there is no PASS to look for.
        const bool loggedIn = loggedIn_.load();
        if (!loggedIn && !passPending_.load() && serverSocket >= 0 && server->Pending() == 0) {
            pollfd p{serverSocket, POLLIN, 0};
            if (::poll(&p, 1, -1) < 0 && errno == EINTR)
                continue;
        }
        if (!passPending_.load() && (atLineStart || loggedIn)) {
            flush();  // what the line reader gathered goes first
            int n = pop3_->Read(buffer.data(), static_cast<long>(buffer.size()));
            if (n <= 0)
                break;
            received(buffer.data(), static_cast<size_t>(n));
            relay(buffer.data(), static_cast<size_t>(n));
            // A receive that ended inside a line: its rest goes through the line reader, so a
            // PASS reply is only ever looked for at the start of a line.
            atLineStart = buffer[static_cast<size_t>(n) - 1] == '\n';
            cutAfterCRPending = buffer[static_cast<size_t>(n) - 1] == '\r';
            continue;
        }

        int n = pop3_->ReadLine(buffer.data(), kLineSize);
        if (n < 0)
            break;
        bool ended = pop3_->LastLineEnded();
        bool cutAfterCR = cutAfterCRPending;
        cutAfterCRPending = false;
        const char* piece = buffer.data();
        received(piece, static_cast<size_t>(n));
        if (ended)
            received("\r\n", 2);

        if (atLineStart) {
            swallowing = false;
            if (passPending_.load() && pop3proxy::StartsWithNoCase(std::string_view(piece, n), "+OK")) {
                flush();
                AnswerPass();
                swallowing = !ended;
                atLineStart = ended;
                continue;
            }
            // A refused PASS: the client may try again, and the "+OK" to its next USER is no
            // log-in to examine mail on.
            if (passPending_.load() && pop3proxy::StartsWithNoCase(std::string_view(piece, n), "-ERR"))
                passPending_.store(false);
        }
        if (!swallowing) {
            out.append(piece, static_cast<size_t>(n));
            // A receive that stopped between CR and LF already passed the CR on.
            if (ended)
                out.append(cutAfterCR && n == 0 ? "\n" : "\r\n");
            // Send before the next read could wait for the server, so nothing the client
            // needs is held back.
            if (out.size() >= kRelayFlushBytes || pop3_->Pending() == 0)
                flush();
        }
        atLineStart = ended;
    }
    flush();
    filtered.clear();
    capa.Finish(filtered);
    SendToClient(filtered.data(), filtered.size());
    bool timedOut;
    {
        std::lock_guard guard(stateLock_);
        timedOut = replyTimedOut_;
    }
    if (timedOut || pop3_->TimedOut())
        LogUtf8("POP3 proxy: the server did not answer within " + std::to_string(replyTimeoutMs_ / 1000) +
                " s (SERVER_REPLY_SECONDS); session closed.");
    CloseServer();
    {
        std::lock_guard guard(stateLock_);
        // Wakes the session thread's read; the session closes the connection itself.
        if (clientSocket_ >= 0)
            ::shutdown(clientSocket_, SHUT_RDWR);
        relayDone_ = true;
        examining_ = false;
    }
    stateChanged_.notify_all();
}
