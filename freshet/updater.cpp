#include "freshet/updater.h"

#include <system_error>

#include "components/almanac/update_address.h"
#include "components/ledgerly/common_data.h"
#include "freshet/log.h"
#include "freshet/registry_values.h"
#include "freshet/texts.h"
#include "platform/codepage.h"

namespace freshet {

Updater::Updater(UpdaterView& view, FreshetPaths paths, std::function<void()> startMainProgram)
    : m_view(view), m_paths(std::move(paths)), m_startMainProgram(std::move(startMainProgram))
{
}

Updater::~Updater() { WaitForWork(); }

std::string Updater::Open()
{
    std::error_code ec;
    std::filesystem::create_directories(m_paths.TempDirectory(), ec);

    char url[almanac::kUpdateURLSize] = {};
    CCommonData::GetUpdateURL(url, 1);
    std::vector<ledgerly::UpdateSite> sites =
        ledgerly::LoadUpdateSites(m_paths.SiteList().string(), platform::Utf8ToCp949(texts::kDefaultSiteName), url);
    // An index the list does not have chooses its first site.
    unsigned index = ReadUpdateServer();
    m_site = sites[index < sites.size() ? index : 0];

    WorkerSetup setup;
    setup.site = m_site;
    setup.installed = LoadInstalledVersions();
    setup.tempDirectory = m_paths.TempDirectory();
    setup.installDirectory = m_paths.installDirectory;
    setup.dataRoot = m_paths.ownDirectory;
    m_worker = std::make_unique<UpdateWorker>(m_view, std::move(setup));
    m_worker->MarkRunning();
    try {
        m_thread = std::thread([worker = m_worker.get()] { worker->Run(); });
    } catch (const std::system_error& e) {
        Log(std::string("cannot start the update: ") + e.what());
        m_worker->MarkOver();
        m_view.ShowMessage(texts::kCannotRun);
        m_view.WorkOver();
    }
    return texts::kTitlePrefix + platform::Cp949ToUtf8(m_site.name);
}

bool Updater::PressButton()
{
    if (Running() && !m_view.AskCancel())
        return false;
    if (m_worker)
        m_worker->Cancel();
    m_startMainProgram();
    return !Running();
}

void Updater::WaitForWork()
{
    if (m_thread.joinable())
        m_thread.join();
}

}  // namespace freshet
