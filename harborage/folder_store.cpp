#include "harborage/folder_store.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "components/toolwick/spam_util.h"
#include "harborage/store_files.h"
#include "platform/files.h"

namespace {

constexpr const char* kStatusFile = "folder.qlt";

}  // namespace

const char* CIMAPFolder::FolderResultText(int result)
{
    switch (result) {
    case FolderOk: return "succeeded";
    case FolderFailed: return "failed";
    default: return "unknown folder result";
    }
}

CIMAPFolder::CIMAPFolder(const char* rootPath) { CSpamUtil::STRNCPY(m_RootPath, rootPath ? rootPath : "", kRootSize); }

std::string CIMAPFolder::Resolve(const char* name) const
{
    return name ? harborage::ResolveFolder(m_RootPath, name) : std::string();
}

bool CIMAPFolder::MakeAbsolutePath(const char* name, char* out, std::size_t outSize)
{
    std::string path = Resolve(name);
    if (out != nullptr && outSize > 0)
        CSpamUtil::STRNCPY(out, path.c_str(), static_cast<long>(outSize));
    return !path.empty() && path.size() < outSize;
}

int CIMAPFolder::CreateFolder(const char* name, int subscribed, int second)
{
    std::string path = Resolve(name);
    if (path.empty() || mkdir(path.c_str(), 0755) != 0)
        return FolderFailed;
    MakeInfoFile(name, subscribed, second);
    return FolderOk;
}

int CIMAPFolder::CreateFolder(const char* name) { return CreateFolder(name, 1, 1); }

bool CIMAPFolder::MakeInfoFile(const char* name, int subscribed, int second)
{
    std::string path = Resolve(name);
    if (!harborage::IsPlainDirectory(path))
        return false;
    FILE* f = std::fopen((path + "/" + kStatusFile).c_str(), "wb");
    if (f == nullptr)
        return false;
    int value = (subscribed ? 1 : 0) + 2 * (second ? 1 : 0);
    bool ok = std::fputc(value, f) != EOF;
    return std::fclose(f) == 0 && ok;
}

bool CIMAPFolder::UpdateFolderStatus(const char* name, int subscribed) { return MakeInfoFile(name, subscribed, 1); }

int CIMAPFolder::GetFolderStatus(const char* name)
{
    std::string path = Resolve(name);
    if (path.empty())
        return 0;
    FILE* f = std::fopen((path + "/" + kStatusFile).c_str(), "rb");
    if (f == nullptr)
        return 0;
    int value = std::fgetc(f);
    std::fclose(f);
    return value != EOF && value != 0 && value != 2 ? 1 : 0;
}

int CIMAPFolder::ExistFolder(const char* name) { return harborage::IsPlainDirectory(Resolve(name)) ? 1 : 0; }

int CIMAPFolder::DeleteFolder(const char* name)
{
    if (name == nullptr)
        return FolderFailed;
    std::string_view trimmed = harborage::TrimTrailingSlashes(name);
    if (trimmed.size() == 5 && strncasecmp(trimmed.data(), "INBOX", 5) == 0)
        return FolderFailed;
    std::string path = Resolve(name);
    if (!harborage::IsPlainDirectory(path))
        return FolderFailed;
    DeleteFolderRecursive(path.c_str());
    return rmdir(path.c_str()) == 0 ? FolderOk : FolderFailed;
}

void CIMAPFolder::DeleteFolderRecursive(const char* directory)
{
    if (directory == nullptr || *directory == '\0')
        return;
    for (const platform::DirEntry& e : platform::ListDirectory(directory)) {
        std::string path = std::string(directory) + "/" + e.name;
        // A link is removed itself, never followed.
        if (harborage::IsPlainDirectory(path)) {
            DeleteFolderRecursive(path.c_str());
            rmdir(path.c_str());
        } else {
            unlink(path.c_str());
        }
    }
}

int CIMAPFolder::RenameFolder(const char* oldName, const char* newName)
{
    std::string from = Resolve(oldName);
    std::string to = Resolve(newName);
    if (!harborage::IsPlainDirectory(from) || to.empty())
        return FolderFailed;
    if (to == from) {
        // The new name differs from the old one in letter case only: rename to it as given.
        std::string_view given = harborage::TrimTrailingSlashes(newName);
        size_t slash = given.rfind('/');
        std::string leaf(slash == std::string_view::npos ? given : given.substr(slash + 1));
        to = from.substr(0, from.rfind('/') + 1) + leaf;
        if (to == from)
            return FolderFailed;  // the target exists: it is the folder itself
    }
    // Never replaces an existing target, not even an empty directory.
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return FolderOk;
    if (errno != EINVAL && errno != ENOSYS)
        return FolderFailed;
    // A file system without the no-replace rename: look first.
    struct stat st {};
    if (lstat(to.c_str(), &st) == 0 || errno != ENOENT)
        return FolderFailed;
    return std::rename(from.c_str(), to.c_str()) == 0 ? FolderOk : FolderFailed;
}

bool CIMAPFolder::FindFolderList(const char* reference, const char* pattern, int status, std::vector<std::string>& out)
{
    std::string ref = reference ? reference : "";
    std::string pat = pattern ? pattern : "";
    // A reference that already ends in the separator is not given a second one.
    std::string combined = ref.empty() || ref.back() == '/' ? ref + pat : ref + "/" + pat;
    size_t start = combined.find_first_not_of('/');
    combined.erase(0, start == std::string::npos ? combined.size() : start);
    size_t slash = combined.rfind('/');
    std::string prefix = slash == std::string::npos ? std::string() : combined.substr(0, slash);
    FindFolderListRecursive(prefix.c_str(), combined.c_str(), status, out);
    return true;
}

void CIMAPFolder::FindFolderListRecursive(const char* prefix, const char* searchPattern, int status,
                                          std::vector<std::string>& out)
{
    std::string search = searchPattern ? searchPattern : "";
    std::string pre = prefix ? prefix : "";
    size_t slash = search.rfind('/');
    std::string dirName = slash == std::string::npos ? std::string() : search.substr(0, slash);
    std::string wildcard = slash == std::string::npos ? search : search.substr(slash + 1);
    if (wildcard.empty())
        return;
    std::string dir = dirName.empty() ? std::string(m_RootPath) : harborage::ResolveFolder(m_RootPath, dirName);
    if (dir.empty())
        return;

    for (const platform::DirEntry& e : platform::ListDirectory(dir, wildcard)) {
        if (!harborage::IsPlainDirectory(dir + "/" + e.name))
            continue;
        std::string child = pre.empty() ? e.name : pre + "/" + e.name;
        if (status == -1 || GetFolderStatus(child.c_str()) == status)
            out.push_back(child);
        std::string below = (dirName.empty() ? e.name : dirName + "/" + e.name) + "/*";
        FindFolderListRecursive(child.c_str(), below.c_str(), status, out);
    }
}

unsigned long CIMAPFolder::GetFolderID(const char* name)
{
    std::string path = Resolve(name);
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0)
        return 0xFFFFFFFFUL;
    return static_cast<unsigned long>(st.st_ino & 0xFFFFFFFFUL);
}

long CIMAPFolder::CheckFreeSpace(const char* path)
{
    struct stat st {};
    if (path == nullptr || stat(path, &st) != 0)
        return -1;
    std::uintmax_t free = platform::FreeDiskSpace(path);
    return free > static_cast<std::uintmax_t>(LONG_MAX) ? LONG_MAX : static_cast<long>(free);
}

int CIMAPFolder::GetWindowVersion() { return 0; }
