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

std::string MapInboxName(const std::string& name)
{
    const std::string& inbox = KoreanInboxName();
    size_t start = (!name.empty() && name[0] == '/') ? 1 : 0;
    // The store refuses a leading "/", so the mapped name drops it along with the prefix.
    if (name.size() - start >= inbox.size() && name.compare(start, inbox.size(), inbox) == 0)
        return "INBOX" + name.substr(start + inbox.size());
    return name;
}

std::string ShowInboxName(const std::string& name)
{
    if (name.compare(0, 5, "INBOX") == 0)
        return KoreanInboxName() + name.substr(5);
    return name;
}

std::string ChooseStoreFolder(const std::string& storeDirectory, const std::string& folder)
{
    std::string mapped = MapInboxName(folder);
    char encoded[255] = {};
    CIMAPFolder::EncodingFolder(mapped.c_str(), encoded, sizeof encoded);
    CIMAPFolder store(storeDirectory.c_str());
    if (encoded[0] == '\0' || !store.ExistFolder(encoded))
        return "INBOX";
    return encoded;
}

bool EnsureInbox(const std::string& storeDirectory)
{
    if (storeDirectory.empty())
        return false;
    char name[100] = {};
    CIMAPFolder::EncodingFolder("INBOX", name, sizeof name);
    CIMAPFolder store(storeDirectory.c_str());
    if (store.ExistFolder(name) || store.CreateFolder(name, 1, 0))
        return true;
    LogUtf8("The store folder INBOX could not be created in " + storeDirectory);
    return false;
}

}  // namespace orvanta::pipeline
