// Runs the built orvanta-reg program against a registry file of the test's own and checks
// its output, its exit codes and what it left in the registry.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const fs::path& p)
{
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& p, const std::string& bytes)
{
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f << bytes;
}

class RegToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/orvanta-reg-tool-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        UseRegistry("registry.db");
    }
    void TearDown() override
    {
        unsetenv("ORVANTA_REGISTRY");
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    void UseRegistry(const std::string& name) { setenv("ORVANTA_REGISTRY", (dir_ / name).c_str(), 1); }

    // Runs the program with `args`; stdin from `input`; the locale is plain C (bytes) unless
    // `locale` says otherwise.
    Result Run(const std::vector<std::string>& args, const std::string& input = "", const char* locale = "C")
    {
        const fs::path in = dir_ / "stdin", out = dir_ / "stdout", err = dir_ / "stderr";
        WriteFile(in, input);
        const pid_t pid = fork();
        if (pid == 0) {
            const int fi = open(in.c_str(), O_RDONLY);
            const int fo = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int fe = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fi < 0 || fo < 0 || fe < 0)
                _exit(127);
            dup2(fi, 0);
            dup2(fo, 1);
            dup2(fe, 2);
            setenv("LC_ALL", locale, 1);
            std::vector<char*> argv;
            std::string program = ORVANTA_REG_PROGRAM;
            argv.push_back(program.data());
            std::vector<std::string> copy = args;
            for (auto& a : copy)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        Result r;
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
            return r;
        r.code = WEXITSTATUS(status);
        r.out = ReadFile(out);
        r.err = ReadFile(err);
        return r;
    }

    // Runs and expects success.
    std::string Ok(const std::vector<std::string>& args, const std::string& input = "")
    {
        const Result r = Run(args, input);
        EXPECT_EQ(r.code, 0) << args[0] << ": " << r.err;
        EXPECT_EQ(r.err, "");
        return r.out;
    }

    static std::string GetString(const char* keyPath, const char* name)
    {
        HKEY key = nullptr;
        if (RegOpenKeyEx(HKEY_CURRENT_USER, keyPath, &key) != ERROR_SUCCESS)
            return "<no key>";
        unsigned char buf[4096];
        DWORD size = sizeof buf, type = 0;
        const LONG rc = RegQueryValueEx(key, name, &type, buf, &size);
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS)
            return "<no value>";
        if (type != REG_SZ)
            return "<type " + std::to_string(type) + ">";
        return std::string(reinterpret_cast<char*>(buf), size - 1);
    }
    static DWORD GetNumber(const char* keyPath, const char* name)
    {
        HKEY key = nullptr;
        if (RegOpenKeyEx(HKEY_CURRENT_USER, keyPath, &key) != ERROR_SUCCESS)
            return 0xDEADBEEF;
        DWORD v = 0, size = sizeof v, type = 0;
        const LONG rc = RegQueryValueEx(key, name, &type, reinterpret_cast<unsigned char*>(&v), &size);
        RegCloseKey(key);
        return rc == ERROR_SUCCESS && type == REG_DWORD ? v : 0xDEADBEEF;
    }
    static bool KeyExists(const char* keyPath)
    {
        HKEY key = nullptr;
        if (RegOpenKeyEx(HKEY_CURRENT_USER, keyPath, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }

    fs::path dir_;
};

const char kDone[] = "The operation completed successfully.\n";

TEST_F(RegToolTest, AddQueryAndDelete)
{
    const std::string option = "HKEY_CURRENT_USER\\Software\\Pellix Technology\\Orvanta\\OPTION";
    EXPECT_EQ(Ok({"add", option, "/v", "POP3_PORT", "/t", "REG_DWORD", "/d", "115"}), kDone);
    Ok({"add", "HKCU\\software\\pellix technology\\orvanta\\option", "/v", "IMAP_PORT", "/t", "reg_dword", "/d",
        "0x90"});
    Ok({"add", "Software\\Pellix Technology\\Orvanta\\OPTION", "/v", "UPDATE_URL", "/d", "http://h/\"x\""});
    Ok({"add", option, "/ve", "/d", "default text"});
    Ok({"add", "Software\\Pellix Technology\\Orvanta\\info"});
    EXPECT_EQ(GetNumber("Software\\Pellix Technology\\Orvanta\\OPTION", "pop3_port"), 115u);
    EXPECT_EQ(GetNumber("Software\\Pellix Technology\\Orvanta\\OPTION", "IMAP_PORT"), 0x90u);

    // The key and value spellings shown are the stored ones, whatever was typed.
    EXPECT_EQ(Ok({"query", "hkcu\\SOFTWARE\\pellix technology\\ORVANTA\\option"}),
              option + "\n"
                       "    POP3_PORT    REG_DWORD    0x73\n"
                       "    IMAP_PORT    REG_DWORD    0x90\n"
                       "    UPDATE_URL    REG_SZ    http://h/\"x\"\n"
                       "    (Default)    REG_SZ    default text\n");
    EXPECT_EQ(Ok({"query", "Software\\Pellix Technology\\Orvanta"}),
              "HKEY_CURRENT_USER\\Software\\Pellix Technology\\Orvanta\n"
              "\n"
              "HKEY_CURRENT_USER\\Software\\Pellix Technology\\Orvanta\\info\n"
              "HKEY_CURRENT_USER\\Software\\Pellix Technology\\Orvanta\\OPTION\n");
    EXPECT_EQ(Ok({"query", option, "update_url"}), option + "\n    UPDATE_URL    REG_SZ    http://h/\"x\"\n");
    EXPECT_EQ(Ok({"query", option, "/ve"}), option + "\n    (Default)    REG_SZ    default text\n");
    const std::string all = Ok({"query", "HKCU\\Software", "/s"});
    EXPECT_NE(all.find("HKEY_CURRENT_USER\\Software\\Pellix Technology\\Orvanta\\info\n"), std::string::npos);
    EXPECT_NE(all.find("    IMAP_PORT    REG_DWORD    0x90\n"), std::string::npos);

    // Rewriting keeps one value; a value may change its type.
    Ok({"add", option, "/v", "pop3_port", "/t", "REG_SZ", "/d", "now text"});
    EXPECT_EQ(GetString("Software\\Pellix Technology\\Orvanta\\OPTION", "POP3_PORT"), "now text");

    EXPECT_EQ(Ok({"delete", option, "/v", "IMAP_port"}), kDone);
    EXPECT_EQ(GetNumber("Software\\Pellix Technology\\Orvanta\\OPTION", "IMAP_PORT"), 0xDEADBEEF);
    Ok({"delete", option, "/ve"});
    EXPECT_EQ(GetString("Software\\Pellix Technology\\Orvanta\\OPTION", ""), "<no value>");
    Ok({"delete", option, "/va"});
    EXPECT_EQ(Ok({"query", option}), option + "\n");

    Ok({"delete", "hkcu\\software\\pellix technology"});
    EXPECT_FALSE(KeyExists("Software\\Pellix Technology"));
    EXPECT_TRUE(KeyExists("Software"));
    const Result gone = Run({"query", option});
    EXPECT_EQ(gone.code, 1);
    EXPECT_EQ(gone.err, "orvanta-reg: key not found: " + option + "\n");
    EXPECT_EQ(gone.out, "");
}

TEST_F(RegToolTest, ExportImportRoundTripIsByteExact)
{
    // Data of every kind the format must carry.
    const std::string korean = "\xC8\xAF\xB0\xE6\xBC\xB3\xC1\xA4";  // 환경설정
    Ok({"add", "HKCU\\Software\\Pellix Technology\\Orvanta\\OPTION", "/v", "POP3_PORT", "/t", "REG_DWORD", "/d",
        "4294967295"});
    Ok({"add", "HKCU\\Software\\Pellix Technology\\Orvanta\\OPTION", "/v", "Path\\\"q\"", "/d",
        "C:\\Program Files\\\"Orvanta\"\\"});
    Ok({"add", "HKCU\\Software\\Pellix Technology\\Orvanta\\" + korean, "/v", korean, "/d", korean + " \x81\x41"});
    Ok({"add", "HKCU\\Software\\Pellix Technology\\Orvanta\\update", "/v", "DATE", "/d", "20261207"});
    Ok({"add", "HKCU\\Software\\Pellix Technology\\Orvanta\\update", "/v", "Multi", "/d", "one\r\ntwo\nthree"});
    Ok({"add", "HKCU\\Software\\Pellix Technology\\Orvanta\\update", "/ve", "/d", ""});
    Ok({"add", "HKCU\\Software\\Empty\\Deeper"});
    Ok({"add", "HKCU", "/v", "AtRoot", "/d", "r"});

    const fs::path first = dir_ / "first.reg";
    EXPECT_EQ(Ok({"export", first.string()}), kDone);
    const std::string text = ReadFile(first);
    EXPECT_EQ(text.rfind("REGEDIT4\r\n", 0), 0u);
    EXPECT_NE(text.find("\r\n[HKEY_CURRENT_USER]\r\n\"AtRoot\"=\"r\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"POP3_PORT\"=dword:ffffffff\r\n"), std::string::npos);
    EXPECT_NE(text.find("\"Path\\\\\\\"q\\\"\"=\"C:\\\\Program Files\\\\\\\"Orvanta\\\"\\\\\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Pellix Technology\\Orvanta\\" + korean + "]\r\n\"" + korean +
                        "\"=\"" + korean + " \x81\x41\"\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("\r\n@=\"\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Empty\\Deeper]\r\n"), std::string::npos);
    EXPECT_EQ(Ok({"export", "-"}), text);  // the same on standard output

    // Into an empty registry and out again: the same bytes.
    UseRegistry("second.db");
    EXPECT_EQ(Ok({"import", first.string()}), kDone);
    const fs::path second = dir_ / "second.reg";
    Ok({"export", second.string()});
    EXPECT_EQ(ReadFile(second), text);
    EXPECT_EQ(GetString("Software\\Pellix Technology\\Orvanta\\update", "multi"), "one\r\ntwo\nthree");
    EXPECT_EQ(GetString(("Software\\Pellix Technology\\Orvanta\\" + korean).c_str(), korean.c_str()),
              korean + " \x81\x41");
    EXPECT_EQ(GetNumber("Software\\Pellix Technology\\Orvanta\\OPTION", "POP3_PORT"), 0xFFFFFFFFu);

    // Through a UTF-16 "Version 5.00" file, from standard input, into a third registry.
    const std::string utf16 = Ok({"export", "-", "/utf16"});
    ASSERT_GE(utf16.size(), 2u);
    EXPECT_EQ(utf16.substr(0, 2), "\xFF\xFE");
    UseRegistry("third.db");
    Ok({"import", "-"}, utf16);
    EXPECT_EQ(Ok({"export", "-"}), text);

    // Exporting one key writes only that subtree.
    EXPECT_EQ(Ok({"export", "HKCU\\software\\empty", "-"}),
              "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Empty]\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software\\Empty\\Deeper]\r\n\r\n");
}

TEST_F(RegToolTest, ImportDeletesAndRefusesBrokenFiles)
{
    Ok({"add", "HKCU\\Software\\A\\B", "/v", "keep", "/d", "1"});
    Ok({"add", "HKCU\\Software\\A\\B", "/v", "drop", "/d", "2"});
    Ok({"add", "HKCU\\Software\\Old\\Child", "/v", "x", "/d", "3"});
    const fs::path edits = dir_ / "edits.reg";
    WriteFile(edits, "Windows Registry Editor Version 5.00\n"
                     "\n"
                     "[-HKEY_CURRENT_USER\\Software\\Old]\n"
                     "[-HKEY_CURRENT_USER\\Software\\NeverWas]\n"
                     "[HKEY_CURRENT_USER\\Software\\A\\B]\n"
                     "\"DROP\"=-\n"
                     "\"absent\"=-\n"
                     "\"new\"=dword:0000000a\n");
    EXPECT_EQ(Ok({"import", edits.string()}), kDone);
    EXPECT_FALSE(KeyExists("Software\\Old"));
    EXPECT_EQ(GetString("Software\\A\\B", "keep"), "1");
    EXPECT_EQ(GetString("Software\\A\\B", "drop"), "<no value>");
    EXPECT_EQ(GetNumber("Software\\A\\B", "new"), 10u);

    // A value of a type this registry cannot hold is left out with a note; the rest goes in.
    WriteFile(edits, "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\A\\B]\n\"bin\"=hex:01,02\n\"after\"=\"yes\"\n");
    const Result noted = Run({"import", edits.string()});
    EXPECT_EQ(noted.code, 0);
    EXPECT_EQ(noted.err,
              "orvanta-reg: import: " + edits.string() +
                  ": line 3: left out \"bin\": values of type hex cannot be kept (only strings and dwords)\n");
    EXPECT_EQ(GetString("Software\\A\\B", "after"), "yes");

    // A file with a fault changes nothing, not even the lines before the fault.
    const fs::path broken = dir_ / "broken.reg";
    WriteFile(broken, "REGEDIT4\n"
                      "[-HKEY_CURRENT_USER\\Software\\A]\n"
                      "[HKEY_CURRENT_USER\\Software\\C]\n"
                      "\"n\"=dword:xyz\n");
    const Result r = Run({"import", broken.string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "orvanta-reg: import: " + broken.string() +
                         ": line 4: a dword needs 1 to 8 hexadecimal digits (nothing imported)\n");
    EXPECT_TRUE(KeyExists("Software\\A\\B"));
    EXPECT_FALSE(KeyExists("Software\\C"));

    // Names with a line break cannot go into the file: the rest is exported, the run fails.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Bad\nName", &key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key, "line\nbreak", REG_SZ, reinterpret_cast<const unsigned char*>("x"), 2), ERROR_SUCCESS);
    RegCloseKey(key);
    const Result partial = Run({"export", "-"});
    EXPECT_EQ(partial.code, 1);
    EXPECT_NE(partial.err.find("left out the key \"Bad\nName\" below HKEY_CURRENT_USER\\Software"), std::string::npos)
        << partial.err;
    EXPECT_NE(partial.err.find("export: 1 name(s) left out"), std::string::npos);
    EXPECT_NE(partial.out.find("\"new\"=dword:0000000a"), std::string::npos);

    const Result missing = Run({"import", (dir_ / "nope.reg").string()});
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("cannot read"), std::string::npos);
    const Result unwritable = Run({"export", (dir_ / "no" / "such" / "dir.reg").string()});
    EXPECT_EQ(unwritable.code, 1);
    EXPECT_NE(unwritable.err.find("cannot write"), std::string::npos);
}

TEST_F(RegToolTest, BadArgumentsAndMissingThings)
{
    Ok({"add", "HKCU\\Software\\K", "/v", "v", "/d", "x"});
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string message;
    } cases[] = {
        {{}, 2, "Usage: orvanta-reg"},
        {{"frobnicate"}, 2, "unknown command frobnicate"},
        {{"query"}, 2, "query: KEY is missing"},
        {{"query", "HKLM\\Software"}, 2, "only HKEY_CURRENT_USER is available, not HKLM"},
        {{"query", "HKEY_LOCAL_MACHINE\\Software"}, 2, "only HKEY_CURRENT_USER"},
        {{"query", "HKCU\\Software\\K", "v", "/v", "w"}, 2, "either as VALUE or with /v"},
        {{"query", "HKCU\\Software\\K", "/x"}, 2, "unknown option /x"},
        {{"query", "HKCU\\Software\\Nope"}, 1, "key not found: HKEY_CURRENT_USER\\Software\\Nope"},
        {{"query", "HKCU\\Software\\K", "w"}, 1, "value not found: w in HKEY_CURRENT_USER\\Software\\K"},
        {{"add"}, 2, "add: KEY is missing"},
        {{"add", "K", "/v"}, 2, "/v needs an argument"},
        {{"add", "K", "/v", "a", "/t", "REG_BINARY", "/d", "00"}, 2, "unsupported type REG_BINARY"},
        {{"add", "K", "/v", "a", "/t", "REG_DWORD"}, 2, "a REG_DWORD needs /d NUMBER"},
        {{"add", "K", "/v", "a", "/t", "REG_DWORD", "/d", "12x"}, 2, "not a 32-bit number: 12x"},
        {{"add", "K", "/v", "a", "/t", "REG_DWORD", "/d", "4294967296"}, 2, "not a 32-bit number"},
        {{"add", "K", "/d", "x"}, 2, "/t and /d need /v NAME or /ve"},
        {{"add", "K", "/v", "a", "/ve"}, 2, "only one of /v, /ve and /va"},
        {{"add", "K", "/v", "a", "/d", "x", "/d", "y"}, 2, "/d given twice"},
        {{"add", "Two", "Words"}, 2, "too many arguments"},
        {{"add", ""}, 2, "empty key name"},
        {{"delete", "HKCU"}, 2, "HKEY_CURRENT_USER itself cannot be deleted"},
        {{"delete", "HKCU\\Software\\Nope"}, 1, "key not found"},
        {{"delete", "HKCU\\Software\\K", "/v", "w"}, 1, "value not found: w"},
        {{"delete", "HKCU\\Software\\K", "/ve"}, 1, "value not found: (Default)"},
        {{"export"}, 2, "export: FILE is missing"},
        {{"export", "HKCU\\Nope", "-"}, 1, "key not found"},
        {{"import"}, 2, "import: FILE is missing"},
    };
    for (const auto& c : cases) {
        const Result r = Run(c.args);
        std::string shown;
        for (const auto& a : c.args)
            shown += a + " ";
        EXPECT_EQ(r.code, c.code) << shown << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << shown << "\n" << r.err;
    }
    // An unusable database file is named in the message.
    WriteFile(dir_ / "junk.db", "not a database");
    UseRegistry("junk.db");
    const Result junk = Run({"query", "HKCU"});
    EXPECT_EQ(junk.code, 1);
    EXPECT_EQ(junk.err,
              "orvanta-reg: cannot open or write the registry database " + (dir_ / "junk.db").string() + "\n");
    UseRegistry("registry.db");

    // Nothing above changed the key.
    EXPECT_EQ(GetString("Software\\K", "v"), "x");
    EXPECT_FALSE(KeyExists("K"));
    EXPECT_EQ(Run({"--help"}).code, 0);
}

TEST_F(RegToolTest, Utf8TerminalTypesAndShowsKorean)
{
    // In a UTF-8 locale the arguments become CP949 in the registry and query shows UTF-8;
    // bytes that are not UTF-8 are taken as CP949 already.
    const std::string utf8 = "\xED\x99\x98\xEA\xB2\xBD";  // 환경
    const std::string cp949 = "\xC8\xAF\xB0\xE6";
    Result r = Run({"add", "HKCU\\Software\\" + utf8, "/v", utf8, "/d", utf8}, "", "C.UTF-8");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(GetString(("Software\\" + cp949).c_str(), cp949.c_str()), cp949);
    r = Run({"query", "HKCU\\Software\\" + utf8}, "", "C.UTF-8");
    EXPECT_EQ(r.out, "HKEY_CURRENT_USER\\Software\\" + utf8 + "\n    " + utf8 + "    REG_SZ    " + utf8 + "\n");
    r = Run({"add", "HKCU\\Software\\" + utf8, "/v", "raw", "/d", cp949}, "", "C.UTF-8");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(GetString(("Software\\" + cp949).c_str(), "raw"), cp949);
    // In the C locale the bytes pass unchanged both ways.
    EXPECT_EQ(Ok({"query", "HKCU\\Software\\" + cp949, "raw"}),
              "HKEY_CURRENT_USER\\Software\\" + cp949 + "\n    raw    REG_SZ    " + cp949 + "\n");
}

}  // namespace
