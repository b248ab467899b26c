#include "orvanta/update/updater_program.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "orvanta/core/front_end.h"
#include "orvanta/core/log.h"
#include "orvanta/core/settings.h"
#include "orvanta/core/texts.h"
#include "platform/http.h"
#include "platform/process.h"
#include "platform/program_files.h"

namespace orvanta::update {
namespace {

namespace fs = std::filesystem;

constexpr int kFetched = 4;  // "UPDATE_PROGRAM" once the updater program is in place

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool CopyContents(int in, int out)
{
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (!WriteAll(out, buffer, static_cast<size_t>(n)))
            return false;
    }
}

// Copies `from` over `to` so that `to` is at every moment either the old file or the whole
// new one: the copy is written beside it under a hidden name, made executable, flushed and
// renamed into place. An updater that is running meanwhile goes on with its old file.
bool ReplaceExecutable(const fs::path& from, const fs::path& to, std::string* error)
{
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        *error = from.string() + ": " + std::strerror(errno);
        return false;
    }
    std::string temp = (to.parent_path() / ("." + to.filename().string() + ".XXXXXX")).string();
    int out = ::mkostemp(temp.data(), O_CLOEXEC);
    if (out < 0) {
        *error = temp + ": " + std::strerror(errno);
        ::close(in);
        return false;
    }
    bool ok = CopyContents(in, out) && ::fchmod(out, 0755) == 0 && ::fsync(out) == 0;
    if (!ok)
        *error = temp + ": " + std::strerror(errno);
    ::close(in);
    if (::close(out) != 0 && ok) {
        *error = temp + ": " + std::strerror(errno);
        ok = false;
    }
    if (ok && ::rename(temp.c_str(), to.c_str()) != 0) {
        *error = to.string() + ": " + std::strerror(errno);
        ok = false;
    }
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

}  // namespace

bool StartUpdater(const std::string& programDirectory)
{
    const std::string program = (fs::path(programDirectory) / platform::kUpdaterFile.installed).string();
    if (platform::SpawnProgram(program, {}) < 0) {
        LogUtf8("The updater " + program + " could not be started.");
        return false;
    }
    LogUtf8("Started the updater " + program + ".");
    return true;
}

FetchOutcome FetchUpdaterProgram(const UpdateEnvironment& env, FrontEnd& frontEnd)
{
    if (GetSetting(IntSetting::UpdateProgram) == kFetched)
        return FetchOutcome::kAlreadyFetched;

    // The update service names the file as the original platform does; here it becomes `freshet`.
    const std::string url = UpdateLocation() + "/" + platform::kUpdaterFile.listed;
    const long long length = platform::HttpContentLength(url);
    // Offline is no news for the user: the box would stop every start without a network.
    if (length == platform::kHttpNotReached) {
        LogUtf8("The update server was not reached for the updater program; trying again at the next start.");
        return FetchOutcome::kDownloadFailed;
    }
    if (length <= 0) {
        LogUtf8("The updater program is not on the update server: " + url);
        ShowInformation(frontEnd, text::Get(text::Id::UpdaterNotOnServer));
        return FetchOutcome::kNotOnServer;
    }

    const fs::path download = fs::path(env.scratchDirectory) / platform::kUpdaterFile.listed;
    std::string error;
    if (platform::HttpDownload(url, download.string(), {}, &error) != platform::HttpDownloadResult::kDone) {
        LogUtf8("The updater program could not be downloaded (" + error + "); trying again at the next start.");
        return FetchOutcome::kDownloadFailed;
    }
    const fs::path installed = fs::path(env.programDirectory) / platform::kUpdaterFile.installed;
    if (!ReplaceExecutable(download, installed, &error)) {
        LogUtf8("The updater program could not be put in place (" + error + "); trying again at the next start.");
        return FetchOutcome::kCopyFailed;
    }
    SetSetting(IntSetting::UpdateProgram, kFetched);
    LogUtf8("Fetched the updater program into " + installed.string() + ".");
    return FetchOutcome::kFetched;
}

}  // namespace orvanta::update
