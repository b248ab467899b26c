#include "freshet/install_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>
#include <system_error>

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/program_files.h"

namespace freshet {

namespace fs = std::filesystem;

namespace {

std::string ErrnoText(int err) { return std::system_category().message(err); }

// The errors of a directory the user may not write to.
bool NotPermitted(int err) { return err == EACCES || err == EPERM || err == EROFS; }

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    // Closes now, reporting the result.
    bool Close()
    {
        int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::optional<fs::path> PathBelow(const fs::path& root, std::string relative)
{
    std::replace(relative.begin(), relative.end(), '\\', '/');
    if (relative.empty() || relative.back() == '/')
        return std::nullopt;
    std::optional<fs::path> path = platform::ResolveBelow(root, relative);
    if (!path)
        return std::nullopt;
    // ResolveBelow keeps to root as text; a link on the way could still lead out of it.
    std::error_code ec;
    fs::path realRoot = fs::weakly_canonical(root, ec);
    if (ec)
        return std::nullopt;
    fs::path realPath = fs::weakly_canonical(*path, ec);
    if (ec)
        return std::nullopt;
    fs::path inside = realPath.lexically_relative(realRoot);
    if (inside.empty() || inside == "." || *inside.begin() == "..")
        return std::nullopt;
    return path;
}

std::optional<fs::path> InstallDestination(const fs::path& programPath, const fs::path& dataRoot,
                                           const UPDATE_FILE& record)
{
    std::string name = record.fileName;
    std::replace(name.begin(), name.end(), '\\', '/');
    size_t slash = name.rfind('/');
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    name = name.substr(0, name.size() - base.size()) + platform::InstalledFileName(base);
    if (record.subdirectory.empty())
        return PathBelow(programPath, name);
    std::string first = record.subdirectory.substr(0, record.subdirectory.find_first_of("/\\"));
    const bool userData = strcasecmp(first.c_str(), "user") == 0;
    return PathBelow(userData ? dataRoot : programPath, record.subdirectory + "/" + name);
}

InstallResult InstallFile(const fs::path& source, const fs::path& destination, std::string* error)
{
    Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) {
        *error = "cannot read " + source.string() + ": " + ErrnoText(errno);
        return InstallResult::kFailed;
    }
    mode_t mode = 0644;
    struct stat old {};
    if (::stat(destination.c_str(), &old) == 0) {
        if (!S_ISREG(old.st_mode)) {
            *error = destination.string() + " is not a file";
            return InstallResult::kFailed;
        }
        mode = old.st_mode & 07777;
    } else if (std::any_of(std::begin(platform::kProgramFiles), std::end(platform::kProgramFiles),
                           [&](const platform::ProgramFile& f) { return destination.filename() == f.installed; })) {
        mode = 0755;
    }

    std::random_device random;
    std::string part;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08x.new", static_cast<unsigned>(random()));
        part = (destination.parent_path() / ("." + destination.filename().string() + suffix)).string();
        fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        int err = errno;
        *error = "cannot create a file beside " + destination.string() + ": " + ErrnoText(err);
        return NotPermitted(err) ? InstallResult::kNotPermitted : InstallResult::kFailed;
    }
    Fd out(fd);
    auto fail = [&](const std::string& what) {
        *error = what + " " + part + ": " + ErrnoText(errno);
        ::unlink(part.c_str());
        return InstallResult::kFailed;
    };
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(in.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail("cannot read " + source.string() + " into");
        if (n == 0)
            break;
        if (!WriteAll(out.get(), buffer, static_cast<size_t>(n)))
            return fail("cannot write");
    }
    if (::fchmod(out.get(), mode) != 0)
        return fail("cannot set the mode of");
    if (::fsync(out.get()) != 0)
        return fail("cannot write");
    if (!out.Close())
        return fail("cannot write");
    if (::rename(part.c_str(), destination.c_str()) != 0) {
        int err = errno;
        ::unlink(part.c_str());
        *error = "cannot replace " + destination.string() + ": " + ErrnoText(err);
        return NotPermitted(err) ? InstallResult::kNotPermitted : InstallResult::kFailed;
    }
    return InstallResult::kInstalled;
}

}  // namespace freshet
