#include "orvanta/core/autostart.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "common/durable_file.h"
#include "platform/user_dirs.h"

namespace orvanta {
namespace fs = std::filesystem;

namespace {

// A program path as one argument of an Exec key: quoted when it holds anything the key's
// syntax would split or expand.
std::string ExecArgument(const std::string& program)
{
    if (program.find_first_of(" \t\"'\\$`%") == std::string::npos)
        return program;
    std::string quoted = "\"";
    for (char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        if (c == '%')
            quoted += '%';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

std::string AutostartEntryPath()
{
    std::string base = platform::UserConfigHome();
    if (base.empty())
        return {};
    return (fs::path(base) / "autostart" / "orvanta.desktop").string();
}

bool SetAutostartEntry(bool on, const std::string& program)
{
    const std::string path = AutostartEntryPath();
    if (path.empty())
        return false;
    std::error_code ec;
    if (!on) {
        fs::remove(path, ec);
        return !ec;
    }
    fs::create_directories(fs::path(path).parent_path(), ec);
    const std::string entry = "[Desktop Entry]\nType=Application\nName=Orvanta\n"
                              "Comment=Starts Orvanta at log-in\nExec=" +
                              ExecArgument(program) +
                              " /start\nIcon=orvanta\nTerminal=false\nNoDisplay=true\n"
                              "X-GNOME-Autostart-enabled=true\n";
    return durable::ReplaceFile(path, entry.data(), entry.size());
}

}  // namespace orvanta
