#include "orvanta/pipeline/taken_out_record.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <unordered_set>

#include "common/durable_file.h"
#include "fetchling/pop3_account.h"

namespace orvanta::pipeline {
namespace {

// A server's UIDs are short; anything longer is not one of ours.
constexpr size_t kMaxUid = CPop3Account::kUidSize - 1;

}  // namespace

TakenOutRecord::TakenOutRecord(std::string path) : path_(std::move(path)) {}

std::string TakenOutRecord::PathFor(const CPop3Account& account)
{
    std::string history = account.GetHistoryFilePath();
    const std::string suffix = ".his";
    if (history.size() < suffix.size() || history.compare(history.size() - suffix.size(), suffix.size(), suffix) != 0)
        return std::string();
    return history.substr(0, history.size() - suffix.size()) + ".dele";
}

bool TakenOutRecord::Load()
{
    uids_.clear();
    lookup_.clear();
    if (path_.empty())
        return false;
    std::ifstream in(path_, std::ios::binary);
    if (!in)
        return false;
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t start = 0;
    for (size_t lf = data.find('\n'); lf != std::string::npos; start = lf + 1, lf = data.find('\n', start))
        Add(data.substr(start, lf - start));
    return true;
}

bool TakenOutRecord::Save() const
{
    if (path_.empty())
        return false;
    if (uids_.empty()) {
        if (::unlink(path_.c_str()) != 0 && errno != ENOENT)
            return false;
        return true;
    }
    std::string data;
    for (const std::string& uid : uids_)
        data += uid + "\n";
    return durable::ReplaceFile(path_, data.data(), data.size());
}

bool TakenOutRecord::Contains(const std::string& uid) const { return lookup_.count(uid) > 0; }

bool TakenOutRecord::Add(const std::string& uid)
{
    if (uid.empty() || uid.size() > kMaxUid || uid.find('\n') != std::string::npos || !lookup_.insert(uid).second)
        return false;
    uids_.push_back(uid);
    return true;
}

void TakenOutRecord::Remove(const std::string& uid)
{
    if (lookup_.erase(uid) > 0)
        std::erase(uids_, uid);
}

bool TakenOutRecord::KeepOnly(const std::vector<std::string>& present)
{
    std::unordered_set<std::string> keep(present.begin(), present.end());
    size_t before = uids_.size();
    std::erase_if(uids_, [&](const std::string& uid) { return keep.find(uid) == keep.end(); });
    if (uids_.size() == before)
        return false;
    lookup_ = std::unordered_set<std::string>(uids_.begin(), uids_.end());
    return true;
}

}  // namespace orvanta::pipeline
