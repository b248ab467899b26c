#include "freshet/registry_values.h"

#include <algorithm>
#include <memory>

#include "platform/registry.h"

namespace freshet {

namespace {

using platform::DWORD;
using platform::HKEY;

constexpr const char kProgramKey[] = "Software\\Pellix Technology\\Orvanta";
constexpr size_t kProgramNameSize = 100;
constexpr size_t kProgramPathSize = 150;
constexpr DWORD kVersionCount = 100;
constexpr DWORD kVersionNameSize = 100;
constexpr DWORD kVersionDataSize = 300;

struct KeyClose {
    void operator()(platform::RegKey* key) const { platform::RegCloseKey(key); }
};
using Key = std::unique_ptr<platform::RegKey, KeyClose>;

Key OpenSubkey(const char* subkey, bool create)
{
    std::string path = std::string(kProgramKey) + "\\" + subkey;
    HKEY key = nullptr;
    platform::LONG rc = create ? platform::RegCreateKeyEx(platform::HKEY_CURRENT_USER, path.c_str(), &key)
                               : platform::RegOpenKeyEx(platform::HKEY_CURRENT_USER, path.c_str(), &key);
    return Key(rc == platform::ERROR_SUCCESS ? key : nullptr);
}

// A string value read into a buffer of `size` bytes; empty when it is missing, not a string
// or does not fit.
std::string ReadString(const char* subkey, const char* name, size_t size)
{
    Key key = OpenSubkey(subkey, false);
    if (!key)
        return {};
    std::string buffer(size, '\0');
    DWORD type = 0, length = static_cast<DWORD>(size);
    if (platform::RegQueryValueEx(key.get(), name, &type, reinterpret_cast<unsigned char*>(buffer.data()), &length) !=
            platform::ERROR_SUCCESS ||
        type != platform::REG_SZ)
        return {};
    buffer.resize(buffer.find('\0') == std::string::npos ? 0 : buffer.find('\0'));
    return buffer;
}

bool WriteString(HKEY key, const std::string& name, const std::string& value)
{
    return platform::RegSetValueEx(key, name.c_str(), platform::REG_SZ,
                                   reinterpret_cast<const unsigned char*>(value.c_str()),
                                   static_cast<DWORD>(value.size() + 1)) == platform::ERROR_SUCCESS;
}

}  // namespace

unsigned ReadUpdateServer()
{
    Key key = OpenSubkey("OPTION", false);
    DWORD value = 0, type = 0, size = sizeof value;
    if (!key ||
        platform::RegQueryValueEx(key.get(), "UPDATE_SERVER", &type, reinterpret_cast<unsigned char*>(&value), &size) !=
            platform::ERROR_SUCCESS ||
        type != platform::REG_DWORD)
        return 0;
    return value;
}

std::string ReadProgramName() { return ReadString("info", "PROGRAM NAME", kProgramNameSize); }

std::string ReadProgramPath() { return ReadString("info", "PROGRAM PATH", kProgramPathSize); }

std::vector<InstalledVersion> LoadInstalledVersions()
{
    std::vector<InstalledVersion> installed;
    Key key = OpenSubkey("update", false);
    if (!key)
        return installed;
    for (DWORD index = 0; index < kVersionCount; ++index) {
        char name[kVersionNameSize] = {};
        unsigned char data[kVersionDataSize] = {};
        DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
        platform::LONG rc = platform::RegEnumValue(key.get(), index, name, &nameSize, &type, data, &dataSize);
        if (rc == platform::ERROR_NO_MORE_ITEMS)
            break;
        if (rc != platform::ERROR_SUCCESS || type != platform::REG_SZ)
            continue;
        installed.push_back({name, reinterpret_cast<const char*>(data)});
    }
    return installed;
}

bool RecordVersions(const UpdateList& list, const std::vector<std::string>& skipped)
{
    Key key = OpenSubkey("update", true);
    if (!key)
        return false;
    bool ok = WriteString(key.get(), "DATE", list.date);
    for (const UPDATE_FILE& file : list.files) {
        if (std::find(skipped.begin(), skipped.end(), file.fileName) != skipped.end())
            continue;
        ok = WriteString(key.get(), file.fileName, file.version) && ok;
    }
    return ok;
}

}  // namespace freshet
