// Block-rule lists: records, names, list operations and the filter file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "sievelet/sievelet.h"
#include "tests/sievelet/test_support.h"

using sievelet_test::ReadBytes;
using sievelet_test::TempDir;
using sievelet_test::WriteBytes;

namespace {

std::string Be32(uint32_t v)
{
    std::string s(4, '\0');
    s[0] = static_cast<char>(v >> 24);
    s[1] = static_cast<char>(v >> 16);
    s[2] = static_cast<char>(v >> 8);
    s[3] = static_cast<char>(v);
    return s;
}

std::string Text(const std::string& t) { return std::string(1, static_cast<char>(t.size())) + t; }

// One record in the file's own layout.
std::string Record(uint32_t fid, uint8_t flags, uint8_t kinds, uint32_t hit, const std::string& word,
                   const std::string& description, const std::string& folder)
{
    return Be32(fid) + std::string(1, static_cast<char>(flags)) + std::string(1, static_cast<char>(kinds)) + Be32(hit) +
           Text(word) + Text(description) + Text(folder);
}

}  // namespace

TEST(SpamFilterRecord, FieldsHaveTheirWidthsInDeclarationOrder)
{
    SPAM_FILTER r;
    EXPECT_EQ(sizeof r.fid, 4u);
    EXPECT_EQ(sizeof r.hit, 4u);
    EXPECT_EQ(sizeof r.fclass + sizeof r.sign + sizeof r.level + sizeof r.property + sizeof r.match + sizeof r.action,
              6u);
    EXPECT_EQ(sizeof r.word, 81u);
    EXPECT_EQ(sizeof r.description, 51u);
    EXPECT_EQ(sizeof r.folder, 256u);
    EXPECT_LT(offsetof(SPAM_FILTER, fid), offsetof(SPAM_FILTER, fclass));
    EXPECT_LT(offsetof(SPAM_FILTER, fclass), offsetof(SPAM_FILTER, sign));
    EXPECT_LT(offsetof(SPAM_FILTER, sign), offsetof(SPAM_FILTER, level));
    EXPECT_LT(offsetof(SPAM_FILTER, level), offsetof(SPAM_FILTER, property));
    EXPECT_LT(offsetof(SPAM_FILTER, property), offsetof(SPAM_FILTER, match));
    EXPECT_LT(offsetof(SPAM_FILTER, match), offsetof(SPAM_FILTER, action));
    EXPECT_LT(offsetof(SPAM_FILTER, action), offsetof(SPAM_FILTER, hit));
    EXPECT_LT(offsetof(SPAM_FILTER, hit), offsetof(SPAM_FILTER, word));
    EXPECT_LT(offsetof(SPAM_FILTER, word), offsetof(SPAM_FILTER, description));
    EXPECT_LT(offsetof(SPAM_FILTER, description), offsetof(SPAM_FILTER, folder));

    PASS_FILTER p;
    EXPECT_EQ(sizeof p.address, 81u);
    EXPECT_EQ(sizeof p.description, 51u);
    EXPECT_LT(offsetof(PASS_FILTER, fid), offsetof(PASS_FILTER, hit));
    EXPECT_LT(offsetof(PASS_FILTER, hit), offsetof(PASS_FILTER, address));
    EXPECT_LT(offsetof(PASS_FILTER, address), offsetof(PASS_FILTER, description));
}

TEST(SpamFilterRecord, NamesComeFromTheTablesAndOutOfRangeGivesEmpty)
{
    EXPECT_STREQ(SPAM_FILTER::GetFlagName(0), "+");
    EXPECT_STREQ(SPAM_FILTER::GetFlagName(1), "-");
    EXPECT_STREQ(SPAM_FILTER::GetFlagName(2), "");
    EXPECT_STREQ(SPAM_FILTER::GetPriorityName(0), "\xB3\xB7\xC0\xBD");  // 낮음
    EXPECT_STREQ(SPAM_FILTER::GetPriorityName(1), "\xBA\xB8\xC5\xEB");  // 보통
    EXPECT_STREQ(SPAM_FILTER::GetPriorityName(2), "\xB3\xF4\xC0\xBD");  // 높음
    EXPECT_STREQ(SPAM_FILTER::GetPriorityName(3), "");
    EXPECT_STREQ(SPAM_FILTER::GetPriorityName(-1), "");
    EXPECT_STREQ(SPAM_FILTER::GetPriorityEngName(2), "HIGH");
    EXPECT_STREQ(SPAM_FILTER::GetPriorityEngName(3), "");
    const char* eng[] = {"SENDER", "RECEIVER", "SUBJECT", "CONTENT", "SUBJECT+CONTENT", "ENTIRE", "FILENAME"};
    for (int i = 0; i < 7; ++i) {
        EXPECT_STREQ(SPAM_FILTER::GetPropertyEngName(i), eng[i]);
        EXPECT_EQ(SPAM_FILTER::GetPropertyName(i), property_name[i]);
        EXPECT_GT(std::strlen(property_name[i]), 0u);
    }
    EXPECT_STREQ(SPAM_FILTER::GetPropertyName(4), "\xC1\xA6\xB8\xF1+\xBA\xBB\xB9\xAE");  // 제목+본문
    EXPECT_STREQ(SPAM_FILTER::GetPropertyName(6), "\xC6\xC4\xC0\xCF\xC0\xCC\xB8\xA7");   // 파일이름
    EXPECT_STREQ(SPAM_FILTER::GetPropertyName(7), "");
    EXPECT_STREQ(SPAM_FILTER::GetPropertyEngName(255), "");
    EXPECT_STREQ(flag_name[1], "-");
    EXPECT_STREQ(priority_eng_name[0], "LOW");

    SPAM_FILTER r{};
    r.property = 2;
    r.level = 1;
    EXPECT_STREQ(r.GetPropertyEngName(), "SUBJECT");
    EXPECT_STREQ(r.GetPriorityEngName(), "MID");
}

TEST(SpamFilterFile, FreshListSavedAtOnceIsFourBytesHoldingOne)
{
    TempDir dir;
    std::string path = dir.File("private.flt");
    CSpamFilter list(path.c_str());
    EXPECT_EQ(list.GetSize(), 0);
    ASSERT_TRUE(list.SaveSpamFilter());
    EXPECT_EQ(ReadBytes(path), std::string("\0\0\0\1", 4));
}

TEST(SpamFilterFile, OneRuleIsWrittenByteForByte)
{
    TempDir dir;
    std::string path = dir.File("private.flt");
    CSpamFilter list(path.c_str());
    // sign 1, level HIGH, property SUBJECT, regular expression, 7 hits, delete at once.
    list.AddSpamFilter(true, 2, 2, 1, 7, "Free", "INBOX", "ad", 1);
    ASSERT_TRUE(list.SaveSpamFilter());
    const unsigned char expected[] = {
        0x00, 0x00, 0x00, 0x02,            // next FID
        0x00, 0x00, 0x00, 0x01,            // FID
        0x15,                              // class 00, sign 01, action 01, match 01
        0x22,                              // level 2, property 2
        0x00, 0x00, 0x00, 0x07,            // hit count
        0x04, 'F',  'r',  'e',  'e',       // word as written
        0x02, 'a',  'd',                   // description
        0x05, 'I',  'N',  'B',  'O', 'X',  // folder
    };
    EXPECT_EQ(ReadBytes(path), std::string(reinterpret_cast<const char*>(expected), sizeof expected));
}

TEST(SpamFilterFile, RoundTripKeepsEveryFieldAndLowerCasesTheWord)
{
    TempDir dir;
    std::string path = dir.File("private.flt");
    {
        CSpamFilter list(path.c_str());
        list.AddSpamFilter(true, 1, 3, 0, 12, "FREE Money", "Spam", "money rule", 0);
        list.AddSpamFilter(false, 2, 6, 1, 0, "Setup.EXE", "", "", 1);
        // A hit count beyond the record's range is clamped, not wrapped.
        list.AddSpamFilter(true, 0, 5, 0, 123456789012L, "x", "INBOX", "big", 0);
        ASSERT_TRUE(list.SaveSpamFilter());
    }
    EXPECT_NE(ReadBytes(path).find("FREE Money"), std::string::npos) << "saved as written";

    CSpamFilter loaded(path.c_str());
    ASSERT_EQ(loaded.GetSize(), 3);
    SPAM_FILTER* a = loaded.GetSpamFilter(0);
    EXPECT_EQ(a->fid, 1);
    EXPECT_EQ(a->fclass, 0);
    EXPECT_EQ(a->sign, 1);
    EXPECT_EQ(a->level, 1);
    EXPECT_EQ(a->property, 3);
    EXPECT_EQ(a->match, 0);
    EXPECT_EQ(a->action, 0);
    EXPECT_EQ(a->hit, 12);
    EXPECT_STREQ(a->word, "free money");
    EXPECT_STREQ(a->description, "money rule");
    EXPECT_STREQ(a->folder, "Spam");
    SPAM_FILTER* b = loaded.GetSpamFilter(1);
    EXPECT_EQ(b->fid, 2);
    EXPECT_EQ(b->sign, 0);
    EXPECT_EQ(b->level, 2);
    EXPECT_EQ(b->property, 6);
    EXPECT_EQ(b->match, 1);
    EXPECT_EQ(b->action, 1);
    EXPECT_STREQ(b->word, "setup.exe");
    EXPECT_STREQ(b->description, "");
    EXPECT_STREQ(b->folder, "");
    EXPECT_EQ(loaded.GetSpamFilter(2)->hit, INT32_MAX);
    EXPECT_EQ(loaded.GetSpamFilter(3), nullptr);
    EXPECT_EQ(loaded.GetSpamFilter(-1), nullptr);
}

TEST(SpamFilterFile, ClassBitsAndOddValuesAreCarriedThroughTheFile)
{
    TempDir dir;
    std::string path = dir.File("online.flt");
    // class 3, sign 2, action 3, match 2; level 15, property 9.
    std::string bytes = Be32(10) + Record(4, 0xEE, 0xF9, 0xFFFFFFFF, "W", "d", "f");
    WriteBytes(path, bytes);
    CSpamFilter list(path.c_str());
    ASSERT_EQ(list.GetSize(), 1);
    SPAM_FILTER* r = list.GetSpamFilter(0);
    EXPECT_EQ(r->fclass, 3);
    EXPECT_EQ(r->sign, 2);
    EXPECT_EQ(r->action, 3);
    EXPECT_EQ(r->match, 2);
    EXPECT_EQ(r->level, 15);
    EXPECT_EQ(r->property, 9);
    EXPECT_EQ(r->hit, -1);
    ASSERT_TRUE(list.SaveSpamFilter());
    // Only the word changes: it was lower-cased by the load.
    std::string again = Be32(10) + Record(4, 0xEE, 0xF9, 0xFFFFFFFF, "w", "d", "f");
    EXPECT_EQ(ReadBytes(path), again);
}

TEST(SpamFilterFile, FidsAreNeverReused)
{
    TempDir dir;
    std::string path = dir.File("private.flt");
    CSpamFilter list(path.c_str());
    EXPECT_EQ(list.AddSpamFilter(true, 0, 2, 0, 0, "a", "INBOX", "", 0)->fid, 1);
    EXPECT_EQ(list.AddSpamFilter(true, 0, 2, 0, 0, "b", "INBOX", "", 0)->fid, 2);
    EXPECT_EQ(list.AddSpamFilter(true, 0, 2, 0, 0, "c", "INBOX", "", 0)->fid, 3);
    list.DelSpamFilter(2);
    ASSERT_EQ(list.GetSize(), 2);
    EXPECT_EQ(list.GetSpamFilter(1)->fid, 3) << "the others keep their order";
    EXPECT_EQ(list.AddSpamFilter(true, 0, 2, 0, 0, "d", "INBOX", "", 0)->fid, 4);
    list.DelSpamFilter(4);
    list.DelSpamFilter(99);  // unknown: nothing changes
    EXPECT_EQ(list.GetSize(), 2);
    ASSERT_TRUE(list.SaveSpamFilter());

    CSpamFilter reloaded(path.c_str());
    EXPECT_EQ(reloaded.AddSpamFilter(true, 0, 2, 0, 0, "e", "INBOX", "", 0)->fid, 5);
    EXPECT_EQ(reloaded.GetSpamFilterByFID(3)->word[0], 'c');
    EXPECT_EQ(reloaded.GetSpamFilterByFID(2), nullptr);
}

TEST(SpamFilterFile, DamagedHeaderCannotMakeAddsReuseFids)
{
    TempDir dir;
    std::string path = dir.File("online.flt");
    WriteBytes(path, Be32(1) + Record(7, 0, 0x02, 0, "x", "", "INBOX"));
    CSpamFilter list(path.c_str());
    EXPECT_EQ(list.AddSpamFilter(true, 0, 2, 0, 0, "y", "INBOX", "", 0)->fid, 8);

    WriteBytes(path, Be32(0xFFFFFFF0u));  // a negative next FID and no records
    ASSERT_TRUE(list.LoadSpamFilter());
    EXPECT_EQ(list.AddSpamFilter(true, 0, 2, 0, 0, "z", "INBOX", "", 0)->fid, 1);

    // A record already at the largest FID: new rules get free FIDs, and deleting the new
    // rule leaves the old one alone.
    WriteBytes(path, Be32(0x7FFFFFFFu) + Record(INT32_MAX, 0, 0x02, 0, "casino", "", "INBOX") +
                         Record(1, 0, 0x02, 0, "dice", "", "INBOX"));
    ASSERT_TRUE(list.LoadSpamFilter());
    int a = list.AddSpamFilter(true, 0, 2, 0, 0, "viagra", "INBOX", "", 0)->fid;
    int b = list.AddSpamFilter(true, 0, 2, 0, 0, "pills", "INBOX", "", 0)->fid;
    EXPECT_EQ(a, 2);
    EXPECT_EQ(b, 3);
    list.DelSpamFilter(a);
    ASSERT_NE(list.GetSpamFilterByFID(INT32_MAX), nullptr);
    EXPECT_STREQ(list.GetSpamFilterByFID(INT32_MAX)->word, "casino");
}

TEST(SpamFilterFile, EditOverwritesAndKeepsTheCountOnlyForMinusOne)
{
    TempDir dir;
    std::string path = dir.File("online.flt");
    WriteBytes(path, Be32(5) + Record(4, 0xC0, 0x12, 9, "old", "d", "f"));
    CSpamFilter list(path.c_str());
    SPAM_FILTER* r = list.EditSpamFilter(4, true, 2, 5, 1, -1, "New", "Box", "desc", 1);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->hit, 9);
    EXPECT_EQ(r->fclass, 0);
    EXPECT_EQ(r->sign, 1);
    EXPECT_EQ(r->level, 2);
    EXPECT_EQ(r->property, 5);
    EXPECT_EQ(r->match, 1);
    EXPECT_EQ(r->action, 1);
    EXPECT_STREQ(r->word, "New");
    EXPECT_STREQ(r->folder, "Box");
    EXPECT_STREQ(r->description, "desc");
    EXPECT_EQ(list.EditSpamFilter(4, true, 0, 2, 0, 0, "a", "b", "c", 0)->hit, 0);
    EXPECT_EQ(list.EditSpamFilter(5, true, 0, 2, 0, 0, "a", "b", "c", 0), nullptr);
}

TEST(SpamFilterFile, LongTextsAreCutToTheirFields)
{
    TempDir dir;
    CSpamFilter list(dir.File("private.flt").c_str());
    std::string word(100, 'w'), description(70, 'd'), folder(300, 'f');
    SPAM_FILTER* r = list.AddSpamFilter(true, 0, 2, 0, 0, word.c_str(), folder.c_str(), description.c_str(), 0);
    EXPECT_EQ(std::string(r->word), std::string(80, 'w'));
    EXPECT_EQ(std::string(r->description), std::string(50, 'd'));
    EXPECT_EQ(std::string(r->folder), std::string(255, 'f'));
    // Null texts are taken as empty ones.
    r = list.AddSpamFilter(true, 0, 2, 0, 0, nullptr, nullptr, nullptr, 0);
    EXPECT_STREQ(r->word, "");
    ASSERT_TRUE(list.SaveSpamFilter());
    CSpamFilter loaded(dir.File("private.flt").c_str());
    ASSERT_EQ(loaded.GetSize(), 2);
    EXPECT_EQ(std::string(loaded.GetSpamFilter(0)->folder), std::string(255, 'f'));
}

TEST(SpamFilterFile, MissingOrShortFilesGiveFalse)
{
    TempDir dir;
    std::string path = dir.File("private.flt");
    CSpamFilter list(path.c_str());
    EXPECT_FALSE(list.LoadSpamFilter()) << "no file";
    list.AddSpamFilter(true, 0, 2, 0, 0, "keep", "INBOX", "", 0);
    EXPECT_FALSE(list.LoadSpamFilter());
    EXPECT_EQ(list.GetSize(), 1) << "a file that cannot be opened leaves the list unchanged";

    WriteBytes(path, std::string("\0\0\0", 3));
    EXPECT_FALSE(list.LoadSpamFilter());
    EXPECT_EQ(list.GetSize(), 0) << "a file without its header empties the list";

    CSpamFilter nowhere(dir.File("no/such/dir/private.flt").c_str());
    EXPECT_FALSE(nowhere.SaveSpamFilter());
}

TEST(SpamFilterFile, EveryCutOfTheFileKeepsTheWholeRecordsBeforeIt)
{
    TempDir dir;
    std::string path = dir.File("online.flt");
    std::string first = Record(1, 0x10, 0x02, 3, "alpha", "first", "INBOX");
    std::string second = Record(2, 0x10, 0x03, 4, "beta", "second", "Spam");
    std::string whole = Be32(3) + first + second;
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
        WriteBytes(path, whole.substr(0, cut));
        CSpamFilter list(path.c_str());
        int expected = cut < 4 + first.size() ? 0 : (cut < whole.size() ? 1 : 2);
        EXPECT_EQ(list.GetSize(), expected) << "cut at " << cut;
        EXPECT_EQ(list.LoadSpamFilter(), cut >= 4) << "cut at " << cut;
        if (expected >= 1) {
            EXPECT_STREQ(list.GetSpamFilter(0)->word, "alpha");
            EXPECT_STREQ(list.GetSpamFilter(0)->folder, "INBOX");
        }
    }
}

TEST(SpamFilterFile, OverlongLengthBytesNeverReadPastTheEndAndAreCut)
{
    TempDir dir;
    std::string path = dir.File("online.flt");
    // A 200-byte word and a 120-byte description: kept as 80 and 50 bytes; the record
    // after them is read from the right place.
    std::string longWord(200, 'Q'), longDesc(120, 'd');
    std::string bytes =
        Be32(9) + Record(1, 0, 0x02, 0, longWord, longDesc, "INBOX") + Record(2, 0, 0x02, 0, "next", "", "Box");
    WriteBytes(path, bytes);
    CSpamFilter list(path.c_str());
    ASSERT_EQ(list.GetSize(), 2);
    EXPECT_EQ(std::string(list.GetSpamFilter(0)->word), std::string(80, 'q'));
    EXPECT_EQ(std::string(list.GetSpamFilter(0)->description), std::string(50, 'd'));
    EXPECT_STREQ(list.GetSpamFilter(1)->word, "next");
    EXPECT_STREQ(list.GetSpamFilter(1)->folder, "Box");

    // A length byte that claims more than the file holds ends the load there.
    std::string lying = Be32(9) + Record(1, 0, 0x02, 0, "ok", "", "INBOX") + Be32(2) + std::string("\x10\x02", 2) +
                        Be32(0) + std::string("\xFF", 1) + "short";
    WriteBytes(path, lying);
    ASSERT_TRUE(list.LoadSpamFilter());
    ASSERT_EQ(list.GetSize(), 1);
    EXPECT_STREQ(list.GetSpamFilter(0)->word, "ok");

    // Zero bytes inside a text end the text, nothing more.
    WriteBytes(path, Be32(9) + Record(1, 0, 0x02, 0, std::string("ab\0cd", 5), "", "INBOX"));
    ASSERT_TRUE(list.LoadSpamFilter());
    ASSERT_EQ(list.GetSize(), 1);
    EXPECT_STREQ(list.GetSpamFilter(0)->word, "ab");
    EXPECT_STREQ(list.GetSpamFilter(0)->folder, "INBOX");
}

TEST(SpamFilterFile, LoadDiscardsUnsavedChanges)
{
    TempDir dir;
    std::string path = dir.File("private.flt");
    CSpamFilter list(path.c_str());
    list.AddSpamFilter(true, 0, 2, 0, 5, "saved", "INBOX", "", 0);
    ASSERT_TRUE(list.SaveSpamFilter());
    list.GetSpamFilter(0)->hit = 99;
    list.AddSpamFilter(true, 0, 2, 0, 0, "unsaved", "INBOX", "", 0);
    ASSERT_TRUE(list.LoadSpamFilter());
    ASSERT_EQ(list.GetSize(), 1);
    EXPECT_EQ(list.GetSpamFilter(0)->hit, 5);
    EXPECT_EQ(list.AddSpamFilter(true, 0, 2, 0, 0, "again", "INBOX", "", 0)->fid, 2);
}

TEST(SpamFilterFile, Cp949WordsSurviveAndOnlyAsciiLettersAreFolded)
{
    TempDir dir;
    std::string path = dir.File("private.flt");
    {
        CSpamFilter list(path.c_str());
        list.AddSpamFilter(true, 0, 2, 0, 0, "\xB1\xA4\xB0\xED", "INBOX", "", 0);  // 광고
        list.AddSpamFilter(true, 0, 2, 0, 0, "\x81\x41X", "INBOX", "", 0);         // 갂X
        ASSERT_TRUE(list.SaveSpamFilter());
    }
    CSpamFilter list(path.c_str());
    ASSERT_EQ(list.GetSize(), 2);
    EXPECT_STREQ(list.GetSpamFilter(0)->word, "\xB1\xA4\xB0\xED");
    // A trail byte in the 'A'-'Z' range is folded like any ASCII letter.
    EXPECT_STREQ(list.GetSpamFilter(1)->word, "\x81\x61x");
}

// A file whose rules would not fit in memory beside the program is not loaded: the list is
// empty, says why, and cannot be saved over the user's file.
TEST(SpamFilterFile, AFileTooLargeForMemoryIsRefusedAndLeftAsItIs)
{
    TempDir dir;
    const std::string path = dir.File("online.flt");
    // Each rule of an 80-byte word takes well over 2 KB once loaded and indexed.
    const size_t rules = CSpamFilter::kMemoryBudget / 2048;
    const std::string first = Record(1, 0, 3, 0, std::string(80, '0'), "", "Spam");
    std::string file = Be32(static_cast<uint32_t>(rules + 1));
    file.reserve(4 + rules * first.size());
    std::string record = first;
    char number[9];
    for (size_t i = 0; i < rules; ++i) {
        record.replace(0, 4, Be32(static_cast<uint32_t>(i + 1)));
        snprintf(number, sizeof number, "%08zu", i);
        record.replace(11, 8, number);  // the word's first bytes: every word differs
        file += record;
    }
    WriteBytes(path, file);
    const std::string text = "a message with 00000000" + std::string(72, '0') + " in it";
    SPAM_FILTER result{};
    char folder[256] = "INBOX";
    int action = 0;

    CSpamFilter list(path.c_str());
    EXPECT_EQ(list.GetSize(), 0);
    EXPECT_NE(list.GetRefusal().find("MB"), std::string::npos) << list.GetRefusal();
    EXPECT_FALSE(list.DoSpamContentFiltering(result, text.c_str(), folder, &action, 2, true, true, true));
    list.AddSpamFilter(true, 0, 3, 0, 0, "added", "Spam", "", 0);
    EXPECT_FALSE(list.SaveSpamFilter());
    EXPECT_TRUE(ReadBytes(path) == file);

    // Its first rules alone load, match and save.
    WriteBytes(path, file.substr(0, 4 + first.size() * 4000));
    EXPECT_TRUE(list.LoadSpamFilter());
    EXPECT_EQ(list.GetRefusal(), "");
    EXPECT_EQ(list.GetSize(), 4000);
    EXPECT_TRUE(list.DoSpamContentFiltering(result, text.c_str(), folder, &action, 2, true, true, true));
    EXPECT_EQ(result.fid, 1);
    EXPECT_TRUE(list.SaveSpamFilter());

    // One larger than the whole budget is refused unread (a sparse file, no disk taken).
    std::filesystem::resize_file(path, CSpamFilter::kMemoryBudget + 1);
    EXPECT_FALSE(list.LoadSpamFilter());
    EXPECT_EQ(list.GetSize(), 0);
    EXPECT_NE(list.GetRefusal(), "");
    EXPECT_FALSE(list.SaveSpamFilter());
    EXPECT_EQ(std::filesystem::file_size(path), CSpamFilter::kMemoryBudget + 1);
}
