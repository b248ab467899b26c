#include "freshet/update_list.h"

#include <strings.h>

#include "components/ledgerly/update_sites.h"
#include "platform/files.h"

namespace freshet {

namespace {

constexpr std::string_view kUpdate = "update";
// "update", one separator, then the text that follows.
constexpr size_t kTextStart = 7;

std::string TextAfterSeparator(const std::string& line)
{
    return line.size() > kTextStart ? line.substr(kTextStart) : std::string();
}

}  // namespace

bool StartsWithUpdate(std::string_view line)
{
    return line.size() >= kUpdate.size() && platform::EqualNoCase(line.substr(0, kUpdate.size()), kUpdate);
}

std::string UpdateBase(const std::vector<std::string>& reply)
{
    if (reply.empty() || !StartsWithUpdate(reply[0]))
        return {};
    return TextAfterSeparator(reply[0]);
}

UpdateList ParseUpdateList(const std::vector<std::string>& lines)
{
    UpdateList list;
    if (lines.empty() || !StartsWithUpdate(lines[0]))
        return list;
    list.date = TextAfterSeparator(lines[0]);
    for (size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::string> fields = ledgerly::SplitFields(lines[i]);
        if (fields.size() < 3)
            continue;
        UPDATE_FILE file;
        file.fileName = fields[1];
        file.version = fields[2];
        if (fields.size() > 3)
            file.subdirectory = fields[3];
        list.files.push_back(std::move(file));
    }
    return list;
}

std::vector<std::string> SelectFiles(const UpdateList& list, const std::vector<InstalledVersion>& installed)
{
    std::vector<std::string> selected;
    for (const UPDATE_FILE& file : list.files) {
        bool current = false;
        for (const InstalledVersion& have : installed) {
            // std::string compares as unsigned bytes, the way strcmp does.
            if (platform::EqualNoCase(have.name, file.fileName) && have.version.compare(file.version) >= 0) {
                current = true;
                break;
            }
        }
        if (!current)
            selected.push_back(file.fileName);
    }
    return selected;
}

const UPDATE_FILE* FindRecord(const UpdateList& list, const std::string& fileName)
{
    for (const UPDATE_FILE& file : list.files)
        if (file.fileName == fileName)
            return &file;
    return nullptr;
}

}  // namespace freshet
