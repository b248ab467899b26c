#include "orvanta/core/stored_mail.h"

#include <filesystem>
#include <system_error>

#include "orvanta/core/settings.h"
#include "platform/files.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;

// Folders of the store are plain directories; a symbolic link is not followed, so the walk
// never leaves the store.
bool IsPlainDirectory(const fs::path& p)
{
    std::error_code ec;
    fs::file_status st = fs::symlink_status(p, ec);
    return !ec && fs::is_directory(st);
}

int CleanFolder(const fs::path& folder, int depth)
{
    int deleted = 0;
    for (const platform::DirEntry& e : platform::ListDirectory(folder, "mesg????????.msg")) {
        if (e.isDirectory)
            continue;
        std::error_code ec;
        fs::path file = folder / e.name;
        if (fs::is_regular_file(fs::symlink_status(file, ec)) && fs::remove(file, ec))
            ++deleted;
    }
    if (depth > 64)
        return deleted;  // a deeper tree is not the store's own
    for (const platform::DirEntry& e : platform::ListDirectory(folder)) {
        fs::path sub = folder / e.name;
        if (e.isDirectory && IsPlainDirectory(sub))
            deleted += CleanFolder(sub, depth + 1);
    }
    return deleted;
}

}  // namespace

int DeleteOldStoredMail(const std::string& storeDirectory, std::time_t now)
{
    int term = GetSetting(IntSetting::DelTerm);
    int year = GetSetting(IntSetting::DelYear);
    int month = GetSetting(IntSetting::DelMonth);
    int day = GetSetting(IntSetting::DelDay);
    if (term < 2 || year == 0 || month == 0 || day == 0)
        return 0;

    std::tm then{};
    then.tm_year = year - 1900;
    then.tm_mon = month - 1;
    then.tm_mday = day;
    then.tm_isdst = -1;
    std::time_t start = std::mktime(&then);
    if (start == static_cast<std::time_t>(-1))
        return 0;
    long long days = static_cast<long long>(std::difftime(now, start)) / 86400;
    if (days < term - 1)
        return 0;

    int deleted = 0;
    fs::path root(storeDirectory);
    for (const platform::DirEntry& e : platform::ListDirectory(root)) {
        fs::path sub = root / e.name;
        if (e.isDirectory && IsPlainDirectory(sub))
            deleted += CleanFolder(sub, 1);
    }

    std::tm today{};
    localtime_r(&now, &today);
    SetSetting(IntSetting::DelYear, today.tm_year + 1900);
    SetSetting(IntSetting::DelMonth, today.tm_mon + 1);
    SetSetting(IntSetting::DelDay, today.tm_mday);
    return deleted;
}

}  // namespace orvanta
