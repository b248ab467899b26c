#include "platform/window.h"

#include <atomic>
#include <barrier>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/window_remote.h"

extern char** environ;

using namespace platform;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr UINT kAdd = WM_USER + 1;  // the peer answers wParam*1000+lParam

// A dead-lock must fail the run, not hang it: ends the process when not disarmed in time.
class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds limit)
        : thread_([this, limit] {
              std::unique_lock<std::mutex> lock(m_);
              if (!cv_.wait_for(lock, limit, [this] { return done_; })) {
                  std::fprintf(stderr, "dead-lock: the test did not finish within %lld s\n",
                               static_cast<long long>(limit.count()));
                  std::_Exit(1);
              }
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(m_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

// The window peer program, with its standard output read line by line.
class Peer {
public:
    explicit Peer(const std::vector<std::string>& args)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::vector<std::string> all = {WINDOW_PEER};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, WINDOW_PEER, &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
    }
    ~Peer()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            Wait();
        }
        if (out_ >= 0)
            close(out_);
    }
    // The next line, or "" after `limit`.
    std::string Line(std::chrono::milliseconds limit = 10s)
    {
        auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            auto nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return line;
            }
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return "";
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return "";
            char chunk[256];
            ssize_t n = read(out_, chunk, sizeof(chunk));
            if (n <= 0)
                return "";
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }
    void Kill()
    {
        kill(pid_, SIGKILL);
        Wait();
    }
    int Wait()
    {
        int status = 0;
        if (pid_ > 0)
            waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }
    bool started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffer_;
};

// Each test gets a runtime directory of its own, so titles never meet other runs.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char templ[] = "/tmp/orvanta-wintest-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        runtime_ = templ;
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        if (old)
            oldRuntime_ = old;
        hadRuntime_ = old != nullptr;
        setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
    }
    void TearDown() override
    {
        if (hadRuntime_)
            setenv("XDG_RUNTIME_DIR", oldRuntime_.c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
        std::error_code ec;
        fs::remove_all(runtime_, ec);
    }
    fs::path SocketPath(const std::string& title) const
    {
        return fs::path(runtime_) / "orvanta" / detail::SocketFileName(title);
    }

    std::string runtime_;
    std::string oldRuntime_;
    bool hadRuntime_ = false;
};

// A window on a thread of its own running the loop until WM_QUIT is posted.
class LoopThread {
public:
    LoopThread(const std::string& title, WindowProc proc)
    {
        std::promise<HWND> created;
        auto future = created.get_future();
        thread_ = std::thread([&created, title, proc] {
            HWND w = CreateWindow(title, proc);
            created.set_value(w);
            if (!w)
                return;
            RunMessageLoop();
            DestroyWindow(w);
        });
        window_ = future.get();
        id_ = thread_.get_id();
    }
    ~LoopThread() { Stop(); }
    void Stop()
    {
        if (!thread_.joinable())
            return;
        if (window_)
            PostMessage(window_, WM_QUIT, 0, 0);
        thread_.join();
    }
    HWND window() const { return window_; }
    std::thread::id id() const { return id_; }

private:
    std::thread thread_;
    HWND window_ = nullptr;
    std::thread::id id_;
};

}  // namespace

TEST_F(WindowTest, SendMessageFromAnotherThreadRunsOnTheOwnerAndReturnsItsResult)
{
    std::thread::id handledOn;
    LoopThread owner("", [&](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        if (m != kAdd)
            return 0;
        handledOn = std::this_thread::get_id();
        return static_cast<LRESULT>(w) * 10 + l;
    });
    ASSERT_NE(owner.window(), nullptr);
    EXPECT_EQ(SendMessage(owner.window(), kAdd, 4, 2), 42);
    EXPECT_EQ(handledOn, owner.id());
    EXPECT_NE(handledOn, std::this_thread::get_id());
    // Many senders at once each get their own answer.
    {
        Watchdog dog(20s);
        std::vector<std::thread> senders;
        std::atomic<int> wrong{0};
        for (int t = 0; t < 4; ++t)
            senders.emplace_back([&, t] {
                for (int i = 0; i < 200; ++i)
                    if (SendMessage(owner.window(), kAdd, t, i) != t * 10 + i)
                        ++wrong;
            });
        for (auto& s : senders)
            s.join();
        EXPECT_EQ(wrong.load(), 0);
    }
}

TEST_F(WindowTest, SendingToOwnWindowCallsTheProcedureDirectly)
{
    int depth = 0;
    HWND w = CreateWindow("", [&](HWND self, UINT m, WPARAM wp, LPARAM) -> LRESULT {
        if (m != kAdd)
            return 0;
        ++depth;
        // No loop runs on this thread: the nested send must not wait for one.
        return wp == 0 ? 1 : 2 * SendMessage(self, kAdd, wp - 1, 0);
    });
    ASSERT_NE(w, nullptr);
    Watchdog dog(10s);
    EXPECT_EQ(SendMessage(w, kAdd, 5, 0), 32);
    EXPECT_EQ(depth, 6);
    DestroyWindow(w);
}

TEST_F(WindowTest, TwoThreadsSendingToEachOtherDoNotDeadLock)
{
    Watchdog dog(30s);
    {
        std::atomic<HWND> windows[2] = {nullptr, nullptr};
        std::barrier sync(2);
        std::atomic<int> wrong{0};
        std::atomic<bool> done[2] = {false, false};
        auto body = [&](int me) {
            HWND mine = CreateWindow("", [&, me](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
                if (m == kAdd)
                    return static_cast<LRESULT>(w) + me * 1000;
                // A nested send back to the other thread, while that thread waits for us.
                if (m == kAdd + 1)
                    return SendMessage(windows[1 - me].load(), kAdd, w, l) + 1;
                return 0;
            });
            windows[me] = mine;
            sync.arrive_and_wait();
            HWND other = windows[1 - me];
            // Both send at the same time, each while the other waits in a send to it.
            for (int i = 0; i < 300; ++i) {
                if (SendMessage(other, kAdd, i, 0) != i + (1 - me) * 1000)
                    ++wrong;
                if (SendMessage(other, kAdd + 1, i, 0) != i + me * 1000 + 1)
                    ++wrong;
            }
            // Keep answering until the other thread is done too.
            done[me] = true;
            while (!done[1 - me]) {
                ProcessPendingMessages();
                std::this_thread::sleep_for(1ms);
            }
            sync.arrive_and_wait();
            DestroyWindow(mine);
        };
        std::thread a(body, 0), b(body, 1);
        a.join();
        b.join();
        EXPECT_EQ(wrong.load(), 0);
    }
}

TEST_F(WindowTest, PostedMessagesArriveInOrderAndWmQuitEndsTheLoop)
{
    std::vector<int> seen;
    HWND w = CreateWindow("", [&](HWND, UINT m, WPARAM wp, LPARAM) -> LRESULT {
        if (m == kAdd)
            seen.push_back(static_cast<int>(wp));
        return 0;
    });
    ASSERT_NE(w, nullptr);
    std::thread poster([w] {
        for (int i = 0; i < 500; ++i)
            ASSERT_TRUE(PostMessage(w, kAdd, i, 0));
        PostMessage(w, WM_QUIT, 7, 0);
        PostMessage(w, kAdd, 9999, 0);  // after the quit: left queued
    });
    Watchdog dog(10s);
    int code = RunMessageLoop();
    poster.join();
    EXPECT_EQ(code, 7);
    ASSERT_EQ(seen.size(), 500u);
    for (int i = 0; i < 500; ++i)
        ASSERT_EQ(seen[i], i);
    EXPECT_TRUE(ProcessPendingMessages());
    EXPECT_EQ(seen.back(), 9999);
    DestroyWindow(w);
}

TEST_F(WindowTest, PostQuitMessageEndsTheLoopAfterWhatWasPostedBefore)
{
    std::vector<int> seen;
    HWND w = CreateWindow("", [&](HWND self, UINT m, WPARAM wp, LPARAM) -> LRESULT {
        if (m != kAdd)
            return 0;
        seen.push_back(static_cast<int>(wp));
        if (wp == 1) {
            PostMessage(self, kAdd, 2, 0);
            PostQuitMessage(3);
            PostMessage(self, kAdd, 4, 0);
        }
        return 0;
    });
    PostMessage(w, kAdd, 1, 0);
    Watchdog dog(10s);
    int code = RunMessageLoop();
    EXPECT_EQ(code, 3);
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));
    // The message posted after the request stays queued for the next loop.
    EXPECT_TRUE(ProcessPendingMessages());
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 4}));
    // A GUI loop learns of the quit from ProcessPendingMessages.
    PostQuitMessage(11);
    int exitCode = 0;
    EXPECT_FALSE(ProcessPendingMessages(&exitCode));
    EXPECT_EQ(exitCode, 11);
    EXPECT_TRUE(ProcessPendingMessages());
    DestroyWindow(w);
}

TEST_F(WindowTest, TimersTickUntilKilled)
{
    int ticks = 0, otherTicks = 0;
    HWND w = CreateWindow("", [&](HWND self, UINT m, WPARAM id, LPARAM) -> LRESULT {
        if (m != WM_TIMER)
            return 0;
        if (id == 100) {
            if (++ticks == 5) {
                EXPECT_TRUE(KillTimer(self, 100));
                SetTimer(self, 300, 200);  // ends the test later
            }
        } else if (id == 200) {
            ++otherTicks;
        } else if (id == 300) {
            PostQuitMessage(0);
        }
        return 0;
    });
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(SetTimer(w, 100, 20), 100u);
    EXPECT_EQ(SetTimer(w, 200, 1000000), 200u);  // never due during the test
    Watchdog dog(10s);
    RunMessageLoop();
    EXPECT_EQ(ticks, 5);  // no tick after KillTimer, though 200 ms passed
    EXPECT_EQ(otherTicks, 0);
    EXPECT_FALSE(KillTimer(w, 100));
    EXPECT_TRUE(KillTimer(w, 200));
    EXPECT_EQ(SetTimer(w, 0, 10), 0u);
    EXPECT_EQ(SetTimer(nullptr, 5, 10), 0u);
    DestroyWindow(w);
    EXPECT_EQ(SetTimer(w, 5, 10), 0u);
    EXPECT_FALSE(KillTimer(w, 300));
}

TEST_F(WindowTest, WakeupHookLetsAnotherLoopDriveTheWindows)
{
    std::mutex m;
    std::condition_variable cv;
    int wakes = 0;
    SetWakeupHook([&] {
        std::lock_guard<std::mutex> g(m);
        ++wakes;
        cv.notify_all();
    });
    int ticks = 0;
    std::atomic<LRESULT> sentResult{0};
    HWND w = CreateWindow("", [&](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
        if (msg == WM_TIMER)
            ++ticks;
        return msg == kAdd ? 77 : 0;
    });
    SetTimer(w, 1, 10);
    std::thread sender([&] { sentResult = SendMessage(w, kAdd, 0, 0); });
    // Stand-in for a GUI loop: sleep until woken, then dispatch.
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while ((ticks < 3 || sentResult != 77) && std::chrono::steady_clock::now() < deadline) {
        {
            std::unique_lock<std::mutex> g(m);
            cv.wait_for(g, 100ms, [&] { return wakes > 0; });
            wakes = 0;
        }
        EXPECT_TRUE(ProcessPendingMessages());
    }
    sender.join();
    EXPECT_GE(ticks, 3);
    EXPECT_EQ(sentResult, 77);
    SetWakeupHook(nullptr);
    DestroyWindow(w);
}

TEST_F(WindowTest, DestroyingAWindowReleasesWaitingSenders)
{
    HWND w = CreateWindow("", [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 1; });
    ASSERT_NE(w, nullptr);
    // This thread runs no loop, so a send from elsewhere waits until the window goes.
    LRESULT result = -1;
    std::thread sender([&] { result = SendMessage(w, kAdd, 0, 0); });
    LRESULT timed = -1;
    auto start = std::chrono::steady_clock::now();
    std::thread timedSender([&] { EXPECT_FALSE(SendMessageTimeout(w, kAdd, 0, 0, 100, &timed)); });
    timedSender.join();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 90ms);
    std::this_thread::sleep_for(50ms);
    DestroyWindow(w);
    {
        Watchdog dog(10s);
        sender.join();
    }
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(IsWindow(w));
    EXPECT_FALSE(PostMessage(w, kAdd, 0, 0));
    EXPECT_EQ(SendMessage(w, kAdd, 0, 0), 0);
    EXPECT_TRUE(ProcessPendingMessages());  // nothing is left to call the procedure
    EXPECT_EQ(SendMessage(nullptr, kAdd, 0, 0), 0);
    EXPECT_FALSE(IsWindow(nullptr));
}

TEST_F(WindowTest, WindowsGoWithTheirThread)
{
    HWND w = nullptr;
    std::thread([&] {
        w = CreateWindow("Ends With Its Thread", [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    }).join();
    ASSERT_NE(w, nullptr);
    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(FindWindow("Ends With Its Thread"), nullptr);
    EXPECT_FALSE(fs::exists(SocketPath("Ends With Its Thread")));
    HWND again = CreateWindow("Ends With Its Thread", [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    EXPECT_NE(again, nullptr);
    DestroyWindow(again);
}

TEST_F(WindowTest, TitlesAreRegisteredOncePerUser)
{
    auto proc = [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; };
    HWND w = CreateWindow("Orvanta Zidevoz", proc);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(FindWindow("Orvanta Zidevoz"), w);
    EXPECT_EQ(FindWindow("ORVANTA zidevoz"), w);  // ASCII case does not matter
    EXPECT_EQ(FindWindow("Orvanta"), nullptr);
    EXPECT_EQ(FindWindow(""), nullptr);
    EXPECT_EQ(CreateWindow("orvanta zidevoz", proc), nullptr);

    fs::path dir = fs::path(runtime_) / "orvanta";
    struct stat st {};
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(detail::SocketFileName("Orvanta Zidevoz"), "w-orvanta%20zidevoz");
    EXPECT_TRUE(fs::is_socket(SocketPath("Orvanta Zidevoz")));

    // Untitled windows are private: they never clash and are never found.
    HWND a = CreateWindow("", proc), b = CreateWindow("", proc);
    EXPECT_NE(a, nullptr);
    EXPECT_NE(b, nullptr);
    EXPECT_NE(a, b);

    DestroyWindow(w);
    EXPECT_FALSE(fs::exists(SocketPath("Orvanta Zidevoz")));
    EXPECT_EQ(FindWindow("Orvanta Zidevoz"), nullptr);
    HWND again = CreateWindow("Orvanta Zidevoz", proc);
    EXPECT_NE(again, nullptr);
    EXPECT_NE(again, w);  // handles are not reused
    DestroyWindow(again);
    DestroyWindow(a);
    DestroyWindow(b);
}

TEST_F(WindowTest, AnyTitleBytesGiveSafeShortSocketNames)
{
    // CP949 for a Korean title, bytes that are special in paths, and a long title.
    const std::string korean = "\xBF\xC0\xB9\xD9\xC5\xB8 \xBC\xAD\xB9\xF6";
    const std::string tricky = std::string("../a/b\n\0c%.", 11);
    const std::string longTitle(300, 'x');
    for (const std::string& title : {korean, tricky, longTitle, std::string("."), std::string("..")}) {
        std::string name = detail::SocketFileName(title);
        EXPECT_EQ(name.find('/'), std::string::npos);
        EXPECT_NE(name[0], '.');
        EXPECT_LE(name.size(), 64u);
        for (char c : name)
            EXPECT_TRUE(c > ' ' && c < 0x7f) << title;
    }
    EXPECT_NE(detail::SocketFileName(std::string(300, 'x')), detail::SocketFileName(std::string(301, 'x')));
    EXPECT_NE(detail::SocketFileName("a b"), detail::SocketFileName("a%20b"));

    auto proc = [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; };
    for (const std::string& title : {korean, tricky, longTitle}) {
        HWND w = CreateWindow(title, proc);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(fs::is_socket(SocketPath(title)));
        EXPECT_EQ(CreateWindow(title, proc), nullptr);
        DestroyWindow(w);
    }
}

TEST_F(WindowTest, FindAndMessageAWindowOfAnotherProcess)
{
    Peer peer({"serve", "Orvanta Zidevoz"});
    ASSERT_TRUE(peer.started());
    ASSERT_EQ(peer.Line(), "READY");
    HWND remote = FindWindow("Orvanta Zidevoz");
    ASSERT_NE(remote, nullptr);
    EXPECT_TRUE(IsWindow(remote));
    EXPECT_EQ(FindWindow("orvanta zidevoz"), remote);
    EXPECT_EQ(SendMessage(remote, kAdd, 4, 2), 4002);
    EXPECT_EQ(SendMessage(remote, kAdd, 0, -7), -7);
    // The single instance's "show yourself".
    EXPECT_TRUE(PostMessage(remote, WM_USER + 100, 0, 513));
    EXPECT_EQ(peer.Line(), "SHOW");
    EXPECT_TRUE(PostMessage(remote, 3024, 1, 2));
    EXPECT_EQ(peer.Line(), "MSG 3024 1 2");
    // Its title is taken in this process too.
    EXPECT_EQ(CreateWindow("Orvanta Zidevoz", [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; }), nullptr);
    // The quit request.
    EXPECT_EQ(SendMessage(remote, 1006, 0, 0), 1006);
    EXPECT_EQ(peer.Line(), "QUIT");
    EXPECT_EQ(peer.Line(), "EXIT 5");
    peer.Wait();
    EXPECT_FALSE(IsWindow(remote));
    EXPECT_EQ(SendMessage(remote, kAdd, 1, 1), 0);
    EXPECT_FALSE(PostMessage(remote, kAdd, 1, 1));
    EXPECT_EQ(FindWindow("Orvanta Zidevoz"), nullptr);
    EXPECT_FALSE(fs::exists(SocketPath("Orvanta Zidevoz")));
}

TEST_F(WindowTest, AnotherProcessMessagesOurWindow)
{
    std::atomic<std::thread::id> handledOn{};
    std::atomic<int> posted{0};
    LoopThread owner("Orvanta Zidevoz", [&](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        if (m == kAdd) {
            handledOn = std::this_thread::get_id();
            return static_cast<LRESULT>(w) * 3 + l;
        }
        if (m == kAdd + 1)
            posted = static_cast<int>(w);
        return 0;
    });
    ASSERT_NE(owner.window(), nullptr);
    {
        Peer sender({"send", "Orvanta Zidevoz", std::to_string(kAdd), "5", "6"});
        EXPECT_EQ(sender.Line(), "RESULT 21");
    }
    EXPECT_EQ(handledOn.load(), owner.id());
    {
        Peer poster({"post", "Orvanta Zidevoz", std::to_string(kAdd + 1), "8", "0"});
        EXPECT_EQ(poster.Line(), "POSTED 1");
    }
    for (int i = 0; i < 500 && posted != 8; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(posted.load(), 8);
    {
        Peer duplicate({"create", "Orvanta Zidevoz"});
        EXPECT_EQ(duplicate.Line(), "REFUSED");
        Peer other({"create", "Another Title"});
        EXPECT_EQ(other.Line(), "CREATED");
        Peer missing({"send", "Nobody Here", "1025", "0", "0"});
        EXPECT_EQ(missing.Line(), "NOTFOUND");
    }
    owner.Stop();
    Peer after({"send", "Orvanta Zidevoz", std::to_string(kAdd), "5", "6"});
    EXPECT_EQ(after.Line(), "NOTFOUND");
}

TEST_F(WindowTest, TwoProcessesSendingToEachOtherDoNotDeadLock)
{
    std::thread::id handledOn;
    HWND mine = CreateWindow("Test Caller", [&](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        handledOn = std::this_thread::get_id();
        return m == kAdd ? static_cast<LRESULT>(w) * 10 + l : 0;
    });
    ASSERT_NE(mine, nullptr);
    Peer peer({"serve", "Orvanta Zidevoz", "Test Caller"});
    ASSERT_EQ(peer.Line(), "READY");
    HWND remote = FindWindow("Orvanta Zidevoz");
    ASSERT_NE(remote, nullptr);
    // This thread runs no loop: while it waits for the peer, the peer's send to this
    // thread's window must be served all the same, and well before the time-out.
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendMessage(remote, kAdd + 1, 3, 4), 35);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kRemoteSendTimeoutMs / 2));
    EXPECT_EQ(handledOn, std::this_thread::get_id());
    EXPECT_EQ(SendMessage(remote, 1006, 0, 0), 1006);
    EXPECT_EQ(peer.Line(), "QUIT");
    DestroyWindow(mine);
}

TEST_F(WindowTest, StaleSocketOfADeadProcessIsTakenOver)
{
    Peer peer({"serve", "Orvanta Zidevoz"});
    ASSERT_EQ(peer.Line(), "READY");
    HWND remote = FindWindow("Orvanta Zidevoz");
    ASSERT_NE(remote, nullptr);
    peer.Kill();
    EXPECT_TRUE(fs::exists(SocketPath("Orvanta Zidevoz")));  // left behind
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendMessage(remote, kAdd, 1, 2), 0);
    EXPECT_FALSE(PostMessage(remote, kAdd, 1, 2));
    EXPECT_FALSE(IsWindow(remote));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(FindWindow("Orvanta Zidevoz"), nullptr);

    int handled = 0;
    HWND mine = CreateWindow("Orvanta Zidevoz", [&](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return ++handled; });
    ASSERT_NE(mine, nullptr);
    // The old handle names the dead registration, not the new owner of the title.
    EXPECT_FALSE(IsWindow(remote));
    EXPECT_FALSE(PostMessage(remote, kAdd, 1, 2));
    EXPECT_EQ(FindWindow("Orvanta Zidevoz"), mine);
    Peer duplicate({"create", "Orvanta Zidevoz"});
    EXPECT_EQ(duplicate.Line(), "REFUSED");
    DestroyWindow(mine);
    EXPECT_EQ(handled, 0);

    // A plain file in the socket's place is no live window either.
    {
        std::FILE* f = std::fopen(SocketPath("Planted").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    EXPECT_EQ(FindWindow("Planted"), nullptr);
    HWND planted = CreateWindow("Planted", [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    EXPECT_NE(planted, nullptr);
    EXPECT_TRUE(fs::is_socket(SocketPath("Planted")));
    DestroyWindow(planted);
}

TEST_F(WindowTest, AHungPeerCannotBlockTheSenderForEver)
{
    Peer peer({"hang", "Hung Window"});
    ASSERT_EQ(peer.Line(), "READY");
    HWND remote = FindWindow("Hung Window");
    ASSERT_NE(remote, nullptr);  // its listener answers though its loop never runs
    auto start = std::chrono::steady_clock::now();
    LRESULT result = -1;
    EXPECT_FALSE(SendMessageTimeout(remote, kAdd, 1, 1, 300, &result));
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 250ms);
    EXPECT_LT(took, 3s);
    EXPECT_TRUE(PostMessage(remote, kAdd, 1, 1));  // queued, never handled
    EXPECT_TRUE(IsWindow(remote));
}

TEST_F(WindowTest, LongRuntimeDirectoryPathsStillWork)
{
    // Beyond the 108 bytes of a socket address.
    fs::path deep = fs::path(runtime_) / std::string(60, 'd') / std::string(60, 'e');
    fs::create_directories(deep);
    setenv("XDG_RUNTIME_DIR", deep.c_str(), 1);
    Peer peer({"serve", "Orvanta Zidevoz"});
    ASSERT_EQ(peer.Line(), "READY");
    EXPECT_TRUE(fs::is_socket(deep / "orvanta" / detail::SocketFileName("Orvanta Zidevoz")));
    HWND remote = FindWindow("Orvanta Zidevoz");
    ASSERT_NE(remote, nullptr);
    EXPECT_EQ(SendMessage(remote, kAdd, 2, 3), 2003);
    EXPECT_EQ(SendMessage(remote, 1006, 0, 0), 1006);
    EXPECT_EQ(peer.Line(), "QUIT");
}

TEST_F(WindowTest, FallsBackToTmpWithoutRuntimeDirectory)
{
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(detail::SocketDirectory(), "/tmp/orvanta-" + std::to_string(geteuid()));
    // A unique title, so a copy of the program running for this user is not disturbed.
    std::string title = "window test " + std::to_string(getpid());
    HWND w = CreateWindow(title, [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    ASSERT_NE(w, nullptr);
    struct stat st {};
    ASSERT_EQ(stat(detail::SocketDirectory().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(fs::is_socket(detail::SocketDirectory() + "/" + detail::SocketFileName(title)));
    DestroyWindow(w);
    EXPECT_FALSE(fs::exists(detail::SocketDirectory() + "/" + detail::SocketFileName(title)));
}
