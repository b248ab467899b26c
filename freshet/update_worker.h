#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "components/ledgerly/update_sites.h"
#include "freshet/update_list.h"
#include "freshet/updater_view.h"

namespace freshet {

// What the window hands the worker when it opens.
struct WorkerSetup {
    ledgerly::UpdateSite site;                // the chosen update site (CP949 name, base URL)
    std::vector<InstalledVersion> installed;  // the installed version list
    std::filesystem::path tempDirectory;      // where the files are fetched to
    std::filesystem::path installDirectory;   // the installation directory when "PROGRAM PATH" is missing
    std::filesystem::path dataRoot;           // holds "user/" (see FreshetPaths)
};

// The updater's work, run once on a thread of its own: ask the maker's web server for the
// update location, read "update.dat" there, fetch the files newer than the installed ones from
// the chosen site, stop the main program, install the files and record their versions. It
// shares two marks with the window: running (set before the thread starts, cleared by the
// worker at its end) and cancelled (set by the window, polled between files and pieces).
class UpdateWorker {
public:
    UpdateWorker(UpdaterView& view, WorkerSetup setup);

    void MarkRunning() { m_running = true; }
    void MarkOver() { m_running = false; }
    bool Running() const { return m_running; }
    void Cancel() { m_cancelled = true; }
    bool Cancelled() const { return m_cancelled; }

    // The whole work; ends with the running mark cleared and the view told.
    void Run();

private:
    // A file to fetch and where it is fetched to.
    struct Pick {
        std::string fileName;
        std::filesystem::path tempFile;
    };

    std::vector<Pick> Vet(const UpdateList& list, const std::vector<std::string>& selected);
    bool Download(const std::vector<Pick>& picks);
    void StopMainProgram();
    bool Install(const UpdateList& list, const std::vector<Pick>& picks);
    void Record(const UpdateList& list);
    void Refuse(const std::string& fileName, const std::filesystem::path& programPath);
    std::filesystem::path ProgramPath() const;

    UpdaterView& m_view;
    WorkerSetup m_setup;
    std::vector<std::string> m_refused;      // names whose destination would leave the installation
    std::vector<std::string> m_notReplaced;  // names whose directory is not the user's to write
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_cancelled{false};
};

}  // namespace freshet
