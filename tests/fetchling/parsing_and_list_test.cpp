#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fetchling/fetchling.h"

namespace {

std::vector<std::string> Words(const char* line, bool* result = nullptr)
{
    std::vector<std::string> words;
    bool ok = CPop3TranCommand::ParsingLine(line, words);
    if (result)
        *result = ok;
    return words;
}

using W = std::vector<std::string>;

}  // namespace

TEST(ParsingLine, SpacesQuotesAndParentheses)
{
    EXPECT_EQ(Words("a (b c) \"d e\""), (W{"a", "(b c)", "\"d e\""}));
    EXPECT_EQ(Words("3 1200"), (W{"3", "1200"}));
    EXPECT_EQ(Words("   lead  and   trail   "), (W{"lead", "and", "trail"}));
    // Quotes inside parentheses are plain bytes: they do not hide a closing parenthesis.
    EXPECT_EQ(Words("(a (b \"c) d\") e) f"), (W{"(a (b \"c) d\")", "e)", "f"}));
    EXPECT_EQ(Words("\"x (y\" z"), (W{"\"x (y\"", "z"}));
    EXPECT_EQ(Words("\"ab\"cd"), (W{"\"ab\"", "cd"}));
    EXPECT_EQ(Words("tab\tinside"), (W{"tab\tinside"}));
}

TEST(ParsingLine, QuoteOrParenthesisInsideAWordRestartsIt)
{
    EXPECT_EQ(Words("ab\"cd ef\" g"), (W{"\"cd ef\"", "g"}));
    EXPECT_EQ(Words("xy(1 2)z"), (W{"(1 2)", "z"}));
}

TEST(ParsingLine, OpenWordsAtTheEndAndEdgeLines)
{
    EXPECT_EQ(Words("a \"unclosed quote"), (W{"a", "\"unclosed quote"}));
    EXPECT_EQ(Words("a (unclosed (group)"), (W{"a", "(unclosed (group)"}));
    EXPECT_EQ(Words("stray) paren"), (W{"stray)", "paren"}));
    bool ok = false;
    EXPECT_TRUE(Words("", &ok).empty());
    EXPECT_TRUE(ok);
    EXPECT_TRUE(Words("    ", &ok).empty());
    EXPECT_TRUE(ok);

    std::string limit(497, 'w');
    EXPECT_EQ(Words(limit.c_str(), &ok), (W{limit}));
    EXPECT_TRUE(ok);
    std::string over(498, 'w');
    EXPECT_TRUE(Words(over.c_str(), &ok).empty());
    EXPECT_FALSE(ok);
    EXPECT_TRUE(Words(nullptr, &ok).empty());
    EXPECT_FALSE(ok);

    // Words are appended to what the vector already holds.
    std::vector<std::string> words{"old"};
    CPop3TranCommand::ParsingLine("new", words);
    EXPECT_EQ(words, (W{"old", "new"}));
}

TEST(Extract, CopiesTheRangeAndTerminates)
{
    char dest[20];
    memset(dest, 'z', sizeof dest);
    CPop3TranCommand::Extract("hello world", dest, 6, 11);
    EXPECT_STREQ(dest, "world");
    CPop3TranCommand::Extract("hello world", dest, 0, 1);
    EXPECT_STREQ(dest, "h");
    CPop3TranCommand::Extract("hello world", dest, 4, 4);
    EXPECT_STREQ(dest, "");
    strcpy(dest, "keep");
    CPop3TranCommand::Extract("hello world", dest, 5, 2);
    EXPECT_STREQ(dest, "");
    strcpy(dest, "keep");
    CPop3TranCommand::Extract(nullptr, dest, 0, 3);
    EXPECT_STREQ(dest, "");
    CPop3TranCommand::Extract("abc", nullptr, 0, 3);  // reported, no crash
}

TEST(Pop3Mesg, RecordsCursorAndUids)
{
    CPop3Mesg list;
    EXPECT_EQ(list.Size(), 0);
    list.Reset();
    EXPECT_FALSE(list.GetNextMesg());
    EXPECT_EQ(list.GetMesgOctet(), 0);

    list.AddMesgToList(1, 100);
    list.AddMesgToList(2, 200);
    list.AddMesgToList(2, 250);  // a repeated number: the first one gets the UID
    list.SetMesgUID(2, "second");
    list.SetMesgUID(7, "nobody");
    list.SetMesgUID(1, std::string(120, 'q').c_str());
    EXPECT_TRUE(list.IsExist(2));
    EXPECT_FALSE(list.IsExist(7));

    std::vector<std::string> uids{"before"};
    list.GetUIDList(&uids);
    EXPECT_EQ(uids, (W{"before", std::string(99, 'q'), "second", ""}));

    list.Reset();
    ASSERT_TRUE(list.GetNextMesg());
    EXPECT_EQ(list.GetMesgID(), 1);
    ASSERT_TRUE(list.GetNextMesg());
    EXPECT_EQ(list.GetMesgID(), 2);
    EXPECT_EQ(list.GetMesgOctet(), 200);

    // Only the first record is ever removed, and only when its number matches.
    list.RemoveMesgToList(2);
    EXPECT_EQ(list.Size(), 3);
    list.RemoveMesgToList(1);
    EXPECT_EQ(list.Size(), 2);
    EXPECT_FALSE(list.IsExist(1));

    list.Clear();
    EXPECT_EQ(list.Size(), 0);
    EXPECT_FALSE(list.GetNextMesg());
    Pop3Mail mail;
    EXPECT_EQ(sizeof mail.uid, 100u);
    EXPECT_EQ(mail.number, 0);
    EXPECT_EQ(mail.size, 0);
    EXPECT_STREQ(mail.uid, "");
}
