#include "components/toolwick/reg_exp.h"

#include <string>
#include <utility>

#include <gtest/gtest.h>

namespace {

bool Compiles(const char* pattern)
{
    CRegExp re;
    return re.RegComp(pattern) != nullptr;
}

// (offset, length) of the first match; (-2, 0) when the pattern does not compile.
std::pair<int, int> Find(const char* pattern, const std::string& text)
{
    CRegExp re;
    if (!re.RegComp(pattern))
        return {-2, 0};
    int at = re.RegFind(text.c_str());
    return {at, re.GetFindLen()};
}

using Match = std::pair<int, int>;

}  // namespace

TEST(RegExpApi, RegCompReturnsTheObjectOrNull)
{
    CRegExp re;
    EXPECT_EQ(re.RegComp("fr[e3]e"), &re);
    EXPECT_EQ(re.RegFind("get it FR33 or fr3e now"), 15);
    EXPECT_EQ(re.GetFindLen(), 4);
    // Compiled once, found many times.
    EXPECT_EQ(re.RegFind("free"), 0);
    EXPECT_EQ(re.RegFind("nothing"), -1);
    EXPECT_EQ(re.GetFindLen(), 0);

    // A failed compile leaves nothing to match with.
    EXPECT_EQ(re.RegComp("(free"), nullptr);
    EXPECT_EQ(re.RegFind("free"), -1);
    EXPECT_EQ(re.RegComp(nullptr), nullptr);

    // Recompiling replaces the pattern.
    EXPECT_EQ(re.RegComp("b+"), &re);
    EXPECT_EQ(re.RegFind(nullptr), -1);
    EXPECT_EQ(re.RegFind("aabbbc"), 2);
    EXPECT_EQ(re.GetFindLen(), 3);

    CRegExp fresh;
    EXPECT_EQ(fresh.RegFind("anything"), -1);
}

TEST(RegExpDialect, OperatorsAndGroups)
{
    EXPECT_EQ(Find("cat|dog", "hotdog cat"), Match(3, 3));
    EXPECT_EQ(Find("ab*c", "xac abbbc"), Match(1, 2));
    EXPECT_EQ(Find("ab+c", "xac abbbc"), Match(4, 5));
    EXPECT_EQ(Find("colou?r", "the color"), Match(4, 5));
    EXPECT_EQ(Find("(ab)+", "xabababy"), Match(1, 6));
    EXPECT_EQ(Find("v(i|1)agr(a|@)", "buy v1agr@ now"), Match(4, 6));
    EXPECT_EQ(Find("a(b|c)*d", "abcbcbd"), Match(0, 7));
    EXPECT_EQ(Find("x*", "abc"), Match(0, 0));  // an empty match at the start
    EXPECT_EQ(Find("()", "abc"), Match(0, 0));
    EXPECT_EQ(Find("a|", "xa"), Match(0, 0));
    EXPECT_EQ(Find("(a*)?b", "aab"), Match(0, 3));
    // Concatenation binds tighter than alternation; ^ belongs to the first branch only.
    EXPECT_EQ(Find("^ab|cd", "xxcd"), Match(2, 2));
    EXPECT_EQ(Find("^ab|cd", "abcd"), Match(0, 2));
}

TEST(RegExpDialect, MatchesLikeABacktrackingMatcher)
{
    // The first alternative that leads to a match wins, repetitions are greedy.
    EXPECT_EQ(Find("a|ab", "ab"), Match(0, 1));
    EXPECT_EQ(Find("ab|a", "ab"), Match(0, 2));
    EXPECT_EQ(Find("a*", "aaab"), Match(0, 3));
    EXPECT_EQ(Find("(a|ab)(c|bcd)", "abcd"), Match(0, 4));
    EXPECT_EQ(Find("a.*b", "a1b2b3"), Match(0, 5));
    EXPECT_EQ(Find("a?a", "aa"), Match(0, 2));
}

TEST(RegExpDialect, DotMatchesAnyByteIncludingNewline)
{
    EXPECT_EQ(Find("a.b", "xa\nb"), Match(1, 3));
    EXPECT_EQ(Find("a.b", "a\rb"), Match(0, 3));
    EXPECT_EQ(Find("a.b", "a\xff"
                          "b"),
              Match(0, 3));
    EXPECT_EQ(Find("a.b", "ab"), Match(-1, 0));
}

TEST(RegExpDialect, AnchorsHoldAtTheEndsOfTheTextOnly)
{
    EXPECT_EQ(Find("^free", "free stuff"), Match(0, 4));
    EXPECT_EQ(Find("^free", "get free"), Match(-1, 0));
    EXPECT_EQ(Find("^free", "x\nfree"), Match(-1, 0));  // not after a newline
    EXPECT_EQ(Find("now$", "buy now"), Match(4, 3));
    EXPECT_EQ(Find("now$", "now\n"), Match(-1, 0));  // not before a final newline
    EXPECT_EQ(Find("now$", "now\nlater"), Match(-1, 0));
    EXPECT_EQ(Find("^$", ""), Match(0, 0));
    EXPECT_EQ(Find("^abc$", "abc"), Match(0, 3));
    EXPECT_EQ(Find("a^b", "a^b"), Match(-1, 0));  // ^ inside is still an anchor
    EXPECT_EQ(Find("$?x", "ax"), Match(1, 1));
}

TEST(RegExpDialect, Brackets)
{
    EXPECT_EQ(Find("[0-9]+", "order 1234!"), Match(6, 4));
    EXPECT_EQ(Find("[^a-z ]", "abc def!"), Match(7, 1));
    EXPECT_EQ(Find("[^a]", "a\n"), Match(1, 1));  // negation includes newline
    EXPECT_EQ(Find("[]x]", "a]"), Match(1, 1));   // ] first is literal
    EXPECT_EQ(Find("[^]x]+", "]]ab]"), Match(2, 2));
    EXPECT_EQ(Find("[-x]", "a-"), Match(1, 1));           // - first is literal
    EXPECT_EQ(Find("[x-]", "a-"), Match(1, 1));           // - last is literal
    EXPECT_EQ(Find("[a-c-e]+", "xabcdez"), Match(1, 5));  // second range starts where the first ended
    EXPECT_EQ(Find("[\\]", "a\\b"), Match(1, 1));         // backslash is literal in brackets
    EXPECT_EQ(Find("[\\n]", "n"), Match(0, 1));
    EXPECT_EQ(Find("[.*]+", "a*.b"), Match(1, 2));  // specials are literal in brackets
    EXPECT_EQ(Find("[a-a]", "ba"), Match(1, 1));
    // Not character classes: "[[:digit:]]" is the set [:digt followed by a literal ].
    EXPECT_EQ(Find("[[:digit:]]", "5"), Match(-1, 0));
    EXPECT_EQ(Find("[[:digit:]]", "t]"), Match(0, 2));
}

TEST(RegExpDialect, BackslashMakesAnyByteLiteral)
{
    EXPECT_EQ(Find("\\*\\+\\?\\.", "a*+?."), Match(1, 4));
    EXPECT_EQ(Find("\\(x\\)", "f(x)"), Match(1, 3));
    EXPECT_EQ(Find("a\\|b", "a|b"), Match(0, 3));
    EXPECT_EQ(Find("\\[a]", "[a]"), Match(0, 3));
    EXPECT_EQ(Find("\\^a\\$", "x^a$"), Match(1, 3));
    EXPECT_EQ(Find("\\\\", "a\\"), Match(1, 1));
    // \n, \d, \b are the letters themselves, not RE2's escapes.
    EXPECT_EQ(Find("a\\nb", "a\nb anb"), Match(4, 3));
    EXPECT_EQ(Find("\\d+", "12 ddd"), Match(3, 3));
    EXPECT_EQ(Find("\\bfree", "bfree"), Match(0, 5));
    EXPECT_EQ(Find("\\x41", "A x41"), Match(2, 3));
}

TEST(RegExpDialect, ExtensionsOfOtherDialectsAreLiteralOrRejected)
{
    // Braces are plain characters in the classic syntax.
    EXPECT_EQ(Find("a{2}", "aa a{2}"), Match(3, 4));
    EXPECT_EQ(Find("x{1,3}", "xxx"), Match(-1, 0));
    EXPECT_EQ(Find("{", "a{"), Match(1, 1));
    EXPECT_EQ(Find("}", "}"), Match(0, 1));
    // RE2 / Perl group syntax has a repetition following nothing.
    EXPECT_FALSE(Compiles("(?i)free"));
    EXPECT_FALSE(Compiles("(?:ab)"));
    EXPECT_FALSE(Compiles("(?P<n>a)"));
    // Lazy quantifiers are a repeated repetition.
    EXPECT_FALSE(Compiles("a*?"));
    EXPECT_FALSE(Compiles("a+?"));
    // Case is significant.
    EXPECT_EQ(Find("free", "FREE Free"), Match(-1, 0));
    EXPECT_EQ(Find("Free", "FREE Free"), Match(5, 4));
}

TEST(RegExpDialect, RejectsWhatTheClassicSyntaxRejects)
{
    const char* rejected[] = {
        "*a",
        "+a",
        "?a",
        "*",  // repetition following nothing
        "(*a)",
        "a|*b",
        "(|*)",
        "a(+b)",
        "a**",
        "a*+",
        "a+*",
        "a??",
        "(ab)*+",  // nested repetition
        "(a*)*",
        "(a*)+",
        "(a|b*)*",
        "(a?)+",
        "()*",  // * or + on what may match empty
        "^*",
        "$+",
        "(^)*",
        "(a|)+",
        "(",
        "a(b",
        "((a)",
        ")",
        "a)b",
        "(a))",  // unbalanced parentheses
        "[",
        "[abc",
        "[]",
        "[^]",
        "a[b-",  // unbalanced brackets
        "[z-a]",
        "[9-0]",  // reversed range
        "\\",
        "abc\\",                   // trailing backslash
        "(((((((((((a))))))))))",  // ten groups
    };
    for (const char* p : rejected)
        EXPECT_FALSE(Compiles(p)) << p;

    const char* accepted[] = {
        "",
        "a",
        "()",
        "a|",
        "|a",
        "(a|)",
        "(a*)?",
        "(a*b)*",
        "(a+)+",
        "$?",
        "^?a",
        "a?b+c*",
        "[]]",
        "[^]]",
        "[-]",
        "[]-a]",
        "(((((((((a)))))))))",  // nine groups
        "a{",
        "}{",
        "\\{",
    };
    for (const char* p : accepted)
        EXPECT_TRUE(Compiles(p)) << p;
}

TEST(RegExpBytes, Cp949WordsMatchCp949Text)
{
    // "광고" and "무료 광고 메일" in CP949.
    const std::string ad = "\xB1\xA4\xB0\xED";
    const std::string text = "\xB9\xAB\xB7\xE1 \xB1\xA4\xB0\xED \xB8\xDE\xC0\xCF";
    EXPECT_EQ(Find(ad.c_str(), text), Match(5, 4));
    EXPECT_EQ(Find(("(" + ad + ")+").c_str(), text + ad + ad), Match(5, 4));
    EXPECT_EQ(Find((ad + "|x").c_str(), "x" + ad), Match(0, 1));
    // '.' is one byte, so a Hangul syllable takes two.
    EXPECT_EQ(Find("\xB1\xA4..", text), Match(5, 4));
    // Byte ranges above 0x80 in brackets.
    EXPECT_EQ(Find("[\xB0-\xC8][\xA1-\xFE]", "abc" + ad), Match(3, 2));
    EXPECT_EQ(Find("[^\x01-\x7F]+", "mail " + ad + " now"), Match(5, 4));
    // Escaping a high byte keeps it literal.
    EXPECT_EQ(Find("\\\xB1\xA4", text), Match(5, 2));
    // Not the UTF-8 form of the same word.
    EXPECT_EQ(Find("\xEA\xB4\x91\xEA\xB3\xA0", text), Match(-1, 0));
}

TEST(RegExpBytes, KoreanAlternativesSharingTheirFirstSyllable)
{
    // "광고|광주" (ad | Gwangju) against "무료 광주 광고": the common leading syllable of the
    // alternatives must still be searched for as CP949 bytes.
    const std::string text = "\xB9\xAB\xB7\xE1 \xB1\xA4\xC1\xD6 \xB1\xA4\xB0\xED";
    EXPECT_EQ(Find("\xB1\xA4\xB0\xED|\xB1\xA4\xC1\xD6", text), Match(5, 4));
    EXPECT_EQ(Find("(\xB1\xA4\xB0\xED|\xB1\xA4\xC1\xD6)", text), Match(5, 4));
    EXPECT_EQ(Find("\xB1\xA4|\xB1\xA4", text), Match(5, 2));
    EXPECT_EQ(Find("^(\xB9\xAB|\xB9\xAC)", text), Match(0, 2));
    EXPECT_EQ(Find("^(\xB1\xA4|\xB1\xA5)", text), Match(-1, 0));
}

TEST(RegExpBytes, NegatedSetOfEveryByteMatchesNothing)
{
    std::string all = "[^";
    all += '\x01';
    all += '-';
    all += '\xFF';
    all += ']';
    EXPECT_EQ(Find(all.c_str(), "abc\xFF"), Match(-1, 0));
    EXPECT_EQ(Find((all + "|c").c_str(), "abc"), Match(2, 1));
}

TEST(RegExpLinear, PathologicalPatternsFinishOnLargeInput)
{
    // A backtracking matcher needs exponential time for these; they must simply finish.
    std::string as(100000, 'a');
    EXPECT_EQ(Find("(a|aa)*b", as), Match(-1, 0));
    EXPECT_EQ(Find("(a+)+b", as), Match(-1, 0));
    EXPECT_EQ(Find("(a|a)*c", as), Match(-1, 0));
    EXPECT_EQ(Find("(.+.+)+x", std::string(20000, 'y')), Match(-1, 0));
    EXPECT_EQ(Find("(a|aa)*b", as + "b"), Match(0, 100001));
}
