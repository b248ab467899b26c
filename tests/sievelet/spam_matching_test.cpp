// The three matching passes of a block list and the built-in judgements.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "components/toolwick/spam_util.h"
#include "sievelet/sievelet.h"
#include "tests/sievelet/test_support.h"

using sievelet_test::HeaderOf;
using sievelet_test::TempDir;

namespace {

enum { SENDER = 0, RECEIVER, SUBJECT, CONTENT, SUBJECT_CONTENT, ENTIRE, FILENAME };

// A list in a private directory, with helpers to add rules quickly.
class Matching : public ::testing::Test {
protected:
    TempDir dir;
    CSpamFilter list{dir.File("private.flt").c_str()};
    SPAM_FILTER result{};
    char folder[256] = "INBOX";
    int action = -7;

    SPAM_FILTER* Rule(int property, const char* word, int level = 0, int match = 0, const char* target = "Spam",
                      int act = 0)
    {
        return list.AddSpamFilter(true, static_cast<unsigned char>(level), static_cast<unsigned char>(property),
                                  static_cast<unsigned char>(match), 0, word, target, "rule", act);
    }
    bool Header(CMailHeader& h, int level = 2, bool sender = true, bool subject = true, bool body = true,
                bool entire = true)
    {
        return list.DoSpamFiltering(result, &h, folder, &action, level, sender, subject, body, entire);
    }
    bool Content(const char* text, int level = 2, bool subject = true, bool body = true, bool entire = true)
    {
        return list.DoSpamContentFiltering(result, text, folder, &action, level, subject, body, entire);
    }
    void Reset()
    {
        std::strcpy(folder, "INBOX");
        action = -7;
        std::memset(&result, 0, sizeof result);
    }
};

const char* kPlain = "Received: by mx.example.net\r\n"
                     "From: Alice Park <alice@example.com>\r\n"
                     "To: Bob Lee <bob@example.net>\r\n"
                     "Subject: Weekly report\r\n"
                     "\r\n";

}  // namespace

TEST_F(Matching, BuiltInJudgementsOnAnEmptyList)
{
    CMailHeader noFrom = HeaderOf("To: bob@example.net\r\nSubject: hi\r\n\r\n");
    result.fid = 42;
    result.level = 1;
    EXPECT_TRUE(Header(noFrom));
    EXPECT_STREQ(result.description, "No Sender");
    EXPECT_STREQ(result.word, "-");
    EXPECT_STREQ(result.folder, "INBOX");
    EXPECT_EQ(result.hit, 1);
    EXPECT_EQ(result.property, 0);
    EXPECT_EQ(result.action, 0);
    EXPECT_EQ(result.fid, 42) << "FID and level keep what the caller's record held";
    EXPECT_EQ(result.level, 1);
    EXPECT_STREQ(folder, "INBOX");
    EXPECT_EQ(action, -7) << "the caller's preset action stands";

    CMailHeader noTo = HeaderOf("From: a@example.com\r\nSubject: hi\r\n\r\n");
    EXPECT_TRUE(Header(noTo));
    EXPECT_STREQ(result.description, "No Receiver");

    CMailHeader oneBlank = HeaderOf("From: a@example.com\r\nTo: b@example.net\r\n\r\n");
    oneBlank.ParsingSubject("subject", " ");
    EXPECT_TRUE(Header(oneBlank));
    EXPECT_STREQ(result.description, "No Subject");

    CMailHeader noSubject = HeaderOf("From: a@example.com\r\nTo: b@example.net\r\n\r\n");
    EXPECT_TRUE(Header(noSubject));
    EXPECT_STREQ(result.description, "No Subject");

    CMailHeader twoBlanks = HeaderOf("From: a@example.com\r\nTo: b@example.net\r\n\r\n");
    twoBlanks.ParsingSubject("subject", "  ");
    std::strcpy(result.description, "before");
    EXPECT_FALSE(Header(twoBlanks));
    EXPECT_STREQ(result.description, "before");
    EXPECT_STREQ(result.word, "-") << "the built-in rule is filled in even without a hit";

    // All switches off and the lowest level: the judgements still apply, rules do not.
    Rule(SUBJECT, "hi");
    CMailHeader h = HeaderOf("To: b@example.net\r\nSubject: hi\r\n\r\n");
    EXPECT_TRUE(Header(h, 0, false, false, false, false));
    EXPECT_STREQ(result.description, "No Sender");
    EXPECT_EQ(list.GetSpamFilter(0)->hit, 0);
}

TEST_F(Matching, SubjectRulesSeeTheLowerCasedSubjectEntireRulesTheNamesAsTheyStand)
{
    Rule(SUBJECT, "free", 0, 0, "Ads", 1);
    CMailHeader h = HeaderOf("Received: x\r\nFrom: FREE <a@example.com>\r\nTo: b@example.net\r\n"
                             "Subject: FREE offer\r\n\r\n");
    EXPECT_TRUE(Header(h));
    EXPECT_EQ(result.fid, 1);
    EXPECT_STREQ(result.word, "free");
    EXPECT_STREQ(folder, "Ads");
    EXPECT_EQ(action, 1);

    list.DelSpamFilter(1);
    Rule(ENTIRE, "free");
    Reset();
    EXPECT_FALSE(Header(h)) << "from name \"FREE\" and subject \"FREE offer\" are not lower-cased";
    EXPECT_EQ(list.GetSpamFilter(0)->hit, 0);
}

TEST_F(Matching, EntireRulesInTheHeaderPass)
{
    SPAM_FILTER* r = Rule(ENTIRE, "mx.example");
    CMailHeader h = HeaderOf(kPlain);
    EXPECT_TRUE(Header(h)) << "the first raw header line, lower-cased";
    EXPECT_EQ(r->hit, 1);

    // Only the first raw line counts here; later lines reach ENTIRE rules in the content pass.
    std::strcpy(r->word, "weekly");
    Reset();
    EXPECT_FALSE(Header(h));
    std::strcpy(r->word, "Weekly");
    EXPECT_TRUE(Header(h)) << "the subject as the header holds it";
    std::strcpy(r->word, "Bob Lee");
    EXPECT_TRUE(Header(h)) << "the to name";
    std::strcpy(r->word, "Alice");
    EXPECT_TRUE(Header(h)) << "the from name";
    std::strcpy(r->word, "bob@example");
    EXPECT_FALSE(Header(h)) << "addresses are not examined by ENTIRE";
    EXPECT_FALSE(Header(h, 2, true, true, true, false)) << "entire switch off";
    std::strcpy(r->word, "Alice");
    EXPECT_FALSE(Header(h, 2, true, true, true, false));
    EXPECT_EQ(r->hit, 4);
}

TEST_F(Matching, SenderAndReceiverRulesAreSubstringRulesUnderTheSenderSwitch)
{
    SPAM_FILTER* r = Rule(SENDER, "a.b", 0, 1);
    CMailHeader dot = HeaderOf("From: x@a.b.example\r\nTo: y@example.net\r\nSubject: s\r\n\r\n");
    CMailHeader other = HeaderOf("From: x@axb.example\r\nTo: y@example.net\r\nSubject: s\r\n\r\n");
    EXPECT_TRUE(Header(dot));
    EXPECT_FALSE(Header(other)) << "the regular-expression flag is not used for senders";
    EXPECT_FALSE(Header(dot, 2, false)) << "sender switch off";

    std::strcpy(r->word, "bounce");
    CMailHeader returnPath = HeaderOf("Return-Path: <bounce@lists.example>\r\n"
                                      "From: x@example.com\r\nTo: y@example.net\r\nSubject: s\r\n\r\n");
    EXPECT_TRUE(Header(returnPath));
    std::strcpy(r->word, "Helper");
    CMailHeader sender = HeaderOf("Sender: Helper <h@example.org>\r\n"
                                  "From: x@example.com\r\nTo: y@example.net\r\nSubject: s\r\n\r\n");
    EXPECT_TRUE(Header(sender));
    EXPECT_FALSE(Header(returnPath));

    list.DelSpamFilter(r->fid);
    Rule(RECEIVER, "example.net");
    EXPECT_TRUE(Header(dot));
    EXPECT_FALSE(Header(dot, 2, false, true, true, true));
    Rule(RECEIVER, "Nobody");
    list.DelSpamFilter(list.GetSpamFilter(0)->fid);
    EXPECT_FALSE(Header(dot));
}

TEST_F(Matching, LevelsDecideWhichRulesTakePart)
{
    SPAM_FILTER* high = Rule(SUBJECT, "report", 2);
    CMailHeader h = HeaderOf(kPlain);
    EXPECT_FALSE(Header(h, 0));
    EXPECT_FALSE(Header(h, 1));
    EXPECT_TRUE(Header(h, 2));
    EXPECT_TRUE(Header(h, 3));
    EXPECT_FALSE(Content("weekly report", 1));
    high->property = CONTENT;
    EXPECT_TRUE(Content("weekly report", 2));

    SPAM_FILTER* low = Rule(FILENAME, "setup.exe", 2);
    EXPECT_TRUE(list.DoFileFiltering(result, "SETUP.EXE", folder, &action)) << "file-name rules apply at every level";
    EXPECT_EQ(low->hit, 1);
    SPAM_FILTER* mid = Rule(SUBJECT, "weekly", 1);
    list.GetSpamFilter(0)->property = SUBJECT;
    EXPECT_TRUE(Header(h, 1));
    EXPECT_EQ(result.fid, mid->fid);
}

TEST_F(Matching, SwitchesOfTheHeaderPass)
{
    Rule(SUBJECT, "weekly");
    CMailHeader h = HeaderOf(kPlain);
    EXPECT_TRUE(Header(h, 2, false, true, false, false));
    EXPECT_TRUE(Header(h, 2, false, false, false, true)) << "entire switch covers subjects too";
    EXPECT_FALSE(Header(h, 2, true, false, true, false)) << "the body switch has no effect here";

    list.GetSpamFilter(0)->property = CONTENT;
    EXPECT_FALSE(Header(h)) << "body rules take no part in the header pass";
    list.GetSpamFilter(0)->property = SUBJECT_CONTENT;
    EXPECT_FALSE(Header(h));
    list.GetSpamFilter(0)->property = FILENAME;
    EXPECT_FALSE(Header(h));
}

TEST_F(Matching, SwitchesOfTheContentPass)
{
    SPAM_FILTER* r = Rule(CONTENT, "viagra");
    const char* text = "buy viagra now";
    EXPECT_TRUE(Content(text, 2, false, true, false));
    EXPECT_TRUE(Content(text, 2, false, false, true));
    EXPECT_FALSE(Content(text, 2, true, false, false)) << "the subject switch has no effect";
    r->property = SUBJECT_CONTENT;
    EXPECT_TRUE(Content(text, 2, false, true, false));
    EXPECT_FALSE(Content(text, 2, false, false, true));
    r->property = ENTIRE;
    EXPECT_TRUE(Content(text, 2, false, false, true));
    EXPECT_FALSE(Content(text, 2, true, true, false));
    r->property = SUBJECT;
    EXPECT_FALSE(Content(text));
    r->property = SENDER;
    EXPECT_FALSE(Content(text));
    r->property = CONTENT;
    EXPECT_FALSE(Content(""));
    EXPECT_FALSE(Content(nullptr));
}

TEST_F(Matching, FirstRuleInListOrderWinsAndCountsRise)
{
    Rule(CONTENT, "cheap", 0, 0, "First", 0);
    Rule(CONTENT, "cheap pills", 0, 0, "Second", 1);
    SPAM_FILTER* first = list.GetSpamFilter(0);  // pointers from before an add are stale
    list.GetSpamFilter(0)->fclass = 3;
    EXPECT_TRUE(Content("cheap pills here"));
    EXPECT_STREQ(folder, "First");
    EXPECT_EQ(action, 0);
    EXPECT_EQ(result.hit, 1);
    EXPECT_EQ(result.fclass, 0) << "class bits are not copied";
    EXPECT_TRUE(Content("cheap pills here"));
    EXPECT_EQ(result.hit, 2) << "result carries the raised count";
    EXPECT_EQ(first->hit, 2);
    EXPECT_EQ(list.GetSpamFilter(1)->hit, 0);
    EXPECT_STREQ(result.description, "rule");
    EXPECT_STREQ(result.folder, "First");
    EXPECT_EQ(result.sign, 1);
}

TEST_F(Matching, RegularExpressionAndSubstringRules)
{
    SPAM_FILTER* re = Rule(CONTENT, "v[i1]agra|cialis", 0, 1);
    EXPECT_TRUE(Content("cheap v1agra"));
    EXPECT_TRUE(Content("try cialis"));
    EXPECT_FALSE(Content("v[i1]agra| is the word itself"));
    EXPECT_FALSE(Content("vagra"));
    EXPECT_EQ(re->hit, 2);

    re->match = 0;
    EXPECT_TRUE(Content("v[i1]agra|cialis as text")) << "match kind 0: plain substring";
    EXPECT_FALSE(Content("cheap v1agra"));

    // A word that does not compile hits nothing, not even itself.
    SPAM_FILTER* bad = list.EditSpamFilter(re->fid, true, 0, CONTENT, 1, -1, "(abc", "Spam", "", 0);
    EXPECT_FALSE(Content("(abc abc"));
    EXPECT_FALSE(Content("(abc abc"));
    bad->match = 0;
    EXPECT_TRUE(Content("(abc abc"));

    // An empty word never hits.
    std::strcpy(bad->word, "");
    EXPECT_FALSE(Content("anything"));
    bad->match = 1;
    EXPECT_FALSE(Content("anything"));
}

TEST_F(Matching, CompiledPatternsFollowTheWordWhereverItChanges)
{
    SPAM_FILTER* r = Rule(CONTENT, "^start", 0, 1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(Content("start of text"));
        EXPECT_FALSE(Content("not at the start"));
    }
    std::strcpy(r->word, "end$");  // written straight into the record
    EXPECT_TRUE(Content("at the end"));
    EXPECT_FALSE(Content("start of text"));
    list.EditSpamFilter(r->fid, true, 0, CONTENT, 1, -1, "mid+le", "Spam", "", 0);
    EXPECT_TRUE(Content("a middddle"));
    EXPECT_FALSE(Content("at the end"));

    // Many distinct words in turn: the cache keeps working as words come and go.
    for (int i = 0; i < 500; ++i) {
        std::string word = "w" + std::to_string(i) + "x*y";
        std::strcpy(r->word, word.c_str());
        std::string text = "..w" + std::to_string(i) + "y..";
        ASSERT_TRUE(Content(text.c_str())) << word;
    }
}

TEST_F(Matching, RegularExpressionsOnTheSubject)
{
    Rule(SUBJECT, "re(port|ply)$", 0, 1);
    CMailHeader h = HeaderOf(kPlain);
    EXPECT_TRUE(Header(h));
    EXPECT_EQ(result.match, 1);
}

TEST_F(Matching, Cp949WordsHitCp949Text)
{
    TempDir other;
    std::string path = other.File("online.flt");
    {
        CSpamFilter saved(path.c_str());
        saved.AddSpamFilter(true, 0, SUBJECT, 0, 0, "\xB1\xA4\xB0\xED", "INBOX", "", 0);  // 광고
        saved.AddSpamFilter(true, 0, CONTENT, 0, 0, "\x81\x41", "INBOX", "", 0);          // 갂
        ASSERT_TRUE(saved.SaveSpamFilter());
    }
    CSpamFilter loaded(path.c_str());
    CMailHeader h = HeaderOf("From: a@example.com\r\nTo: b@example.net\r\n\r\n");
    h.ParsingSubject("subject", "(\xB1\xA4\xB0\xED) \xC8\xAB\xBA\xB8");  // (광고) 홍보
    EXPECT_TRUE(loaded.DoSpamFiltering(result, &h, folder, &action, 2, true, true, true, true));
    EXPECT_EQ(result.fid, 1);

    // The caller lower-cases the message text the same way the word was folded on load.
    char text[] = "xx \x81\x41 yy";
    char* p = text;
    CSpamUtil::ToLower(p);
    EXPECT_TRUE(loaded.DoSpamContentFiltering(result, text, folder, &action, 2, true, true, true));
    EXPECT_EQ(result.fid, 2);
}

TEST_F(Matching, FileFilteringComparesWholeNamesWithoutCase)
{
    SPAM_FILTER* r = Rule(FILENAME, "setup.exe", 2, 0, "Worms", 1);
    EXPECT_TRUE(list.DoFileFiltering(result, "SETUP.EXE", folder, &action));
    EXPECT_STREQ(folder, "Worms");
    EXPECT_EQ(action, 1);
    EXPECT_EQ(result.hit, 1);
    EXPECT_FALSE(list.DoFileFiltering(result, "setup.exe.txt", folder, &action));
    EXPECT_FALSE(list.DoFileFiltering(result, "my setup.exe", folder, &action));
    EXPECT_FALSE(list.DoFileFiltering(result, nullptr, folder, &action));
    EXPECT_FALSE(list.DoFileFiltering(result, "", folder, &action));
    r->property = SUBJECT;
    EXPECT_FALSE(list.DoFileFiltering(result, "setup.exe", folder, &action));
    EXPECT_EQ(r->hit, 1);
}

TEST_F(Matching, SingleRuleTestsLeaveTheResultAlone)
{
    SPAM_FILTER* r = Rule(SENDER, "alice", 0, 0, "Box", 1);
    CMailHeader h = HeaderOf(kPlain);
    std::strcpy(result.description, "untouched");
    EXPECT_TRUE(list.CheckFrom(result, &h, r, folder, &action));
    EXPECT_STREQ(folder, "Box");
    EXPECT_EQ(action, 1);
    EXPECT_STREQ(result.description, "untouched");
    std::strcpy(r->word, "bob");
    EXPECT_FALSE(list.CheckFrom(result, &h, r, folder, &action));
    EXPECT_TRUE(list.CheckTo(result, &h, r, folder, &action));
    EXPECT_TRUE(list.CheckString(result, "a bob b", r, folder, &action));
    EXPECT_FALSE(list.CheckString(result, "", r, folder, &action));
    EXPECT_FALSE(list.CheckString(result, nullptr, r, folder, &action));
    EXPECT_EQ(r->hit, 3);
    EXPECT_STREQ(result.description, "untouched");
    EXPECT_FALSE(list.CheckSpecial(result, &h, folder, &action));
}

TEST(SpamFilterLock, OwnersCanHoldTheListsLockForAWholeMatch)
{
    TempDir dir;
    CSpamFilter list(dir.File("private.flt").c_str());
    CPassFilter pass(dir.File("pass.flt").c_str());
    {
        std::lock_guard<CSpamFilter> guard(list);
        EXPECT_FALSE(list.GetLock().try_lock());
        list.AddSpamFilter(true, 0, 3, 0, 0, "x", "INBOX", "", 0);
    }
    EXPECT_TRUE(list.try_lock());
    list.unlock();
    std::lock_guard<std::mutex> guard(pass.GetLock());
    EXPECT_FALSE(pass.try_lock());
}

// Many literal rules matched in one pass must give what checking them one by one in list
// order gives: the first matching rule decides, whatever the others say.
TEST_F(Matching, ManyRulesFirstMatchInListOrderAcrossEdits)
{
    std::vector<std::string> words, folders;
    for (int i = 0; i < 300; ++i) {
        words.push_back("w" + std::to_string(i * 7919 % 1000) + "z");
        folders.push_back("F" + std::to_string(i));
        Rule(i % 2 ? CONTENT : ENTIRE, words[i].c_str(), 0, 0, folders[i].c_str());
    }
    auto firstIn = [&](const std::string& text) {
        for (size_t i = 0; i < words.size(); ++i)
            if (!words[i].empty() && text.find(words[i]) != std::string::npos)
                return static_cast<int>(i);
        return -1;
    };
    auto check = [&](const std::string& text) {
        Reset();
        int expected = firstIn(text);
        bool hit = Content(text.c_str());
        ASSERT_EQ(hit, expected >= 0) << text;
        if (hit) {
            EXPECT_EQ(std::string(folder), folders[static_cast<size_t>(expected)]) << text;
        }
    };
    check("nothing here at all");
    check("a w" + std::to_string(299 * 7919 % 1000) + "z then w0z");  // both; w0z comes first in the list
    check("xw" + std::to_string(150 * 7919 % 1000) + "zx");
    // Rules written straight into their records between messages are seen at once.
    std::strcpy(list.GetSpamFilter(0)->word, "w150");
    words[0] = "w150";
    check("xw" + std::to_string(150 * 7919 % 1000) + "zx");
    list.GetSpamFilter(1)->word[0] = '\0';
    words[1] = "";
    check("w" + std::to_string(1 * 7919 % 1000) + "z");
    // A rule turned into a pattern is matched as one.
    list.GetSpamFilter(2)->match = 1;
    words[2] = "";  // "w838z" read as a pattern matches the same text, so keep it out of reach
    std::strcpy(list.GetSpamFilter(2)->word, "^never");
    check("w" + std::to_string(2 * 7919 % 1000) + "z");
    // Deleting a rule shifts the ones after it; one added at the end keeps the count as it was.
    list.DelSpamFilter(list.GetSpamFilter(3)->fid);
    words.erase(words.begin() + 3);
    folders.erase(folders.begin() + 3);
    Rule(CONTENT, "brandnew", 0, 0, "New");
    words.push_back("brandnew");
    folders.push_back("New");
    for (size_t i = 0; i < words.size(); ++i)
        if (!words[i].empty())
            check(".." + words[i] + "..");
}

// The index holds a word once for all the rules that have it; the walk in list order must
// still see each of them, here the only one of 10,000 copies whose level lets it take part.
TEST_F(Matching, EveryRuleOfAWordManyRulesShareTakesPart)
{
    for (int i = 0; i < 10000; ++i)
        Rule(i % 2 ? CONTENT : ENTIRE, "free", i == 9999 ? 0 : 2, 0, i == 9999 ? "Last" : "Spam");
    Rule(CONTENT, "offer", 0, 0, "Offer");
    EXPECT_TRUE(Content("a free offer", 0));
    EXPECT_STREQ(folder, "Last");
    EXPECT_EQ(result.fid, 10000);
    Reset();
    EXPECT_TRUE(Content("a free offer", 2));
    EXPECT_EQ(result.fid, 1);
    Reset();
    EXPECT_TRUE(Content("no such word, only an offer", 2));
    EXPECT_STREQ(folder, "Offer");
}
