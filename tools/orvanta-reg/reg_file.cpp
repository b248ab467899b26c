#include "tools/orvanta-reg/reg_file.h"

#include <cstdio>

#include "platform/codepage.h"

namespace orvanta_reg {

namespace {

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Upper(a[i]) != Upper(b[i]))
            return false;
    }
    return true;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && (IsSpace(s.back()) || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = Upper(c);
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string LineError(int line, const std::string& what) { return "line " + std::to_string(line) + ": " + what; }

// The file as CP949 bytes. UTF-16LE and UTF-8 files announce themselves with a byte-order
// mark; everything else is taken byte for byte.
bool DecodeFile(std::string_view content, std::string* out, std::string* error)
{
    if (content.size() >= 2 && static_cast<unsigned char>(content[0]) == 0xFF &&
        static_cast<unsigned char>(content[1]) == 0xFE) {
        content.remove_prefix(2);
        if (content.size() % 2 != 0) {
            *error = "the UTF-16 file ends in the middle of a character";
            return false;
        }
        std::u16string wide;
        wide.reserve(content.size() / 2);
        for (std::size_t i = 0; i < content.size(); i += 2) {
            wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(content[i]) |
                                                 static_cast<unsigned char>(content[i + 1]) << 8));
        }
        *out = platform::Utf16ToCp949(wide);
        return true;
    }
    if (content.size() >= 2 && static_cast<unsigned char>(content[0]) == 0xFE &&
        static_cast<unsigned char>(content[1]) == 0xFF) {
        *error = "UTF-16 big-endian files are not supported (save the file as UTF-16LE or ANSI)";
        return false;
    }
    if (content.size() >= 3 && content.substr(0, 3) == "\xEF\xBB\xBF") {
        *out = platform::Utf8ToCp949(content.substr(3));
        return true;
    }
    *out = std::string(content);
    return true;
}

// A physical line joined with the lines that continue it (a trailing '\' in hex lists).
struct LogicalLine {
    std::string text;
    int number;
};

std::vector<LogicalLine> SplitLines(std::string_view text)
{
    std::vector<LogicalLine> lines;
    int number = 0;
    bool continuing = false;
    while (!text.empty()) {
        const std::size_t cut = text.find('\n');
        std::string_view physical = text.substr(0, cut);
        text.remove_prefix(cut == std::string_view::npos ? text.size() : cut + 1);
        ++number;
        std::string_view trimmed = Trim(physical);
        if (continuing) {
            lines.back().text += trimmed;
        } else {
            lines.push_back({std::string(trimmed), number});
        }
        std::string& current = lines.back().text;
        continuing = !current.empty() && current.back() == '\\' && current.front() != ';' && current.front() != '[';
        if (continuing)
            current.pop_back();
    }
    return lines;
}

// Reads a quoted string starting at s[*pos] == '"'; \\ and \" are the escapes, any other
// backslash stays as it is.
bool ReadQuoted(std::string_view s, std::size_t* pos, std::string* out)
{
    out->clear();
    std::size_t i = *pos + 1;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '"') {
            *pos = i + 1;
            return true;
        }
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
            out->push_back(s[i + 1]);
            i += 2;
            continue;
        }
        out->push_back(c);
        ++i;
    }
    return false;
}

bool ReadHexList(std::string_view s, std::string* bytes)
{
    bytes->clear();
    s = Trim(s);
    if (s.empty())
        return true;
    while (true) {
        s = Trim(s);
        if (s.size() < 2 || HexDigit(s[0]) < 0 || HexDigit(s[1]) < 0)
            return false;
        bytes->push_back(static_cast<char>(HexDigit(s[0]) << 4 | HexDigit(s[1])));
        s = Trim(s.substr(2));
        if (s.empty())
            return true;
        if (s.front() != ',')
            return false;
        s.remove_prefix(1);
        // A trailing comma before the end of the list is tolerated.
        if (Trim(s).empty())
            return true;
    }
}

std::string HexByte(unsigned char b)
{
    static const char kDigits[] = "0123456789abcdef";
    return {kDigits[b >> 4], kDigits[b & 15]};
}

// Parses what follows '=' on a value line into `edit`.
// A well-formed value of a type this registry cannot hold (binary, expandable or multiple
// strings, 64-bit numbers) sets *unsupportedType and yields no edit.
bool ParseData(std::string_view data, bool version5, RegEdit* edit, std::string* why, int* unsupportedType)
{
    if (data == "-") {
        edit->kind = RegEdit::Kind::kDeleteValue;
        return true;
    }
    if (!data.empty() && data.front() == '"') {
        std::size_t pos = 0;
        if (!ReadQuoted(data, &pos, &edit->text)) {
            *why = "the text has no closing quote";
            return false;
        }
        if (!Trim(data.substr(pos)).empty()) {
            *why = "unexpected characters after the closing quote";
            return false;
        }
        edit->kind = RegEdit::Kind::kSetString;
        return true;
    }
    if (StartsWithNoCase(data, "dword:")) {
        const std::string_view digits = Trim(data.substr(6));
        std::uint32_t value = 0;
        if (digits.empty() || digits.size() > 8) {
            *why = "a dword needs 1 to 8 hexadecimal digits";
            return false;
        }
        for (char c : digits) {
            if (HexDigit(c) < 0) {
                *why = "a dword needs 1 to 8 hexadecimal digits";
                return false;
            }
            value = value << 4 | static_cast<std::uint32_t>(HexDigit(c));
        }
        edit->kind = RegEdit::Kind::kSetDword;
        edit->number = value;
        return true;
    }
    if (StartsWithNoCase(data, "hex")) {
        std::string_view rest = data.substr(3);
        int type = 3;  // plain "hex:" is REG_BINARY
        if (!rest.empty() && rest.front() == '(') {
            const std::size_t close = rest.find(')');
            if (close == std::string_view::npos || close == 1) {
                *why = "malformed hex(...) type";
                return false;
            }
            type = 0;
            for (char c : rest.substr(1, close - 1)) {
                if (HexDigit(c) < 0 || type > 0xFFFF) {
                    *why = "malformed hex(...) type";
                    return false;
                }
                type = type * 16 + HexDigit(c);
            }
            rest.remove_prefix(close + 1);
        }
        if (rest.empty() || rest.front() != ':') {
            *why = "malformed hex value";
            return false;
        }
        std::string bytes;
        if (!ReadHexList(rest.substr(1), &bytes)) {
            *why = "malformed list of hexadecimal bytes";
            return false;
        }
        if (type != 1 && type != 4) {
            *unsupportedType = type;
            return true;
        }
        if (type == 4) {
            if (bytes.size() != 4) {
                *why = "a hex(4) dword needs exactly 4 bytes";
                return false;
            }
            edit->kind = RegEdit::Kind::kSetDword;
            edit->number = 0;
            for (int i = 3; i >= 0; --i)
                edit->number = edit->number << 8 | static_cast<unsigned char>(bytes[i]);
            return true;
        }
        edit->kind = RegEdit::Kind::kSetString;
        if (version5) {
            // UTF-16LE code units, up to the terminator.
            if (bytes.size() % 2 != 0) {
                *why = "a hex(1) string of a Version 5.00 file needs an even number of bytes";
                return false;
            }
            std::u16string wide;
            for (std::size_t i = 0; i < bytes.size(); i += 2) {
                const auto unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                        static_cast<unsigned char>(bytes[i + 1]) << 8);
                if (unit == 0)
                    break;
                wide.push_back(unit);
            }
            edit->text = platform::Utf16ToCp949(wide);
        } else {
            edit->text = bytes.substr(0, bytes.find('\0'));
        }
        return true;
    }
    *why = "cannot read the value (expected \"text\", dword:, hex(1): or -)";
    return false;
}

void AppendEscaped(std::string* out, std::string_view text)
{
    for (char c : text) {
        if (c == '\\' || c == '"')
            out->push_back('\\');
        out->push_back(c);
    }
}

}  // namespace

bool ParseRegFile(std::string_view content, std::vector<RegEdit>* edits, std::string* error,
                  std::vector<std::string>* warnings)
{
    edits->clear();
    if (warnings != nullptr)
        warnings->clear();
    std::string text;
    if (!DecodeFile(content, &text, error))
        return false;

    bool headerSeen = false;
    bool version5 = false;
    bool inSection = false;
    bool sectionDeleted = false;
    std::string section;
    for (const LogicalLine& line : SplitLines(text)) {
        const std::string_view s = line.text;
        if (s.empty() || s.front() == ';')
            continue;
        if (!headerSeen) {
            if (s == kHeader4 || s == kHeader5) {
                headerSeen = true;
                version5 = s == kHeader5;
                continue;
            }
            *error = LineError(line.number,
                               "not a registry file: expected \"REGEDIT4\" or \"" + std::string(kHeader5) + "\"");
            return false;
        }
        if (s.front() == '[') {
            if (s.back() != ']') {
                *error = LineError(line.number, "a key section must end with ']'");
                return false;
            }
            std::string_view inner = s.substr(1, s.size() - 2);
            const bool remove = !inner.empty() && inner.front() == '-';
            if (remove)
                inner.remove_prefix(1);
            std::string why;
            if (!KeyPathBelowRoot(inner, false, &section, &why)) {
                *error = LineError(line.number, why);
                return false;
            }
            if (remove && section.empty()) {
                *error = LineError(line.number, "HKEY_CURRENT_USER itself cannot be deleted");
                return false;
            }
            inSection = true;
            sectionDeleted = remove;
            RegEdit edit;
            edit.kind = remove ? RegEdit::Kind::kDeleteKey : RegEdit::Kind::kCreateKey;
            edit.key = section;
            edit.line = line.number;
            edits->push_back(std::move(edit));
            continue;
        }
        if (!inSection) {
            *error = LineError(line.number, "a value outside of any [key] section");
            return false;
        }
        RegEdit edit;
        edit.key = section;
        edit.line = line.number;
        std::size_t pos = 0;
        if (s.front() == '@') {
            pos = 1;
        } else if (s.front() == '"') {
            if (!ReadQuoted(s, &pos, &edit.name)) {
                *error = LineError(line.number, "the value name has no closing quote");
                return false;
            }
        } else {
            *error = LineError(line.number, "expected a quoted value name, @, [key] or a ; comment");
            return false;
        }
        std::string_view rest = Trim(s.substr(pos));
        if (rest.empty() || rest.front() != '=') {
            *error = LineError(line.number, "expected '=' after the value name");
            return false;
        }
        rest = Trim(rest.substr(1));
        std::string why;
        int unsupportedType = -1;
        if (!ParseData(rest, version5, &edit, &why, &unsupportedType)) {
            *error = LineError(line.number, why);
            return false;
        }
        if (sectionDeleted)
            continue;
        if (unsupportedType >= 0) {
            if (warnings != nullptr) {
                char type[16] = "hex";
                if (unsupportedType != 3)
                    std::snprintf(type, sizeof type, "hex(%x)", static_cast<unsigned>(unsupportedType));
                const std::string name = edit.name.empty() ? "@" : "\"" + edit.name + "\"";
                warnings->push_back(LineError(line.number, "left out " + name + ": values of type " + type +
                                                               " cannot be kept (only strings and dwords)"));
            }
            continue;
        }
        edits->push_back(std::move(edit));
    }
    if (!headerSeen) {
        *error = "not a registry file: the file is empty";
        return false;
    }
    return true;
}

RegFileWriter::RegFileWriter(bool utf16) : utf16_(utf16) { text_ = std::string(utf16 ? kHeader5 : kHeader4) + "\r\n"; }

void RegFileWriter::Section(std::string_view keyPath)
{
    text_ += "\r\n[";
    text_ += FullKeyName(keyPath);
    text_ += "]\r\n";
}

void RegFileWriter::Name(std::string_view name)
{
    if (name.empty()) {
        text_ += '@';
        return;
    }
    text_ += '"';
    AppendEscaped(&text_, name);
    text_ += '"';
}

void RegFileWriter::String(std::string_view name, std::string_view text)
{
    Name(name);
    if (text.find_first_of("\r\n") == std::string_view::npos) {
        text_ += "=\"";
        AppendEscaped(&text_, text);
        text_ += "\"\r\n";
        return;
    }
    // A line break cannot stand inside a quoted text: such texts go out as hex(1), the
    // string type in hexadecimal (ANSI bytes in REGEDIT4, UTF-16LE in Version 5.00).
    std::string bytes;
    if (utf16_) {
        for (char16_t unit : platform::Cp949ToUtf16(text)) {
            bytes.push_back(static_cast<char>(unit & 0xFF));
            bytes.push_back(static_cast<char>(unit >> 8));
        }
        bytes.append(2, '\0');
    } else {
        bytes.assign(text);
        bytes.push_back('\0');
    }
    const std::size_t lineStart = text_.rfind('\n') + 1;
    std::string line = text_.substr(lineStart) + "=hex(1):";
    text_.resize(lineStart);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::string piece = HexByte(static_cast<unsigned char>(bytes[i]));
        if (i + 1 < bytes.size())
            piece += ',';
        if (line.size() + piece.size() > 78) {
            text_ += line + "\\\r\n";
            line = "  ";
        }
        line += piece;
    }
    text_ += line + "\r\n";
}

void RegFileWriter::Dword(std::string_view name, std::uint32_t value)
{
    Name(name);
    char digits[16];
    std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(value));
    text_ += "=dword:";
    text_ += digits;
    text_ += "\r\n";
}

std::string RegFileWriter::Finish() const
{
    const std::string text = text_ + "\r\n";
    if (!utf16_)
        return text;
    std::string out = "\xFF\xFE";
    for (char16_t unit : platform::Cp949ToUtf16(text)) {
        out.push_back(static_cast<char>(unit & 0xFF));
        out.push_back(static_cast<char>(unit >> 8));
    }
    return out;
}

bool RegFileWriter::Representable(std::string_view name)
{
    return name.find_first_of("\r\n") == std::string_view::npos;
}

bool KeyPathBelowRoot(std::string_view given, bool allowBare, std::string* path, std::string* error)
{
    const std::size_t cut = given.find('\\');
    const std::string_view first = given.substr(0, cut);
    std::string_view rest;
    if (EqualsNoCase(first, kRootName) || EqualsNoCase(first, "HKCU")) {
        rest = cut == std::string_view::npos ? std::string_view() : given.substr(cut + 1);
    } else if (StartsWithNoCase(first, "HKEY_") || EqualsNoCase(first, "HKLM") || EqualsNoCase(first, "HKCR") ||
               EqualsNoCase(first, "HKU") || EqualsNoCase(first, "HKCC")) {
        *error = "only HKEY_CURRENT_USER is available, not " + std::string(first);
        return false;
    } else if (!allowBare) {
        *error = "the key name must begin with HKEY_CURRENT_USER: " + std::string(given);
        return false;
    } else {
        rest = given;
        if (Trim(rest).empty()) {
            *error = "empty key name";
            return false;
        }
    }
    while (!rest.empty() && rest.front() == '\\')
        rest.remove_prefix(1);
    while (!rest.empty() && rest.back() == '\\')
        rest.remove_suffix(1);
    *path = std::string(rest);
    return true;
}

std::string FullKeyName(std::string_view path)
{
    std::string name(kRootName);
    if (!path.empty()) {
        name += '\\';
        name += path;
    }
    return name;
}

bool ParseNumber(std::string_view text, std::uint32_t* value)
{
    std::uint64_t v = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        for (char c : text.substr(2)) {
            if (HexDigit(c) < 0)
                return false;
            v = v * 16 + static_cast<std::uint64_t>(HexDigit(c));
            if (v > 0xFFFFFFFFu)
                return false;
        }
    } else {
        if (text.empty())
            return false;
        for (char c : text) {
            if (c < '0' || c > '9')
                return false;
            v = v * 10 + static_cast<std::uint64_t>(c - '0');
            if (v > 0xFFFFFFFFu)
                return false;
        }
    }
    *value = static_cast<std::uint32_t>(v);
    return true;
}

}  // namespace orvanta_reg
