#include "orvanta/update/update_sites.h"

#include <filesystem>
#include <mutex>

#include "components/almanac/program_info.h"
#include "components/almanac/update_address.h"

namespace orvanta::update {
namespace {

struct Sites {
    std::mutex lock;
    std::vector<ledgerly::UpdateSite> list;
};

Sites& TheSites()
{
    static Sites sites;
    return sites;
}

}  // namespace

void LoadUpdateSiteList(const std::string& dataDirectory)
{
    char url[almanac::kUpdateURLSize] = {};
    CProgramInfo::GetUpdateURL(url, 1);
    const std::string path = (std::filesystem::path(dataDirectory) / "update.lst").string();
    std::vector<ledgerly::UpdateSite> list = ledgerly::LoadUpdateSites(path, "Pellix", url);
    Sites& s = TheSites();
    std::lock_guard guard(s.lock);
    s.list = std::move(list);
}

std::vector<ledgerly::UpdateSite> UpdateSiteList()
{
    Sites& s = TheSites();
    std::lock_guard guard(s.lock);
    return s.list;
}

}  // namespace orvanta::update
