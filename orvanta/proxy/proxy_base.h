#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "orvanta/proxy/proxy_listener.h"
#include "platform/window.h"

class CClientSocket;
class CDebug;

// What the POP3 and SMTP proxies share: the listening socket, the listener thread that
// serves one mail client at a time, and start/stop.
class CProxyBase {
public:
    explicit CProxyBase(platform::HWND mainWindow);
    virtual ~CProxyBase();
    CProxyBase(const CProxyBase&) = delete;
    CProxyBase& operator=(const CProxyBase&) = delete;

    // Clears the running flag; the socket layer needs no start-up here, so this succeeds.
    bool InitSockets();
    bool IsRunning() const { return running_.load(); }
    // Starts listening on `port` and the listener thread. False (with the reason logged)
    // when already running or when the port cannot be taken; LastListenResult() then gives
    // the listener's result (-10, -30, -40), or 0 for the other failures.
    bool Start(const char* host, int port);
    // Stops listening; a session in progress runs to its end.
    void Stop();
    // Stop(), then waits at most 10000 ms for the listener thread. True when it ended.
    bool StopAndWait();
    // Stop, cut the session in progress and wait for every thread (program end, tests).
    void Terminate();

    int LastListenResult() const { return lastListenResult_; }
    bool IsServing() const { return serving_.load(); }
    platform::HWND MainWindow() const { return mainWindow_; }
    // Where this proxy's log lines go besides the program's log (the debug window's tab);
    // null for none. Set before Start.
    void SetDebugListener(CDebug* listener) { debug_.store(listener); }

protected:
    // Runs one session on the listener thread. `clientSocket` is the accepted descriptor,
    // owned by `client`; it may be shut down (not closed) to interrupt a read.
    virtual void Session(CClientSocket& client, int clientSocket) = 0;
    // Interrupts the session in progress (both of its connections), for Terminate.
    virtual void AbortSession() = 0;
    void Log(const std::string& cp949) const;
    void LogUtf8(const std::string& utf8) const;

private:
    void ListenerThread();
    // Waits for the listener thread to end; false after `ms` milliseconds.
    bool WaitListener(int ms);

    platform::HWND mainWindow_;
    std::atomic<CDebug*> debug_{nullptr};
    CProxyListener listener_;
    std::atomic<bool> running_{false};
    std::atomic<bool> serving_{false};
    int lastListenResult_ = 0;

    std::unique_ptr<CClientSocket> client_;  // the current client connection
    std::thread thread_;
    std::mutex threadLock_;
    std::condition_variable threadEnded_;
    bool threadDone_ = true;
};
