#include "orvanta/pipeline/folder_choice.h"

#include <cstring>

#include "harborage/folder_store.h"
#include "orvanta/core/log.h"
#include "platform/codepage.h"

namespace orvanta::pipeline {

const std::string& KoreanInboxName()
{
    static const std::string name = platform::Utf8ToCp949("받은 편지함");
    return name;
}

namespace {

// `name` with a leading `from` (also after one leading "/") replaced by `to`; otherwise as it is.
std::string ReplacePrefix(const std::string& name, const std::string& from, const std::string& to)
{
    const size_t start = (!name.empty() && name[0] == '/') ? 1 : 0;
    if (name.compare(start, from.size(), from) != 0)
        return name;
    return name.substr(0, start) + to + name.substr(start + from.size());
}

}  // namespace

std::string MapInboxName(const std::string& name) { return ReplacePrefix(name, KoreanInboxName(), "INBOX"); }

std::string ShowInboxName(const std::string& name) { return ReplacePrefix(name, "INBOX", KoreanInboxName()); }

std::string ChooseStoreFolder(const std::string& storeDirectory, const std::string& folder)
{
    std::string mapped = MapInboxName(folder);
    // The store takes no leading "/": a rule's folder "/받은 편지함/Ads" is the store's "INBOX/Ads".
    if (mapped != folder && mapped[0] == '/')
        mapped.erase(0, 1);
    char encoded[255] = {};
    CIMAPFolder::EncodingFolder(mapped.c_str(), encoded, sizeof encoded);
    CIMAPFolder store(storeDirectory.c_str());
    if (encoded[0] == '\0' || !store.ExistFolder(encoded))
        return "INBOX";
    return encoded;
}

const std::string& LearnedSpamFolder()
{
    static const std::string name = platform::Utf8ToCp949("스팸 편지함");
    return name;
}

bool EnsureStoreFolder(const std::string& storeDirectory, const std::string& folder)
{
    if (storeDirectory.empty())
        return false;
    char name[255] = {};
    CIMAPFolder::EncodingFolder(MapInboxName(folder).c_str(), name, sizeof name);
    CIMAPFolder store(storeDirectory.c_str());
    if (name[0] != '\0' && (store.ExistFolder(name) || store.CreateFolder(name, 1, 0)))
        return true;
    LogUtf8("The store folder " + platform::Cp949ToUtf8(folder) + " could not be created in " + storeDirectory);
    return false;
}

bool EnsureInbox(const std::string& storeDirectory) { return EnsureStoreFolder(storeDirectory, "INBOX"); }

}  // namespace orvanta::pipeline
