#include "tools/orvanta-reg/reg_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace orvanta_reg;
using Kind = RegEdit::Kind;

namespace {

std::vector<RegEdit> Parse(const std::string& content)
{
    std::vector<RegEdit> edits;
    std::string error;
    EXPECT_TRUE(ParseRegFile(content, &edits, &error)) << error;
    return edits;
}

std::string ParseError(const std::string& content)
{
    std::vector<RegEdit> edits;
    std::string error;
    EXPECT_FALSE(ParseRegFile(content, &edits, &error)) << content;
    return error;
}

TEST(RegFileParse, SectionsValuesEscapesAndDeletions)
{
    const std::string file = "REGEDIT4\r\n"
                             "\r\n"
                             "; a comment\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Pellix Technology\\Orvanta\\OPTION]\r\n"
                             "\"POP3_PORT\"=dword:00000073\r\n"
                             "\"Path\"=\"C:\\\\Orvanta \\\"x\\\"\"\r\n"
                             "@=\"default\"\r\n"
                             "\"Odd\\q\" = \"keeps \\n as it is\"\r\n"
                             "\"Gone\"=-\r\n"
                             "\"Lines\"=hex(1):61,0a,\\\r\n"
                             "  62,00\r\n"
                             "\"Le\"=hex(4):0a,00,00,01\n"
                             "\n"
                             "[-HKCU\\Software\\Old]\n"
                             "\"ignored\"=\"below a deleted key\"\n"
                             "[HKCU]\n"
                             "\"atRoot\"=dword:1\n";
    const auto edits = Parse(file);
    ASSERT_EQ(edits.size(), 11u);
    const std::string option = "Software\\Pellix Technology\\Orvanta\\OPTION";
    EXPECT_EQ(edits[0].kind, Kind::kCreateKey);
    EXPECT_EQ(edits[0].key, option);
    EXPECT_EQ(edits[0].line, 4);
    EXPECT_EQ(edits[1].kind, Kind::kSetDword);
    EXPECT_EQ(edits[1].name, "POP3_PORT");
    EXPECT_EQ(edits[1].number, 0x73u);
    EXPECT_EQ(edits[1].key, option);
    EXPECT_EQ(edits[2].kind, Kind::kSetString);
    EXPECT_EQ(edits[2].text, "C:\\Orvanta \"x\"");
    EXPECT_EQ(edits[3].name, "");
    EXPECT_EQ(edits[3].text, "default");
    EXPECT_EQ(edits[4].name, "Odd\\q");
    EXPECT_EQ(edits[4].text, "keeps \\n as it is");
    EXPECT_EQ(edits[5].kind, Kind::kDeleteValue);
    EXPECT_EQ(edits[5].name, "Gone");
    EXPECT_EQ(edits[6].kind, Kind::kSetString);
    EXPECT_EQ(edits[6].text, "a\nb");
    EXPECT_EQ(edits[6].line, 10);
    EXPECT_EQ(edits[7].kind, Kind::kSetDword);
    EXPECT_EQ(edits[7].number, 0x0100000Au);
    EXPECT_EQ(edits[8].kind, Kind::kDeleteKey);
    EXPECT_EQ(edits[8].key, "Software\\Old");
    EXPECT_EQ(edits[9].kind, Kind::kCreateKey);
    EXPECT_EQ(edits[9].key, "");
    EXPECT_EQ(edits[10].name, "atRoot");
    EXPECT_EQ(edits[10].number, 1u);
}

TEST(RegFileParse, MalformedFilesNameTheLine)
{
    const std::string h = "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n";
    struct Case {
        std::string content;
        std::string expected;
    } cases[] = {
        {"", "empty"},
        {"[HKEY_CURRENT_USER\\K]\n", "line 1: not a registry file"},
        {"REGEDIT5\n", "line 1: not a registry file"},
        {"REGEDIT4\n\"v\"=\"x\"\n", "line 2: a value outside"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n", "line 2: only HKEY_CURRENT_USER"},
        {"REGEDIT4\n[Software\\K]\n", "line 2: the key name must begin with HKEY_CURRENT_USER"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\K\n", "line 2: a key section must end"},
        {"REGEDIT4\n[-HKEY_CURRENT_USER]\n", "line 2: HKEY_CURRENT_USER itself"},
        {h + "\"v\"=dword:123456789\n", "line 3: a dword needs 1 to 8"},
        {h + "\"v\"=dword:12g\n", "line 3: a dword"},
        {h + "\"v\"=dword:\n", "line 3: a dword"},
        {h + "\"v\"=\"open\n", "line 3: the text has no closing quote"},
        {h + "\"v\"=\"x\" junk\n", "line 3: unexpected characters"},
        {h + "\"v\n", "line 3: the value name has no closing quote"},
        {h + "\"v\" \"x\"\n", "line 3: expected '='"},
        {h + "v=\"x\"\n", "line 3: expected a quoted value name"},
        {h + "\"v\"=hex:01,0\n", "line 3: malformed list"},
        {h + "\"v\"=hex(7)00,00\n", "line 3: malformed hex value"},
        {h + "\"v\"=hex(x):00\n", "line 3: malformed hex(...) type"},
        {h + "\"v\"=hex(4):01,02\n", "line 3: a hex(4) dword needs exactly 4 bytes"},
        {h + "\"v\"=hex(1):0g\n", "line 3: malformed list"},
        {h + "\"v\"=12\n", "line 3: cannot read the value"},
        {"\xFE\xFF\0R", "big-endian"},
        {"\xFF\xFE"
         "R",
         "middle of a character"},
    };
    for (const auto& c : cases) {
        EXPECT_NE(ParseError(c.content).find(c.expected), std::string::npos)
            << "content: " << c.content << "\nerror: " << ParseError(c.content);
    }
}

TEST(RegFileParse, TypesThisRegistryCannotHoldAreLeftOutWithANote)
{
    // As the original editor exports a mail account: a binary password, an expandable
    // string and a 64-bit number among the strings and numbers.
    const std::string file =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Account Manager\\Accounts\\00000001]\r\n"
        "\"POP3 Server\"=\"mail.example.com\"\r\n"
        "\"POP3 Password2\"=hex:01,02,03,\\\r\n"
        "  04\r\n"
        "@=hex(2):25,00,00,00\r\n"
        "\"Big\"=hex(b):01,00,00,00,00,00,00,00\r\n"
        "\"POP3 Port\"=dword:0000006e\r\n";
    std::vector<RegEdit> edits;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(ParseRegFile(file, &edits, &error, &warnings)) << error;
    ASSERT_EQ(edits.size(), 3u);
    EXPECT_EQ(edits[1].name, "POP3 Server");
    EXPECT_EQ(edits[2].name, "POP3 Port");
    EXPECT_EQ(edits[2].number, 110u);
    EXPECT_EQ(warnings,
              (std::vector<std::string>{
                  "line 5: left out \"POP3 Password2\": values of type hex cannot be kept (only strings and dwords)",
                  "line 7: left out @: values of type hex(2) cannot be kept (only strings and dwords)",
                  "line 8: left out \"Big\": values of type hex(b) cannot be kept (only strings and dwords)"}));
}

TEST(RegFileWriter, Regedit4TextIsExactAndReadsBack)
{
    RegFileWriter w(false);
    w.Section("Software\\X");
    w.String("", "def");
    w.String("quote\"back\\slash", "C:\\a \"b\"");
    w.Dword("n", 10);
    w.String("multi", "line1\r\nline2");
    w.Section("Software\\X\\Empty");
    const std::string text = w.Finish();
    EXPECT_EQ(text, "REGEDIT4\r\n"
                    "\r\n"
                    "[HKEY_CURRENT_USER\\Software\\X]\r\n"
                    "@=\"def\"\r\n"
                    "\"quote\\\"back\\\\slash\"=\"C:\\\\a \\\"b\\\"\"\r\n"
                    "\"n\"=dword:0000000a\r\n"
                    "\"multi\"=hex(1):6c,69,6e,65,31,0d,0a,6c,69,6e,65,32,00\r\n"
                    "\r\n"
                    "[HKEY_CURRENT_USER\\Software\\X\\Empty]\r\n"
                    "\r\n");
    const auto edits = Parse(text);
    ASSERT_EQ(edits.size(), 6u);
    EXPECT_EQ(edits[2].name, "quote\"back\\slash");
    EXPECT_EQ(edits[2].text, "C:\\a \"b\"");
    EXPECT_EQ(edits[4].text, "line1\r\nline2");
    EXPECT_EQ(edits[5].key, "Software\\X\\Empty");
}

TEST(RegFileWriter, LongHexListsWrapAndUtf16FilesCarryKorean)
{
    // "환경설정" in CP949, a long multi-line text and every high byte pair the name may hold.
    const std::string korean = "\xC8\xAF\xB0\xE6\xBC\xB3\xC1\xA4";
    std::string longText;
    for (int i = 0; i < 40; ++i)
        longText += korean + "\n";
    for (bool utf16 : {false, true}) {
        RegFileWriter w(utf16);
        w.Section("Software\\" + korean);
        w.String(korean, longText);
        w.String("plain", korean);
        const std::string file = w.Finish();
        if (utf16) {
            ASSERT_GE(file.size(), 2u);
            EXPECT_EQ(file.substr(0, 2), "\xFF\xFE");
        } else {
            // Every physical line stays short; the continuation is read back as one.
            std::size_t start = 0;
            while (start < file.size()) {
                const std::size_t end = file.find("\r\n", start);
                EXPECT_LE(end - start, 80u);
                start = end + 2;
            }
        }
        const auto edits = Parse(file);
        ASSERT_EQ(edits.size(), 3u) << utf16;
        EXPECT_EQ(edits[0].key, "Software\\" + korean);
        EXPECT_EQ(edits[1].name, korean);
        EXPECT_EQ(edits[1].text, longText);
        EXPECT_EQ(edits[2].text, korean);
    }
    // A UTF-8 file with its byte-order mark is read as the same CP949 texts.
    const auto edits = Parse("\xEF\xBB\xBFREGEDIT4\n[HKCU\\K]\n\"n\"=\"\xED\x99\x98\xEA\xB2\xBD\"\n");
    ASSERT_EQ(edits.size(), 2u);
    EXPECT_EQ(edits[1].text, korean.substr(0, 4));
}

TEST(RegFileNames, KeyPathsAndNumbers)
{
    std::string path, error;
    ASSERT_TRUE(KeyPathBelowRoot("HKEY_CURRENT_USER\\Software\\X\\", true, &path, &error));
    EXPECT_EQ(path, "Software\\X");
    ASSERT_TRUE(KeyPathBelowRoot("hkcu\\Software", false, &path, &error));
    EXPECT_EQ(path, "Software");
    ASSERT_TRUE(KeyPathBelowRoot("HKCU", false, &path, &error));
    EXPECT_EQ(path, "");
    ASSERT_TRUE(KeyPathBelowRoot("Software\\Y", true, &path, &error));
    EXPECT_EQ(path, "Software\\Y");
    EXPECT_FALSE(KeyPathBelowRoot("Software\\Y", false, &path, &error));
    EXPECT_FALSE(KeyPathBelowRoot("HKLM\\Software", true, &path, &error));
    EXPECT_NE(error.find("only HKEY_CURRENT_USER"), std::string::npos);
    EXPECT_FALSE(KeyPathBelowRoot("HKEY_USERS", true, &path, &error));
    EXPECT_FALSE(KeyPathBelowRoot("", true, &path, &error));
    EXPECT_EQ(FullKeyName(""), "HKEY_CURRENT_USER");
    EXPECT_EQ(FullKeyName("A\\B"), "HKEY_CURRENT_USER\\A\\B");

    std::uint32_t v = 0;
    EXPECT_TRUE(ParseNumber("0", &v));
    EXPECT_EQ(v, 0u);
    EXPECT_TRUE(ParseNumber("4294967295", &v));
    EXPECT_EQ(v, 4294967295u);
    EXPECT_TRUE(ParseNumber("0x0000000A", &v));
    EXPECT_EQ(v, 10u);
    EXPECT_TRUE(ParseNumber("0XfFfFfFfF", &v));
    EXPECT_EQ(v, 0xFFFFFFFFu);
    for (const char* bad : {"", "4294967296", "0x100000000", "-1", "12x", "0x", " 1", "1.5"}) {
        EXPECT_FALSE(ParseNumber(bad, &v)) << bad;
    }
}

}  // namespace
