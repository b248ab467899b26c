// "update.lst" as the updater and the main program read it, from a file.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "components/ledgerly/update_sites.h"

namespace {

std::string g_path;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::filesystem::path base =
        std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    g_path = (base / ("orvanta-fuzz-update-" + std::to_string(::getpid()) + ".lst")).string();
    std::atexit([] { std::filesystem::remove(g_path); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    {
        std::ofstream out(g_path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::vector<ledgerly::UpdateSite> sites = ledgerly::LoadUpdateSites(g_path, "Default", "https://update.example");
    if (sites.empty())
        abort();  // the default site stands in for a list without one
    for (const ledgerly::UpdateSite& site : sites)
        if (site.name.size() >= 100 || site.url.size() >= 100)
            abort();  // nothing longer than a line of the list
    (void)ledgerly::SplitFields(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
