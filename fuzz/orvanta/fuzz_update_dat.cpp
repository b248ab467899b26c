// "update.dat" and the update check's reply, split into lines as the HTTP client splits a
// document: the updater's list and its choice of files, and the main program's first line.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "freshet/update_list.h"
#include "orvanta/update/update_environment.h"

namespace {

// LF ends a line, a CR right before it goes with it; a last line without LF counts.
std::vector<std::string> Lines(std::string_view text)
{
    std::vector<std::string> lines;
    while (!text.empty()) {
        size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        if (lf != std::string_view::npos && !line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.emplace_back(line);
        text = lf == std::string_view::npos ? std::string_view() : text.substr(lf + 1);
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> lines = Lines(std::string_view(reinterpret_cast<const char*>(data), size));

    freshet::UpdateList list = freshet::ParseUpdateList(lines);
    static const std::vector<freshet::InstalledVersion> installed = {
        {"DATE", "20240101"}, {"orvanta", "1.2.3"}, {"ORVANTA.EXE", "9"}, {"freshet", ""}};
    std::vector<std::string> chosen = freshet::SelectFiles(list, installed);
    if (chosen.size() > list.files.size())
        abort();
    for (const std::string& name : chosen)
        if (freshet::FindRecord(list, name) == nullptr)
            abort();
    (void)freshet::UpdateBase(lines);

    if (!lines.empty()) {
        const std::string& first = lines.front();
        if (freshet::StartsWithUpdate(first) != orvanta::update::BeginsWithUpdate(first))
            abort();
        (void)orvanta::update::LeadingNumber(first.size() > 7 ? first.substr(7) : std::string());
        (void)orvanta::update::LeadingNumber(first);
    }
    return 0;
}
