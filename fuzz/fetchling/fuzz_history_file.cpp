// The UID history file of an account and the record of taken-out UIDs beside it: each loaded,
// asked, saved and loaded again, which must give the same contents.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "fetchling/pop3_account.h"
#include "orvanta/pipeline/taken_out_record.h"

namespace {

std::string g_directory;

std::filesystem::path ScratchDirectory()
{
    // tmpfs where there is one: the save forces the file to disk, which a real disk makes slow.
    std::filesystem::path base =
        std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    return base / ("orvanta-fuzz-history-" + std::to_string(::getpid()));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::filesystem::path dir = ScratchDirectory();
    std::filesystem::create_directories(dir);
    g_directory = dir.string();
    std::atexit([] { std::filesystem::remove_all(g_directory); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CPop3Account account(g_directory.c_str(), "pop.example.org", "pop.example.org", "user@example.org", "pw", 110);
    const std::string path = account.GetHistoryFilePath();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    if (!account.LoadHistoryFile())
        abort();
    std::vector<std::string> first;
    account.GetUidList(first);
    if (first.size() != size / CPop3Account::kUidSize)
        abort();
    for (const std::string& uid : first) {
        if (uid.size() >= static_cast<size_t>(CPop3Account::kUidSize) || !account.IsExistUID(uid.c_str()))
            abort();
    }
    if (!first.empty()) {
        account.RemoveHistory(first.front().c_str());
        account.AddHistory(first.front().c_str());
    }
    if (!account.SaveHistoryFile())
        abort();

    CPop3Account again(g_directory.c_str(), "pop.example.org", "pop.example.org", "user@example.org", "pw", 110);
    if (!again.LoadHistoryFile())
        abort();
    std::vector<std::string> second;
    again.GetUidList(second);
    std::vector<std::string> expected;
    account.GetUidList(expected);
    if (second != expected)
        abort();
    // The examination keeps only the UIDs still on the server.
    std::vector<std::string> current(second.begin(), second.begin() + static_cast<long>(second.size() / 2));
    again.RemoveUidList(current);
    if (again.GetHistoryCount() > static_cast<int>(second.size()))
        abort();

    using orvanta::pipeline::TakenOutRecord;
    TakenOutRecord record(TakenOutRecord::PathFor(account));
    {
        std::ofstream out(record.Path(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    if (!record.Load())
        abort();
    for (const std::string& uid : record.Uids())
        if (uid.empty() || uid.find('\n') != std::string::npos || !record.Contains(uid))
            abort();
    if (!record.Save())
        abort();
    TakenOutRecord reread(record.Path());
    reread.Load();
    if (reread.Uids() != record.Uids())
        abort();
    record.KeepOnly(second);
    return 0;
}
