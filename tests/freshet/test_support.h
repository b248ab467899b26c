#pragma once

// What the updater's tests share: a scratch directory with the environment pointed into it
// (registry, home, runtime directory, the maker's addresses), a web server, and a view that
// records what the work showed.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "freshet/updater_view.h"

extern char** environ;

namespace freshet_test {

namespace fs = std::filesystem;

inline std::string Slurp(const fs::path& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

inline void Spit(const fs::path& path, const std::string& data)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << data;
}

// tests/platform/http_peer.py (the HTTP client's test server) serving `root` on 127.0.0.1
// until destroyed. Besides plain files it has /short/NAME (stops halfway through) and
// /slow/NAME (16 KiB pieces 20 ms apart).
class WebServer {
public:
    WebServer(const fs::path& root, const fs::path& log) : m_log(log)
    {
        int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        int out[2];
        if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener, 16) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0 || ::pipe(out) != 0) {
            ::close(listener);
            return;
        }
        m_base = "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port));
        std::string script = std::string(ORVANTA_SOURCE_DIR) + "/tests/platform/http_peer.py";
        std::string fd = std::to_string(listener), rootText = root.string(), logText = log.string();
        const char* argv[] = {"/usr/bin/python3", script.c_str(),  fd.c_str(),
                              rootText.c_str(),   logText.c_str(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(listener);
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

private:
    fs::path m_log;
    std::string m_base;
    pid_t m_pid = -1;
    bool m_ready = false;
};

// A scratch directory with the registry, the updater's home ("home"), the runtime directory
// and the web server's files ("www"), and the environment pointed at them; restored after.
class Scratch {
public:
    Scratch()
    {
        char tmpl[] = "/tmp/freshet-test-XXXXXX";
        path = mkdtemp(tmpl);
        www = path / "www";
        home = path / "home";
        fs::create_directories(www / "orvanta" / "jsp" / "login");
        fs::create_directories(home);
        fs::create_directories(path / "run");
        fs::permissions(path / "run", fs::perms::owner_all, fs::perm_options::replace);
        Set("ORVANTA_REGISTRY", (path / "registry.db").string());
        Set("ORVANTA_HOME", home.string());
        Set("XDG_RUNTIME_DIR", (path / "run").string());
    }
    ~Scratch()
    {
        for (auto& [name, value] : m_saved) {
            if (value.first)
                setenv(name.c_str(), value.second.c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    void Set(const std::string& name, const std::string& value)
    {
        if (m_saved.end() == std::find_if(m_saved.begin(), m_saved.end(), [&](auto& s) { return s.first == name; })) {
            const char* old = std::getenv(name.c_str());
            m_saved.emplace_back(name, std::make_pair(old != nullptr, old ? std::string(old) : std::string()));
        }
        setenv(name.c_str(), value.c_str(), 1);
    }

    fs::path path;
    fs::path www;   // the web server's files
    fs::path home;  // $ORVANTA_HOME

private:
    std::vector<std::pair<std::string, std::pair<bool, std::string>>> m_saved;
};

// Records the view calls of the work (from its thread) for the test to look at afterwards.
class RecordingView : public freshet::UpdaterView {
public:
    struct BarState {
        std::vector<int> maxima;     // every range set
        std::vector<int> positions;  // every position set
    };

    void SetStatus(const std::string& text) override { Add(statuses, text); }
    void ShowBars(bool shown) override
    {
        std::lock_guard lock(m_mutex);
        barsShown = shown;
    }
    void SetBarRange(freshet::Bar bar, int maximum) override
    {
        std::lock_guard lock(m_mutex);
        State(bar).maxima.push_back(maximum);
    }
    void SetBarPosition(freshet::Bar bar, int position) override
    {
        std::function<void()> hook;
        {
            std::lock_guard lock(m_mutex);
            State(bar).positions.push_back(position);
            hook = onPosition;
        }
        if (hook)
            hook();
    }
    void ShowMessage(const std::string& text) override { Add(messages, text); }
    void WorkOver() override
    {
        std::lock_guard lock(m_mutex);
        over = true;
    }
    bool AskCancel() override { return answer; }

    BarState& State(freshet::Bar bar) { return bar == freshet::Bar::kOverall ? overall : file; }

    std::vector<std::string> statuses, messages;
    BarState overall, file;
    bool barsShown = false;
    bool over = false;
    bool answer = true;
    std::function<void()> onPosition;  // runs on the worker's thread after every bar position

private:
    void Add(std::vector<std::string>& to, const std::string& text)
    {
        std::lock_guard lock(m_mutex);
        to.push_back(text);
    }
    std::mutex m_mutex;
};

}  // namespace freshet_test
