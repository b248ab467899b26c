#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "harborage/harborage.h"

namespace {
std::vector<std::string> Split(const std::string& line)
{
    char tokens[CIMAPSession::kTokenCount][CIMAPSession::kTokenSize];
    int n = CIMAPSession::SplitCommandLine(line.c_str(), tokens);
    return std::vector<std::string>(tokens, tokens + n);
}
using V = std::vector<std::string>;
}  // namespace

TEST(ImapSplit, QuotesAndParenthesesStayWhole)
{
    EXPECT_EQ(Split("a1 LOGIN kim secret"), (V{"a1", "LOGIN", "kim", "secret"}));
    EXPECT_EQ(Split("a2   SELECT    \"INBOX\"  "), (V{"a2", "SELECT", "\"INBOX\""}));
    EXPECT_EQ(Split("a3 LIST \"\" \"*\""), (V{"a3", "LIST", "\"\"", "\"*\""}));
    EXPECT_EQ(Split("a4 SELECT \"My (odd) box\""), (V{"a4", "SELECT", "\"My (odd) box\""}));
    EXPECT_EQ(Split("a5 FETCH 1:* (FLAGS BODY.PEEK[HEADER.FIELDS (From \"Sub ject\")])"),
              (V{"a5", "FETCH", "1:*", "(FLAGS BODY.PEEK[HEADER.FIELDS (From \"Sub ject\")])"}));
    EXPECT_EQ(Split("a6 STATUS INBOX (MESSAGES UNSEEN)"), (V{"a6", "STATUS", "INBOX", "(MESSAGES UNSEEN)"}));
}

TEST(ImapSplit, OddTokensAndLimits)
{
    // A quote inside a plain token starts a new token there; what came before is dropped.
    EXPECT_EQ(Split("t CMD ab\"cd ef\" gh"), (V{"t", "CMD", "\"cd ef\"", "gh"}));
    EXPECT_EQ(Split("t CMD ab(c d) e"), (V{"t", "CMD", "(c d)", "e"}));
    // An unterminated group takes the rest of the line.
    EXPECT_EQ(Split("t CMD (a b"), (V{"t", "CMD", "(a b"}));
    EXPECT_EQ(Split("t CMD \"a b"), (V{"t", "CMD", "\"a b"}));
    // At most nine tokens; the rest of the line is dropped.
    EXPECT_EQ(Split("1 2 3 4 5 6 7 8 9 10 11").size(), 9u);
    EXPECT_TRUE(Split("").empty());
    EXPECT_EQ(Split("onlytag").size(), 1u);
    EXPECT_TRUE(Split("a " + std::string(997, 'x')).empty());   // 999 bytes: no tokens
    EXPECT_EQ(Split("a " + std::string(996, 'x')).size(), 2u);  // 998 bytes still split
}

TEST(ImapLiteral, AnnouncementAtTheLineEnd)
{
    size_t open = 0;
    EXPECT_EQ(CIMAPSession::AnnouncedLiteral("a1 LOGIN {5}", &open), 5);
    EXPECT_EQ(open, 9u);
    EXPECT_EQ(CIMAPSession::AnnouncedLiteral("a1 LOGIN \"kim\" {999}", &open), 999);
    EXPECT_EQ(open, 15u);
    // Only the last brace counts, with one to three digits and nothing else.
    EXPECT_EQ(CIMAPSession::AnnouncedLiteral("a1 LOGIN {5} {12}", &open), 12);
    EXPECT_EQ(CIMAPSession::AnnouncedLiteral("a1 LOGIN {1000}", &open), -1);
    EXPECT_EQ(CIMAPSession::AnnouncedLiteral("a1 LOGIN {}", &open), -1);
    EXPECT_EQ(CIMAPSession::AnnouncedLiteral("a1 LOGIN {5+}", &open), -1);
    EXPECT_EQ(CIMAPSession::AnnouncedLiteral("a1 LOGIN 5}", &open), -1);
    EXPECT_EQ(CIMAPSession::AnnouncedLiteral("}", &open), -1);
    EXPECT_EQ(CIMAPSession::AnnouncedLiteral("", &open), -1);
    EXPECT_EQ(CIMAPSession::AnnouncedLiteral("a1 LOGIN {5} x", &open), -1);
}

TEST(ImapSequenceSet, RangesStarsAndDroppedParts)
{
    using R = CIMAPMessageCommand::Range;
    using RV = std::vector<R>;
    EXPECT_EQ(CIMAPMessageCommand::ParseSequenceSet("1:*"), (RV{R{1, -1}}));
    EXPECT_EQ(CIMAPMessageCommand::ParseSequenceSet("2,4:6,,*"), (RV{R{2, 2}, R{4, 6}, R{-1, -1}}));
    EXPECT_TRUE(CIMAPMessageCommand::ParseSequenceSet("3:1").empty());  // dropped, not swapped
    EXPECT_TRUE(CIMAPMessageCommand::ParseSequenceSet(":5,5:").empty());
    EXPECT_TRUE(CIMAPMessageCommand::ParseSequenceSet("").empty());
    EXPECT_TRUE(CIMAPMessageCommand::ParseSequenceSet(std::string(500, '1').c_str()).empty());
    EXPECT_EQ(CIMAPMessageCommand::ParseSequenceSet((std::string(29, '1') + ",7").c_str()), (RV{R{7, 7}}));

    auto set = CIMAPMessageCommand::ParseSequenceSet("5:*");
    EXPECT_FALSE(CIMAPMessageCommand::MatchesRange(set, false, 4, 100));
    EXPECT_TRUE(CIMAPMessageCommand::MatchesRange(set, false, 5, 1));
    EXPECT_TRUE(CIMAPMessageCommand::MatchesRange(set, true, 1, 5));
    EXPECT_FALSE(CIMAPMessageCommand::MatchesRange(set, true, 9, 4));
    auto star = CIMAPMessageCommand::ParseSequenceSet("*");
    EXPECT_TRUE(CIMAPMessageCommand::MatchesRange(star, false, 1, 1));
}

TEST(ImapEnvelope, StringsQuotedOrLiteral)
{
    EXPECT_EQ(CIMAPMessageCommand::EnvelopeString(nullptr), "NIL");
    EXPECT_EQ(CIMAPMessageCommand::EnvelopeString(""), "NIL");
    EXPECT_EQ(CIMAPMessageCommand::EnvelopeString("Hello"), "\"Hello\"");
    EXPECT_EQ(CIMAPMessageCommand::EnvelopeString("say \"hi\""), "\"say \\\"hi\\\"\"");
    EXPECT_EQ(CIMAPMessageCommand::EnvelopeString("\xC7\xD1\xB1\xDB"), "{4}\r\n\xC7\xD1\xB1\xDB");
    // A backslash from the mail is escaped, or it would escape the closing quote.
    EXPECT_EQ(CIMAPMessageCommand::EnvelopeString("back\\"), "\"back\\\\\"");
    EXPECT_EQ(CIMAPMessageCommand::EnvelopeString("a\r\nb"), "{4}\r\na\r\nb");

    MAILINFO info{};
    info.seen = info.flagged = info.recent = true;
    EXPECT_EQ(CIMAPMessageCommand::FlagText(info), "\\Seen \\Flagged \\Recent ");
    auto f = CIMAPMessageCommand::ParseFlagList("\\SEEN \\Draft \\Unknown");
    EXPECT_TRUE(f.seen);
    EXPECT_TRUE(f.draft);
    EXPECT_FALSE(f.flagged);
}
