#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "freshet/paths.h"
#include "freshet/update_worker.h"
#include "freshet/updater_view.h"

namespace freshet {

// The updater's window without its widgets: what opening it does and what its one button
// does. Used on the window's thread.
class Updater {
public:
    Updater(UpdaterView& view, FreshetPaths paths, std::function<void()> startMainProgram);
    ~Updater();  // waits for the work to end
    Updater(const Updater&) = delete;
    Updater& operator=(const Updater&) = delete;

    // Opening the window: makes the temporary directory, reads the site list and the chosen
    // site, the installed versions, and starts the work. Returns the window title.
    std::string Open();

    // The button (also the window's own close): while the work runs, asks first and does
    // nothing unless the answer is OK; then marks the update cancelled and starts the main
    // program. True when the window is to close now, that is when the work is over.
    bool PressButton();

    bool Running() const { return m_worker && m_worker->Running(); }
    bool Cancelled() const { return m_worker && m_worker->Cancelled(); }
    const ledgerly::UpdateSite& Site() const { return m_site; }

    // Waits until the work has ended.
    void WaitForWork();

private:
    UpdaterView& m_view;
    FreshetPaths m_paths;
    std::function<void()> m_startMainProgram;
    ledgerly::UpdateSite m_site;
    std::unique_ptr<UpdateWorker> m_worker;
    std::thread m_thread;
};

}  // namespace freshet
