#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Stand-in for the current user's registry, kept in one SQLite database per user:
// $ORVANTA_REGISTRY, else $XDG_CONFIG_HOME/orvanta/registry.db (~/.config/... without it).
// Key paths use '\' between components ("Software\\Pellix Technology\\Orvanta\\OPTION");
// key and value names compare without regard to ASCII case and keep the case they were
// created with. Values are REG_SZ (a terminated byte string, any code page) or REG_DWORD
// (32 bits). Subkeys enumerate by index in name order (case ignored), values in creation
// order (rewriting a value keeps its place).
// Several processes may use the database at once (WAL, busy time-out, one transaction per
// write); every function is thread-safe. The database file is chosen when a key is opened
// below HKEY_CURRENT_USER, so a test may change $ORVANTA_REGISTRY between uses; a handle
// keeps the file it was opened in.
namespace platform {

using HKEY = struct RegKey*;
using DWORD = std::uint32_t;
using LONG = long;

// The predefined root. Its handle never needs closing.
extern const HKEY HKEY_CURRENT_USER;

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_CANTOPEN = 1011;     // the database could not be opened or written
constexpr LONG ERROR_KEY_DELETED = 1018;  // the handle's key was deleted meanwhile

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_DWORD = 4;

// Dispositions reported by RegCreateKeyEx.
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Opens or creates parent\subKey (and every missing key on the way). An empty or null
// subKey opens a new handle to parent itself. `disposition`, when given, tells whether the
// last key of the path was created.
LONG RegCreateKeyEx(HKEY parent, const char* subKey, HKEY* result, DWORD* disposition = nullptr);
// Opens an existing key; ERROR_FILE_NOT_FOUND when it does not exist. An empty or null
// subKey opens a new handle to parent itself.
LONG RegOpenKeyEx(HKEY parent, const char* subKey, HKEY* result);
LONG RegCloseKey(HKEY key);

// Reads a value. `type` and `data` may be null. On entry *dataSize is the room in data;
// on return it is the size of the value (REG_SZ: with its terminator). Too little room:
// ERROR_MORE_DATA, with *dataSize set to what is needed. A null or empty name is the key's
// default value.
LONG RegQueryValueEx(HKEY key, const char* name, DWORD* type, unsigned char* data, DWORD* dataSize);
// Writes a value; a REG_SZ is stored up to its first NUL within dataSize (so both strlen
// and strlen + 1 work), a REG_DWORD needs dataSize 4. Other types: ERROR_INVALID_PARAMETER.
LONG RegSetValueEx(HKEY key, const char* name, DWORD type, const unsigned char* data, DWORD dataSize);
LONG RegDeleteValue(HKEY key, const char* name);
// Deletes parent\subKey with all its subkeys and values. A null or empty subKey is
// ERROR_INVALID_PARAMETER (a key is never deleted through its own handle).
LONG RegDeleteKey(HKEY parent, const char* subKey);

// Name of the index-th subkey (name order, case ignored). *nameSize: room on entry,
// length without terminator on return. ERROR_NO_MORE_ITEMS past the end. Too little room:
// ERROR_MORE_DATA, with *nameSize set to the room needed (length + 1).
LONG RegEnumKeyEx(HKEY key, DWORD index, char* name, DWORD* nameSize);
// The index-th value (creation order); name and nameSize as for RegEnumKeyEx, type, data
// and dataSize as for RegQueryValueEx (each may be null, data only together with dataSize).
// The default value enumerates with the empty name.
LONG RegEnumValue(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* type, unsigned char* data,
                  DWORD* dataSize);

// The database file that HKEY_CURRENT_USER currently stands for (from the environment).
std::string RegistryDatabasePath();

// True when the registry takes two key or value names for the same name: ASCII letters
// compare without regard to case, the second byte of a CP949 pair exactly.
bool RegNamesEqual(std::string_view a, std::string_view b);

// The Win32 forms, for code written against them; the reserved, class, option, access and
// security arguments are accepted and ignored (every handle can read and write).
using REGSAM = DWORD;
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;

inline LONG RegOpenKeyEx(HKEY parent, const char* subKey, DWORD /*options*/, REGSAM /*sam*/, HKEY* result)
{
    return RegOpenKeyEx(parent, subKey, result);
}
inline LONG RegCreateKeyEx(HKEY parent, const char* subKey, DWORD /*reserved*/, char* /*cls*/, DWORD /*options*/,
                           REGSAM /*sam*/, void* /*security*/, HKEY* result, DWORD* disposition)
{
    return RegCreateKeyEx(parent, subKey, result, disposition);
}
inline LONG RegQueryValueEx(HKEY key, const char* name, DWORD* /*reserved*/, DWORD* type, unsigned char* data,
                            DWORD* dataSize)
{
    return RegQueryValueEx(key, name, type, data, dataSize);
}
inline LONG RegSetValueEx(HKEY key, const char* name, DWORD /*reserved*/, DWORD type, const unsigned char* data,
                          DWORD dataSize)
{
    return RegSetValueEx(key, name, type, data, dataSize);
}
inline LONG RegEnumKeyEx(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* /*reserved*/, char* /*cls*/,
                         DWORD* /*clsSize*/, void* /*lastWriteTime*/)
{
    return RegEnumKeyEx(key, index, name, nameSize);
}
inline LONG RegEnumValue(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* /*reserved*/, DWORD* type,
                         unsigned char* data, DWORD* dataSize)
{
    return RegEnumValue(key, index, name, nameSize, type, data, dataSize);
}

}  // namespace platform
