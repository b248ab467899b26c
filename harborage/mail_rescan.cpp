// The rescan of the current folder: the index's records are matched with the message files
// that are really there, and the list and the index are made to agree with the files.
#include "harborage/mail_store.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unistd.h>
#include <unordered_set>

#include "components/toolwick/spam_util.h"
#include "harborage/mail_files.h"
#include "platform/files.h"

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The file names of one rescan, ASCII case folded, in one flat open-addressing table. The
// listing lets only 16-byte names through and the index holds at most 16 bytes, so a name is
// its two folded 8-byte halves and its length: a lookup follows no pointer and nothing is
// allocated per name, and a large folder costs per message what a small one does.
class FoldedNameTable {
public:
    struct Slot {
        std::uint64_t low = 0, high = 0;
        std::uint32_t length = 0;  // 0: empty (a listed name is never empty)
        bool kept = false;         // an index entry has claimed the file
    };

    explicit FoldedNameTable(size_t count)
    {
        size_t size = 16;
        while (size < count * 2)
            size <<= 1;
        m_Slots.resize(size);
        m_Mask = size - 1;
    }

    // The slot of `name`, added if it is not there yet.
    Slot& Add(std::string_view name) { return *Probe(name, true); }
    // The slot of `name`, or nullptr.
    Slot* Find(std::string_view name) { return name.empty() ? nullptr : Probe(name, false); }

private:
    Slot* Probe(std::string_view name, bool add)
    {
        char folded[16] = {};
        for (size_t i = 0; i < std::min<size_t>(name.size(), 16); ++i)
            folded[i] = FoldAscii(name[i]);
        Slot key;
        std::memcpy(&key.low, folded, 8);
        std::memcpy(&key.high, folded + 8, 8);
        key.length = static_cast<std::uint32_t>(name.size());
        std::uint64_t h = key.low * 0x9E3779B97F4A7C15ull ^ key.high * 0xC2B2AE3D27D4EB4Full ^ key.length;
        h ^= h >> 31;
        for (size_t i = static_cast<size_t>(h) & m_Mask;; i = (i + 1) & m_Mask) {
            Slot& s = m_Slots[i];
            if (s.length == 0) {
                if (!add)
                    return nullptr;
                s = key;
                return &s;
            }
            if (s.low == key.low && s.high == key.high && s.length == key.length)
                return &s;
        }
    }

    std::vector<Slot> m_Slots;
    size_t m_Mask = 0;
};

}  // namespace

void CIMAPMail::FolderMailInit(const char* folder)
{
    Guard guard(StoreLock());
    BindFolder(folder);
    if (HasFolder())
        Rescan();
}

void CIMAPMail::Rescan()
{
    Guard guard(StoreLock());
    const std::string index = IndexPath();
    // The names are only looked up, so the listing stays unsorted; the few files the index
    // does not know are put in order below.
    std::vector<platform::DirEntry> files = harborage::ListMessageFiles(m_FolderPath, false);
    if (!LoadMailList(index.c_str())) {
        // UIDs start again from 1: a file of its own, so that it is born anew and clients
        // see a new UID validity even when a damaged index was left behind.
        unlink(index.c_str());
        SaveFID(index.c_str(), 0);
    }

    FoldedNameTable names(files.size());
    std::vector<FoldedNameTable::Slot*> fileSlots;
    fileSlots.reserve(files.size());
    for (const platform::DirEntry& f : files)
        fileSlots.push_back(&names.Add(f.name));

    // Keep the entries whose file is there, each file and each UID once. The counter never
    // falls below a UID the index has held, even if its header was damaged.
    long counter = LoadFID(index.c_str());
    for (const auto& e : m_MailList)
        counter = std::max<long>(counter, e->uid);
    // UIDs are checked for repeats by their order while they climb, as an index written by us
    // has them; a set is built only for one that does not.
    int lastUid = 0;
    std::unordered_set<int> uids;
    bool ascending = true;
    MailInfoList entries;
    entries.reserve(m_MailList.size());
    std::vector<MAILINFO*> needUid;
    for (auto& e : m_MailList) {
        FoldedNameTable::Slot* slot = names.Find(e->name);
        if (slot == nullptr || slot->kept)
            continue;
        slot->kept = true;
        if (ascending && e->uid > lastUid) {
            lastUid = e->uid;
        } else {
            if (ascending) {
                ascending = false;
                for (const auto& k : entries)
                    uids.insert(k->uid);
            }
            if (!uids.insert(e->uid).second)
                needUid.push_back(e.get());
        }
        entries.push_back(std::move(e));
    }
    // A damaged index may repeat a UID: the later record gets a fresh one.
    for (MAILINFO* e : needUid) {
        if (counter >= kMaxUid)
            break;
        e->uid = static_cast<int>(++counter);
    }
    // Files the index does not know: new \Recent messages with the next UIDs, in name order.
    std::vector<std::string> unknown;
    for (size_t i = 0; i < files.size(); ++i)
        if (!fileSlots[i]->kept)
            unknown.push_back(std::move(files[i].name));
    std::sort(unknown.begin(), unknown.end(), platform::LessNameNoCase);
    for (const std::string& f : unknown) {
        if (counter >= kMaxUid)
            continue;
        auto e = std::make_unique<MAILINFO>();
        std::memset(e.get(), 0, sizeof(MAILINFO));
        e->uid = static_cast<int>(++counter);
        CSpamUtil::STRNCPY(e->name, f.c_str(), sizeof e->name);
        e->recent = true;
        entries.push_back(std::move(e));
    }
    m_MailList = std::move(entries);
    for (size_t i = 0; i < m_MailList.size(); ++i)
        m_MailList[i]->seq = static_cast<int>(i + 1);
    SaveInitMailList(counter);
}
