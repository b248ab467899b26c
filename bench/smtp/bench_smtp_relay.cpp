// bench_smtp_relay: how much the SMTP proxy adds to sending mail.
// Two peers on loopback ports: a small SMTP sink in this program, which answers at once and
// throws the text away after finding its end (the proxy's whole cost shows against it), and,
// when /usr/bin/python3 has it, a real SMTP server, aiosmtpd. One session sends 500 messages
// of 100 KB, once straight to the peer and once through an in-process CSmtpProxy (greeted with
// HELO, so the proxy finds the peer as the sender's account server), alternating, best of five
// runs (three against aiosmtpd). Prints the times and their ratio. Target: ratio <= 1.2.
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <spawn.h>
#include <fstream>
#include <sys/wait.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "orvanta/accounts/smtp_accounts.h"
#include "orvanta/proxy/smtp_proxy.h"
#include "platform/registry.h"

extern char** environ;
namespace fs = std::filesystem;

namespace {

constexpr int kMessages = 500;
constexpr size_t kMessageSize = 100 * 1024;

[[noreturn]] void Fail(const std::string& why)
{
    std::fprintf(stderr, "bench_smtp_relay: %s\n", why.c_str());
    std::exit(1);
}

int Listener(int* port)
{
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 8) != 0)
        Fail("sink: bind");
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return s;
}

int FreePort()
{
    int port = 0;
    ::close(Listener(&port));
    return port;
}

bool SendAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Buffered reading from one socket: lines, or bytes up to a marker.
class Reader {
public:
    explicit Reader(int fd) : fd_(fd) {}
    bool Line(std::string* line)
    {
        for (;;) {
            size_t p = buf_.find("\r\n", pos_);
            if (p != std::string::npos) {
                line->assign(buf_, pos_, p - pos_);
                pos_ = p + 2;
                return true;
            }
            if (!Fill())
                return false;
        }
    }
    // Skips everything up to and including "\r\n.\r\n" (the text starts at a line start).
    bool SkipText(size_t* bytes)
    {
        for (;;) {
            size_t p = buf_.find("\r\n.\r\n", pos_ >= 2 ? pos_ - 2 : 0);
            if (p != std::string::npos && p + 2 >= pos_) {
                *bytes += p + 5 - pos_;
                pos_ = p + 5;
                return true;
            }
            if (buf_.size() - pos_ > 8) {
                *bytes += buf_.size() - 8 - pos_;
                pos_ = buf_.size() - 8;
            }
            if (!Fill())
                return false;
        }
    }

private:
    bool Fill()
    {
        if (pos_ > 0) {
            buf_.erase(0, pos_);
            pos_ = 0;
        }
        char chunk[65536];
        ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buf_.append(chunk, static_cast<size_t>(n));
        return true;
    }
    int fd_;
    std::string buf_;
    size_t pos_ = 0;
};

// The SMTP sink: accepts sessions one after another and answers every command at once.
class Sink {
public:
    Sink() : fd_(Listener(&port_))
    {
        thread_ = std::thread([this] { Run(); });
    }
    ~Sink()
    {
        stop_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        thread_.join();
    }
    int port() const { return port_; }
    size_t received() const { return received_.load(); }

private:
    void Run()
    {
        while (!stop_) {
            int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0)
                return;
            int on = 1;
            ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            Session(c);
            ::close(c);
        }
    }
    void Session(int c)
    {
        auto reply = [c](const char* text) { return SendAll(c, text, std::strlen(text)); };
        reply("220 sink ready\r\n");
        Reader r(c);
        std::string line;
        while (r.Line(&line)) {
            std::string verb = line.substr(0, 4);
            for (char& ch : verb)
                ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            if (verb == "DATA") {
                reply("354 go ahead\r\n");
                size_t bytes = 0;
                if (!r.SkipText(&bytes))
                    return;
                received_ += bytes;
                reply("250 accepted\r\n");
            } else if (verb == "QUIT") {
                reply("221 bye\r\n");
                return;
            } else {
                reply("250 ok\r\n");
            }
        }
    }
    int port_ = 0;
    int fd_;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> received_{0};
    std::thread thread_;
};

int Connect(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        Fail("cannot connect to " + std::to_string(port));
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

std::string Expect(Reader& r, char first, const char* what)
{
    std::string line;
    if (!r.Line(&line) || line.empty() || line[0] != first)
        Fail(std::string(what) + ": " + line);
    return line;
}

// One session: HELO, then every message, then QUIT. Seconds for the messages.
double Send(int port, const std::string& text, const std::string& sender)
{
    int fd = Connect(port);
    Reader r(fd);
    Expect(r, '2', "greeting");
    auto command = [&](const std::string& line, char first, const char* what) {
        std::string out = line + "\r\n";
        if (!SendAll(fd, out.data(), out.size()))
            Fail("send");
        Expect(r, first, what);
    };
    command("HELO bench.example", '2', "HELO");
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kMessages; ++i) {
        command("MAIL FROM:<" + sender + ">", '2', "MAIL FROM");
        command("RCPT TO:<sink@example.net>", '2', "RCPT TO");
        command("DATA", '3', "DATA");
        if (!SendAll(fd, text.data(), text.size()))
            Fail("send text");
        Expect(r, '2', "end of text");
    }
    auto t1 = std::chrono::steady_clock::now();
    command("QUIT", '2', "QUIT");
    ::close(fd);
    return std::chrono::duration<double>(t1 - t0).count();
}

std::string MessageText()
{
    std::string text = "From: bench@example.org\r\nTo: sink@example.net\r\nSubject: bench\r\n\r\n";
    std::string line(76, 'a');
    for (size_t i = 0; i < line.size(); ++i)
        line[i] = static_cast<char>('A' + i % 26);
    line += "\r\n";
    while (text.size() + line.size() <= kMessageSize - 3)
        text += line;
    text.append(kMessageSize - 3 - text.size(), 'z');
    text += "\r\n.\r\n";
    return text;
}

void SeedAccount(const char* name, const char* email, int port)
{
    std::string key = std::string("Software\\Microsoft\\Internet Account Manager\\Accounts\\") + name;
    platform::HKEY k = nullptr;
    if (platform::RegCreateKeyEx(platform::HKEY_CURRENT_USER, key.c_str(), &k) != platform::ERROR_SUCCESS)
        Fail("registry");
    auto text = [&](const char* name, const char* value) {
        platform::RegSetValueEx(k, name, platform::REG_SZ, reinterpret_cast<const unsigned char*>(value),
                                static_cast<platform::DWORD>(std::strlen(value) + 1));
    };
    text("POP3 USER Name", "bench");
    text("SMTP Email Address", email);
    text("SMTP SERVER", "127.0.0.1");
    platform::DWORD p = static_cast<platform::DWORD>(port);
    platform::RegSetValueEx(k, "SMTP Port", platform::REG_DWORD, reinterpret_cast<const unsigned char*>(&p), 4);
    platform::RegCloseKey(k);
    orvanta::BuildSmtpAccountTable();
}

// aiosmtpd in a process of its own, on a port picked here; false when it does not come up.
struct PythonSmtp {
    pid_t pid = -1;
    int port = 0;

    bool Start(const std::string& dir)
    {
        if (::access("/usr/bin/python3", X_OK) != 0)
            return false;
        std::string script = dir + "/sink.py";
        std::ofstream(script) << "import signal, sys\n"
                                 "from aiosmtpd.controller import Controller\n"
                                 "class Handler:\n"
                                 "    async def handle_DATA(self, server, session, envelope):\n"
                                 "        return '250 accepted'\n"
                                 "Controller(Handler(), hostname='127.0.0.1', port=int(sys.argv[1])).start()\n"
                                 "signal.pause()\n";
        port = FreePort();
        std::string portText = std::to_string(port);
        const char* argv[] = {"/usr/bin/python3", script.c_str(), portText.c_str(), nullptr};
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
            return false;
        for (int i = 0; i < 200; ++i) {
            int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(static_cast<uint16_t>(port));
            bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            ::close(fd);
            if (up)
                return true;
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    void Stop()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            int status = 0;
            ::waitpid(pid, &status, 0);
            pid = -1;
        }
    }
};

void Measure(const char* peer, int peerPort, int proxyPort, const std::string& text, const std::string& sender,
             int runs)
{
    Send(peerPort, text, sender);  // warm-up of both paths
    Send(proxyPort, text, sender);
    double direct = 1e9, proxied = 1e9;
    for (int run = 0; run < runs; ++run) {
        direct = std::min(direct, Send(peerPort, text, sender));
        proxied = std::min(proxied, Send(proxyPort, text, sender));
    }
    double ratio = proxied / direct;
    std::printf("%-9s %d messages of %zu bytes, one session: straight %8.1f ms  through the proxy %8.1f ms  "
                "ratio %.3f  target ratio <= 1.20: %s\n",
                peer, kMessages, text.size() - 3, direct * 1000, proxied * 1000, ratio,
                ratio <= 1.20 ? "met" : "MISSED");
}

}  // namespace

int main()
{
    std::signal(SIGPIPE, SIG_IGN);
    char dir[] = "/tmp/bench-smtp-XXXXXX";
    if (!mkdtemp(dir))
        Fail("mkdtemp");
    std::string registry = std::string(dir) + "/registry.db";
    setenv("ORVANTA_REGISTRY", registry.c_str(), 1);

    Sink sink;
    SeedAccount("00000001", "bench@example.org", sink.port());
    PythonSmtp python;
    bool havePython = python.Start(dir);
    if (havePython)
        SeedAccount("00000002", "python@example.org", python.port);
    CSmtpProxy proxy(nullptr);
    int proxyPort = FreePort();
    if (!proxy.Start("localhost", proxyPort))
        Fail("the proxy does not start");

    std::string text = MessageText();
    Measure("C++ sink", sink.port(), proxyPort, text, "bench@example.org", 5);
    size_t expected = static_cast<size_t>(12) * kMessages * text.size();
    if (sink.received() != expected)
        Fail("the sink received " + std::to_string(sink.received()) + " bytes, not " + std::to_string(expected));
    if (havePython)
        Measure("aiosmtpd", python.port, proxyPort, text, "python@example.org", 3);
    else
        std::printf("aiosmtpd  not measured: /usr/bin/python3 has no aiosmtpd\n");
    std::printf("(the sink does no work at all: against it the proxy's extra loopback hop per command and its\n"
                " copy of the text are the whole difference, the floor of any relay in a process of its own)\n");

    proxy.Terminate();
    python.Stop();
    fs::remove_all(dir);
    return 0;
}
