// A scripted TCP peer on 127.0.0.1 for socket tests: the test gives a function that plays
// the other side of one connection; it runs on its own thread and is joined on destruction.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

namespace testing_peer {

// One accepted connection as the script sees it. Every wait is bounded.
class Peer {
public:
    explicit Peer(int fd) : fd_(fd) {}
    ~Peer() { Close(); }

    void Send(const std::string& data)
    {
        size_t done = 0;
        while (done < data.size()) {
            ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            done += static_cast<size_t>(n);
        }
    }
    // Sends, then pauses so the next Send arrives in a receive of its own.
    void SendAndPause(const std::string& data, int ms = 50)
    {
        Send(data);
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }

    // The next line without its CR LF; empty with ok=false when the connection ended or
    // nothing came within the time-out.
    std::string RecvLine(bool* ok = nullptr, int timeoutMs = 5000)
    {
        std::string line;
        for (;;) {
            size_t lf = pending_.find('\n');
            if (lf != std::string::npos) {
                line = pending_.substr(0, lf);
                pending_.erase(0, lf + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                if (ok)
                    *ok = true;
                return line;
            }
            if (!Fill(timeoutMs)) {
                if (ok)
                    *ok = false;
                return std::string();
            }
        }
    }

    // The bytes up to and including the first `marker`, exactly as sent; empty with ok=false
    // when the connection ended or nothing came within the time-out.
    std::string RecvUntil(const std::string& marker, bool* ok = nullptr, int timeoutMs = 5000)
    {
        for (;;) {
            size_t at = pending_.find(marker);
            if (at != std::string::npos) {
                std::string out = pending_.substr(0, at + marker.size());
                pending_.erase(0, at + marker.size());
                if (ok)
                    *ok = true;
                return out;
            }
            if (!Fill(timeoutMs)) {
                if (ok)
                    *ok = false;
                return std::string();
            }
        }
    }

    // Everything until the peer closes (bounded by the time-out).
    std::string RecvAll(int timeoutMs = 5000)
    {
        while (Fill(timeoutMs)) {
        }
        std::string out;
        out.swap(pending_);
        return out;
    }

    void Close()
    {
        if (fd_ >= 0) {
            ::shutdown(fd_, SHUT_RDWR);
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    bool Fill(int timeoutMs)
    {
        if (fd_ < 0)
            return false;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return false;
        char buf[65536];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        pending_.append(buf, static_cast<size_t>(n));
        return true;
    }

    int fd_;
    std::string pending_;
};

class LoopbackServer {
public:
    LoopbackServer()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd_, 8) != 0)
            throw std::runtime_error("loopback server: bind/listen failed");
        socklen_t len = sizeof addr;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~LoopbackServer()
    {
        Join();
        ::close(fd_);
    }

    int port() const { return port_; }

    // Accepts one connection (waiting at most 5 s) and plays `script` on it in a thread.
    void Serve(std::function<void(Peer&)> script)
    {
        Join();
        thread_ = std::thread([this, script = std::move(script)] {
            int c = AcceptOne(5000);
            if (c < 0)
                return;
            Peer peer(c);
            script(peer);
        });
    }

    // Accepts one connection on the calling thread: the socket, or -1 after the time-out.
    int AcceptOne(int timeoutMs, sockaddr_in* peer = nullptr)
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return -1;
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        int c = ::accept(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        if (peer)
            *peer = addr;
        return c;
    }

    void Join()
    {
        if (thread_.joinable())
            thread_.join();
    }

private:
    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
};

}  // namespace testing_peer
