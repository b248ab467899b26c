#include "platform/process.h"

#include <cctype>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace platform {

std::vector<ProcessInfo> ListProcesses()
{
    std::vector<ProcessInfo> out;
    DIR* d = opendir("/proc");
    if (d == nullptr)
        return out;
    while (dirent* e = readdir(d)) {
        const char* n = e->d_name;
        bool numeric = *n != '\0';
        for (const char* p = n; *p; ++p)
            numeric = numeric && std::isdigit(static_cast<unsigned char>(*p));
        if (!numeric)
            continue;
        ProcessInfo info;
        info.pid = static_cast<pid_t>(std::stol(n));
        std::string base = std::string("/proc/") + n;
        char exe[4096];
        ssize_t len = readlink((base + "/exe").c_str(), exe, sizeof exe - 1);
        if (len > 0) {
            info.path.assign(exe, static_cast<size_t>(len));
            const std::string deleted = " (deleted)";
            if (info.path.size() > deleted.size() &&
                info.path.compare(info.path.size() - deleted.size(), deleted.size(), deleted) == 0)
                info.path.resize(info.path.size() - deleted.size());
            info.name = info.path.substr(info.path.rfind('/') + 1);
        } else {
            // comm is cut to 15 bytes, but it is all we can read of other users' processes.
            std::ifstream comm(base + "/comm");
            if (!std::getline(comm, info.name))
                continue;  // the process ended while we looked
        }
        out.push_back(std::move(info));
    }
    closedir(d);
    return out;
}

pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& args)
{
    std::vector<std::string> argvStore;
    argvStore.push_back(program);
    argvStore.insert(argvStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argvStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);

    pid_t pid = -1;
    int rc = program.find('/') == std::string::npos
                 ? posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), environ)
                 : posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0)
        return -1;
    // Nobody waits for a started program; reap it so it does not linger as a zombie.
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return pid;
}

bool OpenUrl(const std::string& url)
{
    if (url.empty())
        return false;
    return SpawnProgram("xdg-open", {url}) > 0;
}

}  // namespace platform
