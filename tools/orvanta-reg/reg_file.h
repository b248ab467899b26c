#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The Windows ".reg" text format, as far as this registry needs it: keys below
// HKEY_CURRENT_USER, REG_SZ and REG_DWORD values. Texts are CP949 bytes inside the program;
// a REGEDIT4 file holds them as they are, a "Version 5.00" file may be UTF-16LE (with its
// byte-order mark) as the original editor writes it.
namespace orvanta_reg {

constexpr std::string_view kRootName = "HKEY_CURRENT_USER";

// One change read from a file, in file order.
struct RegEdit {
    enum class Kind { kCreateKey, kDeleteKey, kSetString, kSetDword, kDeleteValue };
    Kind kind = Kind::kCreateKey;
    std::string key;           // path below HKEY_CURRENT_USER, "" for the root itself
    std::string name;          // value name, "" for the default value ("@")
    std::string text;          // kSetString
    std::uint32_t number = 0;  // kSetDword
    int line = 0;              // where it was read, for messages
};

// Parses a whole file. False with "line N: reason" in *error when anything in it is
// malformed, so that a caller can refuse to apply half a file. Accepts CP949 (or ASCII)
// bytes, UTF-8 with a byte-order mark and UTF-16LE with a byte-order mark; line ends LF or
// CRLF. Values below a "[-KEY]" section are ignored, as the original editor does. Values
// of a type this registry cannot hold (hex:, hex(2):, hex(7):, hex(b): ...) are left out,
// each with a "line N: ..." note in *warnings, so that a file exported on the original
// platform still brings over its strings and numbers.
bool ParseRegFile(std::string_view content, std::vector<RegEdit>* edits, std::string* error,
                  std::vector<std::string>* warnings = nullptr);

// Builds a file section by section.
class RegFileWriter {
public:
    // utf16: "Windows Registry Editor Version 5.00" in UTF-16LE with a byte-order mark;
    // otherwise "REGEDIT4" with the bytes as they are (byte-exact for CP949 texts).
    explicit RegFileWriter(bool utf16);

    // Starts the section of `keyPath` (below HKEY_CURRENT_USER, "" for the root).
    void Section(std::string_view keyPath);
    void String(std::string_view name, std::string_view text);
    void Dword(std::string_view name, std::uint32_t value);
    // The file's bytes.
    std::string Finish() const;

    // Names and texts that the format cannot carry on one line (a CR or LF in a value or
    // key name) have to be left out by the caller.
    static bool Representable(std::string_view name);

private:
    void Name(std::string_view name);
    bool utf16_;
    std::string text_;  // CP949, CRLF line ends
};

// The path below HKEY_CURRENT_USER of a key named on the command line or in a section
// header: "HKEY_CURRENT_USER\x", "HKCU\x" (either case) or, when allowBare, plain "x".
// Trailing separators are dropped. False with a reason for another root or a missing one.
bool KeyPathBelowRoot(std::string_view given, bool allowBare, std::string* path, std::string* error);

// "HKEY_CURRENT_USER" or "HKEY_CURRENT_USER\path".
std::string FullKeyName(std::string_view path);

// "10", "0x0a", "0XFF": a 32-bit number in decimal or hexadecimal. False for anything else.
bool ParseNumber(std::string_view text, std::uint32_t* value);

}  // namespace orvanta_reg
