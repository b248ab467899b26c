#include "orvanta/proxy/proxy_base.h"

#include <chrono>

#include "common/client_socket.h"
#include "components/toolwick/debug.h"
#include "orvanta/core/log.h"
#include "orvanta/core/texts.h"
#include "platform/codepage.h"

using orvanta::text::Id;
namespace text = orvanta::text;

CProxyBase::CProxyBase(platform::HWND mainWindow) : mainWindow_(mainWindow) {}

CProxyBase::~CProxyBase()
{
    // Derived classes call Terminate() in their destructors, while their members still
    // exist; this only catches a thread that was left behind.
    if (thread_.joinable())
        thread_.join();
}

void CProxyBase::Log(const std::string& cp949) const
{
    orvanta::LogText(cp949);
    CDebug::Report(debug_.load(), cp949.c_str());
}

void CProxyBase::LogUtf8(const std::string& utf8) const
{
    orvanta::LogUtf8(utf8);
    if (CDebug* listener = debug_.load())
        CDebug::Report(listener, platform::Utf8ToCp949(utf8).c_str());
}

bool CProxyBase::InitSockets()
{
    running_.store(false);
    return true;
}

bool CProxyBase::Start(const char* host, int port)
{
    lastListenResult_ = 0;
    if (running_.load()) {
        Log(text::Get(Id::ServerAlreadyRunning));
        return false;
    }
    // A listener thread of an earlier run may still be finishing its last session after a
    // Stop(); two listener threads must never share the proxy.
    if (thread_.joinable()) {
        if (!WaitListener(10000)) {
            Log(text::Get(Id::ServerAlreadyRunning));
            return false;
        }
        thread_.join();
    }
    int result = listener_.Listen(host, port);
    if (result != ListenResult::Listening) {
        lastListenResult_ = result;
        Log(text::Get(result == ListenResult::NoSocket     ? Id::SocketCreateFailed
                      : result == ListenResult::BindFailed ? Id::BindFailed
                                                           : Id::ListenFailed));
        return false;
    }
    {
        std::lock_guard guard(threadLock_);
        threadDone_ = false;
    }
    try {
        thread_ = std::thread(&CProxyBase::ListenerThread, this);
    } catch (const std::system_error&) {
        {
            std::lock_guard guard(threadLock_);
            threadDone_ = true;
        }
        Log(text::Get(Id::WaitThreadFailed));
        listener_.Close();
        return false;
    }
    running_.store(true);
    Log(text::Get(Id::ServerStarted));
    return true;
}

void CProxyBase::Stop()
{
    if (!running_.exchange(false))
        return;
    listener_.Close();
    Log(text::Get(Id::ServerStopped));
}

bool CProxyBase::WaitListener(int ms)
{
    std::unique_lock guard(threadLock_);
    return threadEnded_.wait_for(guard, std::chrono::milliseconds(ms), [this] { return threadDone_; });
}

bool CProxyBase::StopAndWait()
{
    Stop();
    if (!thread_.joinable())
        return true;
    if (!WaitListener(10000))
        return false;
    thread_.join();
    return true;
}

void CProxyBase::Terminate()
{
    Stop();
    listener_.Close();
    if (!thread_.joinable())
        return;
    while (!WaitListener(100))
        AbortSession();
    thread_.join();
}

void CProxyBase::ListenerThread()
{
    for (;;) {
        client_.reset();
        int clientSocket = -1;
        std::unique_ptr<CClientSocket> client = listener_.Accept(&clientSocket);
        if (!client) {
            Stop();
            break;
        }
        client_ = std::move(client);
        serving_.store(true);
        Session(*client_, clientSocket);
        serving_.store(false);
    }
    client_.reset();
    std::lock_guard guard(threadLock_);
    threadDone_ = true;
    threadEnded_.notify_all();
}
