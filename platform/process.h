#pragma once

#include <string>
#include <vector>
#include <sys/types.h>

// Process list, program start and the "open" verb.
namespace platform {

struct ProcessInfo {
    pid_t pid = 0;
    std::string name;  // executable name without directories (from /proc/<pid>/comm or exe)
    std::string path;  // full executable path where readable, else empty
};

std::vector<ProcessInfo> ListProcesses();

// Starts a program with its arguments (argv[0] is `program`), detached from the caller's
// standard input, in a session of its own. The child is reaped in the background, so callers
// must not wait for it. Returns the child's pid, or -1 when it could not be started.
pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& args);

// Opens a web page or a document with the desktop's handler (xdg-open). False when no
// handler could be started.
bool OpenUrl(const std::string& url);

}  // namespace platform
