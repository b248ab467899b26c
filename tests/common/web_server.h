#pragma once

// A real web server for the tests of the HTTP client and of what uses it: tests/common/http_peer.py
// serving a directory of the test's own on a loopback socket the test opens, over TLS when
// given certificates. Besides plain files it has /short/NAME (stops halfway through) and
// /slow/NAME (pieces with pauses); every request goes to its log.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace testweb {

inline std::string Slurp(const std::filesystem::path& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// A TCP socket bound to `address` on a port the kernel picked; listening when asked
// (otherwise a connection to it is refused for as long as it is held). -1 on failure.
inline int BoundSocket(const char* address, bool listening, int* port)
{
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, address, &a.sin_addr);
    socklen_t len = sizeof a;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || (listening && ::listen(s, 16) != 0) ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(s);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return s;
}

// The server runs until the object is destroyed. The socket listens before the server starts,
// and the constructor waits (at most 30 s) until the server says it is ready.
class WebServer {
public:
    WebServer(const std::filesystem::path& root, const std::filesystem::path& log, const char* address = "127.0.0.1",
              const std::filesystem::path& pki = {})
        : m_log(log)
    {
        int port = 0, out[2];
        int listener = BoundSocket(address, true, &port);
        if (listener < 0)
            return;
        if (::pipe(out) != 0) {
            ::close(listener);
            return;
        }
        m_base = std::string(pki.empty() ? "http" : "https") + "://" + address + ":" + std::to_string(port);
        std::string script = std::string(ORVANTA_SOURCE_DIR) + "/tests/common/http_peer.py";
        std::string fd = std::to_string(listener), rootText = root.string(), logText = log.string(),
                    pkiText = pki.string();
        std::vector<const char*> argv{"/usr/bin/python3", script.c_str(), fd.c_str(), rootText.c_str(),
                                      logText.c_str()};
        if (!pki.empty())
            argv.push_back(pkiText.c_str());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, const_cast<char**>(argv.data()), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(listener);  // the server's copy alone keeps the port open
        std::string said;
        pollfd p{out[0], POLLIN, 0};
        char buf[64];
        ssize_t n;
        while (m_pid > 0 && said.find("READY\n") == std::string::npos && ::poll(&p, 1, 30000) > 0 &&
               (n = ::read(out[0], buf, sizeof buf)) > 0)
            said.append(buf, static_cast<size_t>(n));
        ::close(out[0]);
        m_ready = said.find("READY\n") != std::string::npos;
    }
    ~WebServer()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    bool ready() const { return m_ready; }
    std::string Url(const std::string& path) const { return m_base + path; }
    std::string Log() const { return Slurp(m_log); }
    // Whether `text` shows up in the log within 5 s.
    bool WaitLog(const std::string& text) const
    {
        for (int i = 0; i < 100 && Log().find(text) == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return Log().find(text) != std::string::npos;
    }
    // How many requests for `path` the server got.
    int Requests(const std::string& path) const
    {
        std::string log = Log(), line = "GET " + path + " ";
        int count = 0;
        for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1))
            ++count;
        return count;
    }

private:
    std::filesystem::path m_log;
    std::string m_base;
    pid_t m_pid = -1;
    bool m_ready = false;
};

}  // namespace testweb
