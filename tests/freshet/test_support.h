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
#include "tests/common/web_server.h"

extern char** environ;

namespace freshet_test {

namespace fs = std::filesystem;

inline void Spit(const fs::path& path, const std::string& data)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << data;
}

using testweb::Slurp;
using testweb::WebServer;

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
