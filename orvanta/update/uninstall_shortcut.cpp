#include "orvanta/update/uninstall_shortcut.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "orvanta/core/settings.h"
#include "platform/program_files.h"
#include "platform/user_dirs.h"

namespace orvanta::update {
namespace {

namespace fs = std::filesystem;

// Desktop entries are UTF-8 by their own rules, in the file and in its name, so these texts
// stay UTF-8 rather than the program's CP949.
constexpr const char kFolderName[] = "Orvanta Zidevoz 1.0";
constexpr const char kEntryName[] = "Orvanta 제거";
constexpr const char kComment[] = "언인스톨하기";

// The program as one argument of an Exec key: quoted, with the characters the quoting
// reserves escaped and "%" doubled (it starts a field code), then with the backslashes
// escaped once more as every string value's are. A path with a control character cannot be
// written into the one-line value; it gives an empty text.
std::string ExecArgument(const std::string& program)
{
    std::string quoted = "\"";
    for (unsigned char c : program) {
        if (c < 0x20 || c == 0x7F)
            return {};
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        if (c == '%')
            quoted += '%';
        quoted += static_cast<char>(c);
    }
    quoted += '"';
    std::string value;
    for (char c : quoted) {
        if (c == '\\')
            value += '\\';
        value += c;
    }
    return value;
}

bool WriteAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string MenuFolder()
{
    std::string base = platform::UserDataHome();
    if (base.empty())
        return {};
    return (fs::path(base) / "applications" / kFolderName).string();
}

bool CreateUninstallShortcut(const std::string& programDirectory)
{
    if (GetSetting(IntSetting::UninstallFlag) == 1)
        return false;
    const std::string folder = MenuFolder();
    if (folder.empty())
        return false;
    const std::string exec = ExecArgument((fs::path(programDirectory) / platform::kUninstallerFile.installed).string());
    if (exec.empty())
        return false;
    const std::string entry = std::string("[Desktop Entry]\nType=Application\nName=") + kEntryName +
                              "\nComment=" + kComment + "\nExec=" + exec + "\nTerminal=false\n";

    // Written beside the entry and renamed over it, so a menu never reads half an entry.
    const fs::path target = fs::path(folder) / (std::string(kEntryName) + ".desktop");
    std::string temp = (fs::path(folder) / ".uninstall-entry.XXXXXX").string();
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, entry) && ::fchmod(fd, 0644) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

}  // namespace orvanta::update
