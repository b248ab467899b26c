// A whole SMTP proxy session. The input is the mail client's stream, a NUL, and what the real
// server answers: the client's side arrives over a socket pair, the server is a thread on a
// loopback port that sends its part and reads what the proxy relays. Both the command and text
// reading and the reading of the server's replies (multi-line, cut, broken, an offered
// STARTTLS) are exercised the way a session meets them.
#include <arpa/inet.h>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "common/client_socket.h"
#include "orvanta/accounts/smtp_accounts.h"
#include "orvanta/core/settings.h"
#include "orvanta/proxy/smtp_proxy.h"
#include "platform/registry.h"

using orvanta::IntSetting;
using orvanta::StringSetting;

namespace {

// The session is protected: the proxy normally runs it on its listener thread.
class SessionProxy : public CSmtpProxy {
public:
    SessionProxy() : CSmtpProxy(nullptr) {}
    void Serve(CClientSocket& client, int fd) { Session(client, fd); }
};

void WriteAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        data.remove_prefix(static_cast<size_t>(n));
    }
}

void Drain(int fd)
{
    char buffer[4096];
    while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
}

// The real server: every connection gets the current script, then is read to its end.
class ScriptedServer {
public:
    ScriptedServer()
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listener_, 4) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            abort();
        port_ = ntohs(a.sin_port);
        std::thread([this] { Run(); }).detach();  // lives as long as the process
    }
    int Port() const { return port_; }
    void SetScript(std::string_view script)
    {
        std::lock_guard guard(lock_);
        script_.assign(script);
    }

private:
    void Run()
    {
        for (;;) {
            int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0)
                continue;
            std::string script;
            {
                std::lock_guard guard(lock_);
                script = script_;
            }
            WriteAll(fd, script);
            ::shutdown(fd, SHUT_WR);
            Drain(fd);
            ::close(fd);
        }
    }

    int listener_ = -1;
    int port_ = 0;
    std::mutex lock_;
    std::string script_;
};

ScriptedServer* g_server = nullptr;
std::string g_registry;

void Account(const char* key, const char* email, int port)
{
    std::string path = std::string("Software\\Microsoft\\Internet Account Manager\\Accounts\\") + key;
    platform::HKEY k = nullptr;
    if (platform::RegCreateKeyEx(platform::HKEY_CURRENT_USER, path.c_str(), &k) != platform::ERROR_SUCCESS)
        abort();
    auto text = [&](const char* name, const char* value) {
        platform::RegSetValueEx(k, name, platform::REG_SZ, reinterpret_cast<const unsigned char*>(value),
                                static_cast<platform::DWORD>(std::strlen(value) + 1));
    };
    text("POP3 USER Name", "user");
    text("SMTP Email Address", email);
    text("SMTP SERVER", "127.0.0.1");
    platform::DWORD p = static_cast<platform::DWORD>(port);
    platform::RegSetValueEx(k, "SMTP Port", platform::REG_DWORD, reinterpret_cast<const unsigned char*>(&p), 4);
    platform::RegCloseKey(k);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    signal(SIGPIPE, SIG_IGN);
    std::filesystem::path base =
        std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    g_registry = (base / ("orvanta-fuzz-smtp-" + std::to_string(::getpid()) + ".db")).string();
    std::filesystem::remove(g_registry);
    setenv("ORVANTA_REGISTRY", g_registry.c_str(), 1);
    std::atexit([] { std::filesystem::remove(g_registry); });
    orvanta::ResetSettings();
    g_server = new ScriptedServer;
    Account("00000001", "kim@example.org", g_server->Port());
    orvanta::BuildSmtpAccountTable();
    orvanta::SetSetting(IntSetting::ServerConnectSeconds, 5);
    orvanta::SetSetting(IntSetting::ServerReplySeconds, 5);
    orvanta::SetSetting(IntSetting::TlsRequired, 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t nul = input.find('\0');
    std::string_view client = input.substr(0, nul);
    g_server->SetScript(nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1));
    // The EHLO way goes to the chosen server; a session without mail clears the choice.
    orvanta::SetSetting(IntSetting::SelectSmtpAlways, 1);
    orvanta::SetSetting(StringSetting::SelectSmtpServer, "127.0.0.1");
    orvanta::SetSetting(IntSetting::SelectSmtpPort, g_server->Port());

    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0)
        abort();
    // The client's whole stream is sent before the session starts; what the proxy answers
    // is read by a thread so that neither side can fill the other's buffer.
    std::thread reader([fd = pair[0]] { Drain(fd); });
    std::thread writer([fd = pair[0], client] {
        WriteAll(fd, client);
        ::shutdown(fd, SHUT_WR);
    });
    {
        static SessionProxy proxy;
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        CClientSocket socket(pair[1], peer, 65536);
        proxy.Serve(socket, pair[1]);
    }
    writer.join();
    reader.join();
    ::close(pair[0]);
    return 0;
}
