#include "tools/orvanta-reg/reg_commands.h"

#include <langinfo.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>

#include "platform/codepage.h"
#include "platform/registry.h"
#include "tools/orvanta-reg/reg_file.h"

namespace orvanta_reg {

using platform::DWORD;
using platform::HKEY;
using platform::HKEY_CURRENT_USER;
using platform::LONG;

namespace {

const char kUsage[] =
    "Usage: orvanta-reg COMMAND ...\n"
    "  query  KEY [VALUE | /v VALUE | /ve] [/s]     show a key's values and subkeys (/s: all below)\n"
    "  add    KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD] [/d DATA] [/f]\n"
    "                                               create a key, or set a value (REG_SZ by default;\n"
    "                                               a REG_DWORD is decimal or 0x hexadecimal)\n"
    "  delete KEY [/v NAME | /ve | /va] [/f]        delete a key with everything below it, one value,\n"
    "                                               the default value or all values\n"
    "  export [KEY] FILE [/utf16]                   write HKEY_CURRENT_USER (or KEY) as a .reg file;\n"
    "                                               REGEDIT4 bytes, or Version 5.00 UTF-16LE; FILE - is\n"
    "                                               standard output\n"
    "  import FILE                                  apply a .reg file (FILE - is standard input)\n"
    "KEY is HKEY_CURRENT_USER\\path, HKCU\\path or just path; names ignore ASCII case.\n"
    "The registry database is $ORVANTA_REGISTRY, else $XDG_CONFIG_HOME/orvanta/registry.db.\n";

const char kDone[] = "The operation completed successfully.\n";

bool IsUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        if (n == 0 || (n == 2 && c < 0xC2) || i + n > s.size())
            return false;
        for (std::size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += n;
    }
    return true;
}

// The registry's texts are CP949. In a UTF-8 terminal the names and data typed on the
// command line are converted to CP949 and what query shows is converted back, so Korean
// reads as Korean; arguments that are not valid UTF-8 are taken as CP949 bytes already.
// Files (.reg) are never converted: export and import are byte-exact.
struct Console {
    bool utf8 = false;
    std::string In(const std::string& s) const { return utf8 && IsUtf8(s) ? platform::Utf8ToCp949(s) : s; }
    std::string Out(std::string_view s) const { return utf8 ? platform::Cp949ToUtf8(s) : std::string(s); }
};
Console g_console;

// A handle closed when it goes out of scope.
class Key {
public:
    Key() = default;
    explicit Key(HKEY key) : key_(key) {}
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() { Reset(); }
    void Reset(HKEY key = nullptr)
    {
        if (key_ != nullptr)
            platform::RegCloseKey(key_);
        key_ = key;
    }
    HKEY get() const { return key_; }
    HKEY Release()
    {
        HKEY key = key_;
        key_ = nullptr;
        return key;
    }
    HKEY* out()
    {
        Reset();
        return &key_;
    }

private:
    HKEY key_ = nullptr;
};

struct Value {
    std::string name;
    DWORD type = platform::REG_NONE;
    std::string data;  // REG_SZ: the text without its terminator; REG_DWORD: 4 bytes
    std::uint32_t Number() const
    {
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < 4 && i < data.size(); ++i)
            v |= static_cast<std::uint32_t>(static_cast<unsigned char>(data[i])) << (8 * i);
        return v;
    }
};

// A failure that ends the command: the message and the exit code.
struct Failure {
    std::string message;
    int code = kExitFailed;
};

std::string RegistryError(LONG rc)
{
    switch (rc) {
    case platform::ERROR_CANTOPEN:
        return "cannot open or write the registry database " + platform::RegistryDatabasePath();
    case platform::ERROR_KEY_DELETED: return "the key was deleted meanwhile";
    case platform::ERROR_INVALID_PARAMETER: return "the registry refused the request (invalid parameter)";
    default: return "registry error " + std::to_string(rc);
    }
}

void Check(LONG rc, const std::string& what)
{
    if (rc == platform::ERROR_SUCCESS)
        return;
    if (rc == platform::ERROR_FILE_NOT_FOUND)
        throw Failure{what};
    throw Failure{RegistryError(rc)};
}

std::string DisplayValueName(const std::string& name) { return name.empty() ? "(Default)" : name; }

// The key's values in creation order. Sizes are re-asked when a value grows in between.
std::vector<Value> ReadValues(HKEY key)
{
    std::vector<Value> values;
    std::vector<char> name(256);
    std::vector<unsigned char> data(1024);
    for (DWORD index = 0;; ++index) {
        LONG rc = platform::ERROR_MORE_DATA;
        DWORD nameSize = 0, dataSize = 0, type = 0;
        for (int attempt = 0; attempt < 16 && rc == platform::ERROR_MORE_DATA; ++attempt) {
            nameSize = static_cast<DWORD>(name.size());
            dataSize = static_cast<DWORD>(data.size());
            rc = platform::RegEnumValue(key, index, name.data(), &nameSize, &type, data.data(), &dataSize);
            if (rc == platform::ERROR_MORE_DATA) {
                if (nameSize > name.size())
                    name.resize(nameSize);
                if (dataSize > data.size())
                    data.resize(dataSize);
            }
        }
        if (rc == platform::ERROR_NO_MORE_ITEMS)
            return values;
        Check(rc, "cannot read the values");
        Value v;
        v.name.assign(name.data(), nameSize);
        v.type = type;
        std::size_t size = dataSize;
        if (type == platform::REG_SZ && size > 0 && data[size - 1] == 0)
            --size;
        v.data.assign(reinterpret_cast<const char*>(data.data()), size);
        values.push_back(std::move(v));
    }
}

std::vector<std::string> ReadSubkeys(HKEY key)
{
    std::vector<std::string> names;
    std::vector<char> name(256);
    for (DWORD index = 0;; ++index) {
        LONG rc = platform::ERROR_MORE_DATA;
        DWORD size = 0;
        for (int attempt = 0; attempt < 16 && rc == platform::ERROR_MORE_DATA; ++attempt) {
            size = static_cast<DWORD>(name.size());
            rc = platform::RegEnumKeyEx(key, index, name.data(), &size);
            if (rc == platform::ERROR_MORE_DATA && size > name.size())
                name.resize(size);
        }
        if (rc == platform::ERROR_NO_MORE_ITEMS)
            return names;
        Check(rc, "cannot read the subkeys");
        names.emplace_back(name.data(), size);
    }
}

std::optional<Value> ReadValue(HKEY key, const std::string& valueName)
{
    DWORD type = 0, size = 0;
    LONG rc = platform::RegQueryValueEx(key, valueName.c_str(), &type, nullptr, &size);
    std::vector<unsigned char> data;
    for (int attempt = 0; attempt < 16 && rc == platform::ERROR_SUCCESS; ++attempt) {
        data.resize(size);
        rc = platform::RegQueryValueEx(key, valueName.c_str(), &type, data.data(), &size);
        if (rc == platform::ERROR_MORE_DATA) {
            rc = platform::ERROR_SUCCESS;  // grew meanwhile: ask again with the new size
            continue;
        }
        break;
    }
    if (rc == platform::ERROR_FILE_NOT_FOUND)
        return std::nullopt;
    Check(rc, "cannot read the value");
    Value v;
    v.name = valueName;
    v.type = type;
    std::size_t n = size;
    if (type == platform::REG_SZ && n > 0 && data[n - 1] == 0)
        --n;
    v.data.assign(reinterpret_cast<const char*>(data.data()), n);
    return v;
}

void PrintValue(std::ostream& out, const Value& v)
{
    out << "    " << DisplayValueName(v.name) << "    ";
    if (v.type == platform::REG_SZ) {
        out << "REG_SZ    " << v.data << '\n';
    } else if (v.type == platform::REG_DWORD) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(v.Number()));
        out << "REG_DWORD    " << hex << '\n';
    } else {
        out << "REG_NONE(" << v.type << ")\n";
    }
}

// Options shared by the commands: positional arguments and "/x [argument]" flags.
struct Options {
    std::vector<std::string> positional;
    std::optional<std::string> valueName;  // /v NAME, or "" for /ve
    bool allValues = false;                // /va
    std::optional<std::string> type;       // /t
    std::optional<std::string> data;       // /d
    bool recursive = false;                // /s
    bool utf16 = false;                    // /utf16
};

bool IsFlag(const std::string& arg, const char* flag)
{
    if (arg.size() != std::char_traits<char>::length(flag))
        return false;
    for (std::size_t i = 0; i < arg.size(); ++i) {
        char c = arg[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != flag[i])
            return false;
    }
    return true;
}

// Parses the arguments after the command; `allowed` lists the flags the command knows.
Options ParseOptions(const std::string& command, const std::vector<std::string>& args,
                     const std::vector<const char*>& allowed)
{
    Options o;
    auto known = [&](const char* flag) {
        for (const char* a : allowed) {
            if (std::string_view(a) == flag)
                return true;
        }
        return false;
    };
    auto usage = [&](const std::string& why) { return Failure{command + ": " + why, kExitUsage}; };
    auto argument = [&](std::size_t& i, const char* flag) {
        if (i + 1 >= args.size())
            throw usage(std::string(flag) + " needs an argument");
        return args[++i];
    };
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        // "/word" is an option; anything else starting with '/' ("/tmp/x.reg") is an argument.
        bool flag = a.size() > 1 && a[0] == '/';
        for (std::size_t k = 1; flag && k < a.size(); ++k) {
            flag = (a[k] >= 'a' && a[k] <= 'z') || (a[k] >= 'A' && a[k] <= 'Z') || (a[k] >= '0' && a[k] <= '9');
        }
        const char* matched = nullptr;
        if (flag) {
            for (const char* f : {"/v", "/ve", "/va", "/t", "/d", "/f", "/s", "/utf16", "/y"}) {
                if (IsFlag(a, f))
                    matched = f;
            }
            if (matched == nullptr || !known(matched))
                throw usage("unknown option " + a);
        }
        if (matched == nullptr) {
            o.positional.push_back(a);
        } else if (std::string_view(matched) == "/v" || std::string_view(matched) == "/ve") {
            if (o.valueName || o.allValues)
                throw usage("give only one of /v, /ve and /va");
            o.valueName = std::string_view(matched) == "/v" ? g_console.In(argument(i, "/v")) : std::string();
        } else if (std::string_view(matched) == "/va") {
            if (o.valueName || o.allValues)
                throw usage("give only one of /v, /ve and /va");
            o.allValues = true;
        } else if (std::string_view(matched) == "/t") {
            if (o.type)
                throw usage("/t given twice");
            o.type = argument(i, "/t");
        } else if (std::string_view(matched) == "/d") {
            if (o.data)
                throw usage("/d given twice");
            o.data = g_console.In(argument(i, "/d"));
        } else if (std::string_view(matched) == "/s") {
            o.recursive = true;
        } else if (std::string_view(matched) == "/utf16") {
            o.utf16 = true;
        }
        // /f and /y (no prompts) are accepted for habit's sake: this tool never asks.
    }
    return o;
}

std::string KeyArgument(const std::string& command, const std::string& given)
{
    std::string path, why;
    if (!KeyPathBelowRoot(g_console.In(given), true, &path, &why))
        throw Failure{command + ": " + why, kExitUsage};
    return path;
}

void OpenExisting(const std::string& path, Key* key)
{
    Check(platform::RegOpenKeyEx(HKEY_CURRENT_USER, path.c_str(), key->out()), "key not found: " + FullKeyName(path));
}

void QueryTree(std::ostream& out, HKEY key, const std::string& path, bool recursive, bool first)
{
    if (!first)
        out << '\n';
    out << FullKeyName(path) << '\n';
    for (const Value& v : ReadValues(key))
        PrintValue(out, v);
    const auto subkeys = ReadSubkeys(key);
    if (!recursive) {
        if (!subkeys.empty())
            out << '\n';
        for (const auto& sub : subkeys)
            out << FullKeyName(path.empty() ? sub : path + "\\" + sub) << '\n';
        return;
    }
    for (const auto& sub : subkeys) {
        Key child;
        if (platform::RegOpenKeyEx(key, sub.c_str(), child.out()) != platform::ERROR_SUCCESS)
            continue;  // gone meanwhile
        QueryTree(out, child.get(), path.empty() ? sub : path + "\\" + sub, true, false);
    }
}

// The path as the registry spells it (each component in its first writer's case).
std::string StoredPath(const std::string& path)
{
    std::string stored;
    Key current;
    HKEY parent = HKEY_CURRENT_USER;
    std::string_view rest = path;
    while (!rest.empty()) {
        const std::size_t cut = rest.find('\\');
        std::string part(rest.substr(0, cut));
        rest.remove_prefix(cut == std::string_view::npos ? rest.size() : cut + 1);
        if (part.empty())
            continue;
        for (const auto& sub : ReadSubkeys(parent)) {
            if (platform::RegNamesEqual(sub, part)) {
                part = sub;
                break;
            }
        }
        stored += stored.empty() ? part : "\\" + part;
        Key child;
        if (platform::RegOpenKeyEx(parent, part.c_str(), child.out()) != platform::ERROR_SUCCESS) {
            if (!rest.empty())
                stored += "\\" + std::string(rest);
            break;
        }
        current.Reset(child.Release());
        parent = current.get();
    }
    return stored;
}

int Query(const std::vector<std::string>& args, std::ostream& out)
{
    Options o = ParseOptions("query", args, {"/v", "/ve", "/s"});
    if (o.positional.empty())
        throw Failure{"query: KEY is missing", kExitUsage};
    if (o.positional.size() > 2)
        throw Failure{"query: too many arguments", kExitUsage};
    if (o.positional.size() == 2) {
        if (o.valueName)
            throw Failure{"query: give the value either as VALUE or with /v", kExitUsage};
        o.valueName = g_console.In(o.positional[1]);
    }
    std::string path = KeyArgument("query", o.positional[0]);
    Key key;
    OpenExisting(path, &key);
    path = StoredPath(path);
    std::ostringstream text;
    if (o.valueName) {
        auto v = ReadValue(key.get(), *o.valueName);
        if (!v)
            throw Failure{"value not found: " + DisplayValueName(*o.valueName) + " in " + FullKeyName(path)};
        for (const Value& each : ReadValues(key.get())) {
            if (platform::RegNamesEqual(each.name, v->name))
                v->name = each.name;
        }
        text << FullKeyName(path) << '\n';
        PrintValue(text, *v);
    } else {
        QueryTree(text, key.get(), path, o.recursive, true);
    }
    out << g_console.Out(text.str());
    return kExitOk;
}

int Add(const std::vector<std::string>& args, std::ostream& out)
{
    const Options o = ParseOptions("add", args, {"/v", "/ve", "/t", "/d", "/f"});
    if (o.positional.empty())
        throw Failure{"add: KEY is missing", kExitUsage};
    if (o.positional.size() > 1)
        throw Failure{"add: too many arguments (quote names with spaces)", kExitUsage};
    if (!o.valueName && (o.type || o.data))
        throw Failure{"add: /t and /d need /v NAME or /ve", kExitUsage};
    const std::string path = KeyArgument("add", o.positional[0]);

    DWORD type = platform::REG_SZ;
    std::uint32_t number = 0;
    if (o.type) {
        if (IsFlag(*o.type, "reg_sz")) {
            type = platform::REG_SZ;
        } else if (IsFlag(*o.type, "reg_dword")) {
            type = platform::REG_DWORD;
        } else {
            throw Failure{"add: unsupported type " + *o.type + " (REG_SZ or REG_DWORD)", kExitUsage};
        }
    }
    if (type == platform::REG_DWORD) {
        if (!o.data)
            throw Failure{"add: a REG_DWORD needs /d NUMBER", kExitUsage};
        if (!ParseNumber(*o.data, &number)) {
            throw Failure{"add: not a 32-bit number: " + *o.data + " (decimal, or hexadecimal with 0x)", kExitUsage};
        }
    }

    Key key;
    Check(platform::RegCreateKeyEx(HKEY_CURRENT_USER, path.c_str(), key.out()), "cannot create " + FullKeyName(path));
    if (o.valueName) {
        LONG rc;
        if (type == platform::REG_DWORD) {
            rc = platform::RegSetValueEx(key.get(), o.valueName->c_str(), type,
                                         reinterpret_cast<const unsigned char*>(&number), sizeof number);
        } else {
            const std::string text = o.data.value_or("");
            rc = platform::RegSetValueEx(key.get(), o.valueName->c_str(), type,
                                         reinterpret_cast<const unsigned char*>(text.c_str()),
                                         static_cast<DWORD>(text.size() + 1));
        }
        Check(rc, "cannot write the value");
    }
    out << kDone;
    return kExitOk;
}

int Delete(const std::vector<std::string>& args, std::ostream& out)
{
    const Options o = ParseOptions("delete", args, {"/v", "/ve", "/va", "/f"});
    if (o.positional.empty())
        throw Failure{"delete: KEY is missing", kExitUsage};
    if (o.positional.size() > 1)
        throw Failure{"delete: too many arguments (quote names with spaces)", kExitUsage};
    const std::string path = KeyArgument("delete", o.positional[0]);

    if (!o.valueName && !o.allValues) {
        if (path.empty())
            throw Failure{"delete: HKEY_CURRENT_USER itself cannot be deleted", kExitUsage};
        Check(platform::RegDeleteKey(HKEY_CURRENT_USER, path.c_str()), "key not found: " + FullKeyName(path));
        out << kDone;
        return kExitOk;
    }
    Key key;
    OpenExisting(path, &key);
    if (o.allValues) {
        for (const Value& v : ReadValues(key.get())) {
            const LONG rc = platform::RegDeleteValue(key.get(), v.name.c_str());
            if (rc != platform::ERROR_FILE_NOT_FOUND)
                Check(rc, "cannot delete the value");
        }
    } else {
        Check(platform::RegDeleteValue(key.get(), o.valueName->c_str()),
              "value not found: " + DisplayValueName(*o.valueName) + " in " + FullKeyName(path));
    }
    out << kDone;
    return kExitOk;
}

// Writes key and everything below it; *leftOut counts the names the format cannot carry.
void ExportTree(RegFileWriter& writer, HKEY key, const std::string& path, std::ostream& err, int* leftOut)
{
    const auto values = ReadValues(key);
    // The root gets a section only when it holds values of its own.
    if (!path.empty() || !values.empty())
        writer.Section(path);
    for (const Value& v : values) {
        if (!RegFileWriter::Representable(v.name)) {
            err << "orvanta-reg: export: left out the value \"" << v.name << "\" of " << FullKeyName(path)
                << ": a line break in a name cannot be written\n";
            ++*leftOut;
            continue;
        }
        if (v.type == platform::REG_SZ) {
            writer.String(v.name, v.data);
        } else if (v.type == platform::REG_DWORD) {
            writer.Dword(v.name, v.Number());
        }
    }
    for (const auto& sub : ReadSubkeys(key)) {
        if (!RegFileWriter::Representable(sub)) {
            err << "orvanta-reg: export: left out the key \"" << sub << "\" below " << FullKeyName(path)
                << ": a line break in a name cannot be written\n";
            ++*leftOut;
            continue;
        }
        Key child;
        if (platform::RegOpenKeyEx(key, sub.c_str(), child.out()) != platform::ERROR_SUCCESS)
            continue;  // gone meanwhile
        ExportTree(writer, child.get(), path.empty() ? sub : path + "\\" + sub, err, leftOut);
    }
}

int Export(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    const Options o = ParseOptions("export", args, {"/utf16", "/y"});
    if (o.positional.empty())
        throw Failure{"export: FILE is missing", kExitUsage};
    if (o.positional.size() > 2)
        throw Failure{"export: too many arguments", kExitUsage};
    const std::string file = o.positional.back();
    std::string path = o.positional.size() == 2 ? KeyArgument("export", o.positional[0]) : std::string();

    Key key;
    OpenExisting(path, &key);
    path = StoredPath(path);
    RegFileWriter writer(o.utf16);
    int leftOut = 0;
    ExportTree(writer, key.get(), path, err, &leftOut);
    const std::string bytes = writer.Finish();
    if (file == "-") {
        out << bytes;
    } else {
        std::ofstream f(file, std::ios::binary | std::ios::trunc);
        f << bytes;
        f.close();
        if (!f)
            throw Failure{"export: cannot write " + file};
    }
    // The rest is written, but an incomplete export must not pass for a complete one.
    if (leftOut > 0)
        throw Failure{"export: " + std::to_string(leftOut) + " name(s) left out, see above"};
    if (file != "-")
        out << kDone;
    return kExitOk;
}

int Import(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    const Options o = ParseOptions("import", args, {});
    if (o.positional.empty())
        throw Failure{"import: FILE is missing", kExitUsage};
    if (o.positional.size() > 1)
        throw Failure{"import: too many arguments", kExitUsage};
    const std::string& file = o.positional[0];

    std::string content;
    if (file == "-") {
        content.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        std::ifstream f(file, std::ios::binary);
        if (!f)
            throw Failure{"import: cannot read " + file};
        content.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
        if (f.bad())
            throw Failure{"import: cannot read " + file};
    }
    std::vector<RegEdit> edits;
    std::vector<std::string> warnings;
    std::string why;
    // Nothing is applied from a file that does not parse as a whole.
    if (!ParseRegFile(content, &edits, &why, &warnings)) {
        throw Failure{"import: " + file + ": " + why + " (nothing imported)"};
    }
    for (const auto& w : warnings)
        err << "orvanta-reg: import: " << file << ": " << g_console.Out(w) << '\n';

    Key key;
    std::optional<std::string> keyPath;  // the key `key` is open on
    for (const RegEdit& e : edits) {
        const std::string where = "import: " + file + ": line " + std::to_string(e.line) + ": ";
        auto fail = [&](LONG rc) { throw Failure{where + RegistryError(rc)}; };
        switch (e.kind) {
        case RegEdit::Kind::kCreateKey:
        case RegEdit::Kind::kSetString:
        case RegEdit::Kind::kSetDword:
            if (keyPath != e.key) {
                keyPath.reset();
                if (const LONG rc = platform::RegCreateKeyEx(HKEY_CURRENT_USER, e.key.c_str(), key.out());
                    rc != platform::ERROR_SUCCESS) {
                    fail(rc);
                }
                keyPath = e.key;
            }
            if (e.kind == RegEdit::Kind::kSetString) {
                const LONG rc = platform::RegSetValueEx(key.get(), e.name.c_str(), platform::REG_SZ,
                                                        reinterpret_cast<const unsigned char*>(e.text.c_str()),
                                                        static_cast<DWORD>(e.text.size() + 1));
                if (rc != platform::ERROR_SUCCESS)
                    fail(rc);
            } else if (e.kind == RegEdit::Kind::kSetDword) {
                const LONG rc =
                    platform::RegSetValueEx(key.get(), e.name.c_str(), platform::REG_DWORD,
                                            reinterpret_cast<const unsigned char*>(&e.number), sizeof e.number);
                if (rc != platform::ERROR_SUCCESS)
                    fail(rc);
            }
            break;
        case RegEdit::Kind::kDeleteKey: {
            key.Reset();
            keyPath.reset();
            const LONG rc = platform::RegDeleteKey(HKEY_CURRENT_USER, e.key.c_str());
            if (rc != platform::ERROR_SUCCESS && rc != platform::ERROR_FILE_NOT_FOUND)
                fail(rc);
            break;
        }
        case RegEdit::Kind::kDeleteValue: {
            Key target;
            LONG rc = platform::RegOpenKeyEx(HKEY_CURRENT_USER, e.key.c_str(), target.out());
            if (rc == platform::ERROR_SUCCESS)
                rc = platform::RegDeleteValue(target.get(), e.name.c_str());
            if (rc != platform::ERROR_SUCCESS && rc != platform::ERROR_FILE_NOT_FOUND)
                fail(rc);
            break;
        }
        }
    }
    out << kDone;
    return kExitOk;
}

}  // namespace

int RunCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (args.empty()) {
        err << kUsage;
        return kExitUsage;
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "/?" || command == "help") {
        out << kUsage;
        return kExitOk;
    }
    g_console.utf8 = std::string_view(nl_langinfo(CODESET)) == "UTF-8";
    try {
        if (IsFlag(command, "query"))
            return Query(args, out);
        if (IsFlag(command, "add"))
            return Add(args, out);
        if (IsFlag(command, "delete"))
            return Delete(args, out);
        if (IsFlag(command, "export"))
            return Export(args, out, err);
        if (IsFlag(command, "import"))
            return Import(args, out, err);
        err << "orvanta-reg: unknown command " << command << "\n" << kUsage;
        return kExitUsage;
    } catch (const Failure& f) {
        err << "orvanta-reg: " << g_console.Out(f.message) << '\n';
        if (f.code == kExitUsage)
            err << "Run orvanta-reg --help for the usage.\n";
        return f.code;
    }
}

}  // namespace orvanta_reg
