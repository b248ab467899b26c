#pragma once

#include <cstdint>

// Stand-in for the current user's registry, kept in one SQLite database per user:
// $ORVANTA_REGISTRY, else $XDG_CONFIG_HOME/orvanta/registry.db (~/.config/... without it).
// Key paths use '\' between components ("Software\\Pellix Technology\\Orvanta\\OPTION");
// key and value names compare without regard to ASCII case and keep the case they were
// created with. Values are REG_SZ (a terminated byte string) or REG_DWORD (32 bits).
// Subkeys enumerate by index in name order (case ignored), values in creation order.
// Several processes may use the database at once (WAL, busy time-out, one transaction per
// write). The database file is chosen when a key is opened, so a test may change
// $ORVANTA_REGISTRY between uses.
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
constexpr LONG ERROR_CANTOPEN = 1011;   // the database could not be opened or written

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_DWORD = 4;

// Opens or creates parent\subKey (and every missing key on the way).
LONG RegCreateKeyEx(HKEY parent, const char* subKey, HKEY* result);
// Opens an existing key; ERROR_FILE_NOT_FOUND when it does not exist. An empty or null
// subKey opens a new handle to parent itself.
LONG RegOpenKeyEx(HKEY parent, const char* subKey, HKEY* result);
LONG RegCloseKey(HKEY key);

// Reads a value. `type` and `data` may be null. On entry *dataSize is the room in data;
// on return it is the size of the value (REG_SZ: with its terminator). Too little room:
// ERROR_MORE_DATA, with *dataSize set to what is needed. A null or empty name is the key's
// default value.
LONG RegQueryValueEx(HKEY key, const char* name, DWORD* type, unsigned char* data, DWORD* dataSize);
// Writes a value; a REG_SZ is stored up to its first NUL within dataSize.
LONG RegSetValueEx(HKEY key, const char* name, DWORD type, const unsigned char* data, DWORD dataSize);
LONG RegDeleteValue(HKEY key, const char* name);
// Deletes parent\subKey with all its subkeys and values.
LONG RegDeleteKey(HKEY parent, const char* subKey);

// Name of the index-th subkey (name order, case ignored). *nameSize: room on entry,
// length without terminator on return. ERROR_NO_MORE_ITEMS past the end.
LONG RegEnumKeyEx(HKEY key, DWORD index, char* name, DWORD* nameSize);
// The index-th value (creation order). Any of type, data, dataSize may be null.
LONG RegEnumValue(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* type,
                  unsigned char* data, DWORD* dataSize);

}  // namespace platform
