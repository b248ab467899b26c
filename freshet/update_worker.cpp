#include "freshet/update_worker.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include "components/almanac/update_address.h"
#include "freshet/install_files.h"
#include "freshet/log.h"
#include "freshet/registry_values.h"
#include "freshet/texts.h"
#include "platform/codepage.h"
#include "platform/http.h"
#include "platform/window.h"

namespace freshet {

namespace fs = std::filesystem;

namespace {

constexpr const char kCheckUpdatePath[] = "/orvanta/jsp/login/CheckUpdate.jsp";
constexpr const char kUpdateListName[] = "update.dat";
constexpr platform::UINT kQuitRequest = 1006;
constexpr auto kQuitWait = std::chrono::milliseconds(1000);

// A file name from the server, for the window.
std::string Shown(const std::string& cp949) { return platform::Cp949ToUtf8(cp949); }

int BarMaximum(long long value) { return static_cast<int>(std::min<long long>(value, INT_MAX)); }

}  // namespace

UpdateWorker::UpdateWorker(UpdaterView& view, WorkerSetup setup) : m_view(view), m_setup(std::move(setup)) {}

void UpdateWorker::Run()
{
    // The update location, from the maker's web server; without one the list is looked for
    // under "/express" alone, which fails like an unreachable server.
    std::vector<std::string> lines;
    std::string error;
    std::string checkUrl = almanac::WebURL() + kCheckUpdatePath;
    if (!platform::HttpReadLines(checkUrl, &lines, &error))
        Log("update check: " + error);
    std::string location = UpdateBase(lines) + "/express";

    // The update list there.
    UpdateList list;
    if (platform::HttpReadLines(location + "/" + kUpdateListName, &lines, &error)) {
        list = ParseUpdateList(lines);
    } else {
        Log("update list: " + error);
        m_view.ShowMessage(texts::kCannotConnect);
    }

    // The files newer than the installed ones, less those that would land outside.
    std::vector<Pick> picks = Vet(list, SelectFiles(list, m_setup.installed));
    if (picks.empty()) {
        // Recorded all the same: the date tells the main program this update was seen.
        m_view.SetStatus(texts::kNothingToUpdate);
        Record(list);
    } else if (Download(picks)) {
        m_view.SetStatus(texts::kStopping);
        StopMainProgram();
        m_view.SetStatus(texts::kCopying);
        if (!Install(list, picks)) {
            m_view.SetStatus(texts::kCopyFailed);
        } else if (!m_notReplaced.empty()) {
            // The rest is installed and recorded; the files left behind stay due for the next
            // update, and the copy failure says that not everything is in place.
            m_view.SetStatus(texts::kCopyFailed);
            m_view.ShowBars(false);
            Record(list);
        } else {
            m_view.SetStatus(texts::kDone);
            m_view.ShowBars(false);
            Record(list);
        }
    }

    m_running = false;
    m_view.WorkOver();
}

fs::path UpdateWorker::ProgramPath() const
{
    std::string path = ReadProgramPath();
    return path.empty() ? m_setup.installDirectory : fs::path(path);
}

void UpdateWorker::Refuse(const std::string& fileName, const fs::path& programPath)
{
    m_view.SetStatus(Shown(fileName) + texts::kRefusedSuffix);
    Log("refused \"" + fileName + "\": it would be installed outside " + programPath.string());
    if (std::find(m_refused.begin(), m_refused.end(), fileName) == m_refused.end())
        m_refused.push_back(fileName);
}

std::vector<UpdateWorker::Pick> UpdateWorker::Vet(const UpdateList& list, const std::vector<std::string>& selected)
{
    // A server decides the names, so each must stay inside the installation directory, where
    // it is installed, and inside the temporary directory, where it is fetched to.
    fs::path programPath = ProgramPath();
    std::vector<Pick> picks;
    for (const std::string& name : selected) {
        std::optional<fs::path> temp = PathBelow(m_setup.tempDirectory, name);
        if (!temp || !InstallDestination(programPath, m_setup.dataRoot, *FindRecord(list, name))) {
            Refuse(name, programPath);
            continue;
        }
        picks.push_back({name, *temp});
    }
    return picks;
}

bool UpdateWorker::Download(const std::vector<Pick>& picks)
{
    int count = static_cast<int>(picks.size());
    m_view.ShowBars(true);
    m_view.SetBarRange(Bar::kOverall, count);
    int overall = 0;
    for (const Pick& pick : picks) {
        if (m_cancelled) {
            m_view.ShowMessage(texts::kCancelled);
            return false;
        }
        overall = std::min(overall + 1, count);
        m_view.SetBarPosition(Bar::kOverall, overall);

        std::string url = m_setup.site.url + "/" + pick.fileName;
        long long size = platform::HttpContentLength(url);
        if (size <= 0) {
            Log(url + ": no such file (size " + std::to_string(size) + ")");
            m_view.ShowMessage(texts::kNoSuchFile);
            return false;
        }
        m_view.SetStatus(Shown(pick.fileName) + texts::kFetchingSuffix);

        int created = ::open(pick.tempFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (created < 0) {
            Log("cannot create " + pick.tempFile.string());
            m_view.ShowMessage(texts::kSaveFailed);
            return false;
        }
        ::close(created);

        int maximum = BarMaximum(size / 100);
        m_view.SetBarRange(Bar::kFile, maximum);
        int position = 0;
        long long before = 0;
        auto progress = [&](long long received, long long) {
            position = std::min<long long>(position + (received - before) / 100, maximum);
            before = received;
            m_view.SetBarPosition(Bar::kFile, position);
            return !m_cancelled;
        };
        std::string error;
        platform::HttpDownloadResult result = platform::HttpDownload(url, pick.tempFile.string(), progress, &error);
        if (result != platform::HttpDownloadResult::kDone) {
            // The download left the empty file made above; nothing of the file was kept.
            std::error_code ec;
            fs::remove(pick.tempFile, ec);
            // A file cut short cannot be installed, so a cancel within a file ends the download
            // at once.
            bool cancelled = result == platform::HttpDownloadResult::kCancelled;
            if (!cancelled)
                Log(error);
            m_view.ShowMessage(cancelled ? texts::kCancelled : texts::kFetchFailed);
            return false;
        }
        Log("fetched " + url);
    }
    return true;
}

void UpdateWorker::StopMainProgram()
{
    std::string title = ReadProgramName();
    if (title.empty())
        return;
    while (!m_cancelled && m_running) {
        platform::HWND window = platform::FindWindow(title);
        if (!window)
            break;
        platform::SendMessage(window, kQuitRequest, 0, 0);
        std::this_thread::sleep_for(kQuitWait);
    }
}

bool UpdateWorker::Install(const UpdateList& list, const std::vector<Pick>& picks)
{
    fs::path programPath = ProgramPath();
    for (const Pick& pick : picks) {
        std::optional<fs::path> destination =
            InstallDestination(programPath, m_setup.dataRoot, *FindRecord(list, pick.fileName));
        if (!destination) {
            Refuse(pick.fileName, programPath);
            continue;
        }
        std::string error;
        InstallResult result = InstallFile(pick.tempFile, *destination, &error);
        if (result == InstallResult::kNotPermitted) {
            // A system-wide installation: the package manager replaces its program files, and
            // the files in the user's own directories are installed all the same.
            Log(error + "; not installed, the package manager updates it");
            if (std::find(m_notReplaced.begin(), m_notReplaced.end(), pick.fileName) == m_notReplaced.end())
                m_notReplaced.push_back(pick.fileName);
            continue;
        }
        if (result != InstallResult::kInstalled) {
            Log(error);
            return false;
        }
        Log("installed " + destination->string());
    }
    for (const Pick& pick : picks) {
        // A name listed twice was fetched to the same file; once it is gone, it is deleted.
        std::error_code ec;
        fs::remove(pick.tempFile, ec);
        if (ec) {
            Log("cannot delete " + pick.tempFile.string() + ": " + ec.message());
            return false;
        }
    }
    return true;
}

void UpdateWorker::Record(const UpdateList& list)
{
    std::vector<std::string> skipped = m_refused;
    skipped.insert(skipped.end(), m_notReplaced.begin(), m_notReplaced.end());
    if (!RecordVersions(list, skipped))
        Log("cannot record the installed versions in the registry");
}

}  // namespace freshet
