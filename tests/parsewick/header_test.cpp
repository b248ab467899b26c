#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parsewick/parsewick.h"

namespace {

std::string Decode(const std::string& in)
{
    std::vector<char> out(in.size() + 1, '\x7f');
    if (!CMailHeader::CheckEncoding(in.c_str(), out.data()))
        return "<false>";
    return out.data();
}

// Runs one unfolded field through the dispatcher, as the header reader does.
void Field(CMailHeader& h, const char* name, const std::string& value)
{
    std::string n = name;
    std::string v = value;
    h.BranchHeader(n.data(), v.data());
}

}  // namespace

TEST(EncodedWord, DecodesBAndQ)
{
    EXPECT_EQ(Decode("=?euc-kr?B?QUJD?="), "ABC");
    EXPECT_EQ(Decode("=?iso-8859-1?Q?caf=E9?="), "caf\xe9");
    EXPECT_EQ(Decode("=?x?b?QUJD?="), "ABC");
    EXPECT_EQ(Decode("=?x?q?a_b?="), "a_b");  // underscores stay
    EXPECT_EQ(Decode("Re: =?x?B?QUJD?= ok"), "Re: ABC ok");
    // Q text that begins with an encoded byte (common for UTF-8 subjects).
    EXPECT_EQ(Decode("=?utf-8?Q?=EC=95=88?="), "\xec\x95\x88");
    EXPECT_EQ(Decode("=?utf-8?Q?=41?= x"), "A x");
}

TEST(EncodedWord, AdjacentOpenAndOddWords)
{
    EXPECT_EQ(Decode("=?x?B?QQ==?= =?x?B?Qg==?="), "A B");
    EXPECT_EQ(Decode("=?x?B?QQ==?==?x?B?Qg==?="), "AB");
    EXPECT_EQ(Decode("abc="), "abc");
    EXPECT_EQ(Decode("a"), "<false>");
    EXPECT_EQ(Decode(""), "<false>");
    EXPECT_EQ(Decode("ab"), "ab");
    // A word left open contributes only its last byte.
    EXPECT_EQ(Decode("x =?x?B?QUJD"), "x D");
    // Closed before its encoding token: nothing.
    EXPECT_EQ(Decode("a=?x?=b"), "ab");
    // An unknown encoding contributes nothing; so does an overlong token.
    EXPECT_EQ(Decode("[=?x?Z?QUJD?=]"), "[]");
    EXPECT_EQ(Decode("[=?x?BBBB?QUJD?=]"), "[]");
    // The charset is not used and may be long: cut in its work area without harm.
    EXPECT_EQ(Decode("=?" + std::string(500, 'c') + "?B?QUJD?="), "ABC");
}

TEST(EncodedWord, BoundedOutput)
{
    // One decoded word stops at 2047 bytes.
    std::string raw(3000, 'k');
    std::vector<char> enc(raw.size() * 2);
    CBase64::Encode(raw.data(), static_cast<int>(raw.size()) - 1, enc.data(), -1);
    std::string word = "=?x?B?" + std::string(enc.data()) + "?=";
    EXPECT_EQ(Decode(word), std::string(2047, 'k'));
    EXPECT_EQ(Decode(word + "!!"), std::string(2047, 'k') + "!!");
    // The sized form cuts the whole output.
    char small[8];
    EXPECT_TRUE(CMailHeader::CheckEncoding("abcdefghijkl", small, sizeof small));
    EXPECT_STREQ(small, "abcdefg");
    EXPECT_TRUE(CMailHeader::CheckEncoding(word.c_str(), small, sizeof small));
    EXPECT_STREQ(small, "kkkkkkk");
}

TEST(Subject, DecodesAndKeepsTheLastField)
{
    CMailHeader h;
    Field(h, "Subject", "A");
    Field(h, "SUBJECT", "B");
    EXPECT_STREQ(h.GetSubject(), "B");
    EXPECT_STREQ(h.GetHeader("subject"), "AB");
    Field(h, "subject", "=?x?B?QUJD?=");
    EXPECT_STREQ(h.GetSubject(), "ABC");
    EXPECT_STREQ(h.GetHeader("subject"), "AB=?x?B?QUJD?=");  // the map keeps it undecoded
    h.ParsingSubject("subject", "a");
    EXPECT_STREQ(h.GetSubject(), "a");
    h.ParsingSubject("subject", "abc=");
    EXPECT_STREQ(h.GetSubject(), "abc");
    // The subject work area holds 2047 bytes.
    h.ParsingSubject("subject", std::string(5000, 's').c_str());
    EXPECT_EQ(std::string(h.GetSubject()), std::string(2047, 's'));
}

TEST(Address, SplitsNameAndMail)
{
    CMailHeader h;
    h.ParsingFrom("from", "Kim <kim@example.com>");
    EXPECT_STREQ(h.GetFromName(), "Kim");
    EXPECT_STREQ(h.GetFromMail(), "kim@example.com");

    CMailHeader q;
    q.ParsingTo("to", "\"Lee, J\" <lee@example.com>");
    EXPECT_STREQ(q.GetToName(), "Lee, J");
    EXPECT_STREQ(q.GetToMail(), "lee@example.com");

    CMailHeader bare;
    bare.ParsingTo("to", "a@x.org, b@y.org");
    EXPECT_STREQ(bare.GetToName(), "");
    EXPECT_STREQ(bare.GetToMail(), "a@x.org, b@y.org");

    CMailHeader two;
    two.ParsingTo("to", "A <a@x.org>, B <b@y.org>");
    EXPECT_STREQ(two.GetToName(), "A <a@x.org>, B");
    EXPECT_STREQ(two.GetToMail(), "b@y.org");

    CMailHeader enc;
    enc.ParsingSender("sender", "=?euc-kr?B?x+vH7A==?= <s@x.org>");
    EXPECT_STREQ(enc.GetSenderMail(), "s@x.org");
    EXPECT_STREQ(enc.GetSenderName(), "\xc7\xeb\xc7\xec");

    CMailHeader rp;
    Field(rp, "Return-Path", "<bounce@x.org>");
    EXPECT_STREQ(rp.GetReturnPathName(), "");
    EXPECT_STREQ(rp.GetReturnPathMail(), "bounce@x.org");

    CMailHeader open;
    open.ParsingFrom("from", "Nobody <n@x.org");
    EXPECT_STREQ(open.GetFromMail(), "n@x.org");
    CMailHeader reversed;
    reversed.ParsingFrom("from", "a> b <c");
    EXPECT_STREQ(reversed.GetFromMail(), "");
}

TEST(Address, AppendsNeverClears)
{
    CMailHeader h;
    Field(h, "From", "Al <a@x.org>");
    Field(h, "From", "Bo <b@x.org>");
    EXPECT_STREQ(h.GetFromName(), "AlBo");
    EXPECT_STREQ(h.GetFromMail(), "a@x.orgb@x.org");
    Field(h, "To", "t@x.org");
    Field(h, "to", "u@x.org");
    EXPECT_STREQ(h.GetToMail(), "t@x.orgu@x.org");
    EXPECT_STREQ(h.GetHeader("to"), "t@x.orgu@x.org");
}

TEST(Address, DisplayNameWorkAreaLimit)
{
    // A name range of 4095 bytes fits; 4096 bytes stores neither name nor address.
    std::string fits = std::string(4094, 'n') + " <a@x.org>";
    CMailHeader h;
    h.ParsingFrom("from", fits.c_str());
    EXPECT_EQ(std::string(h.GetFromName()), std::string(4094, 'n'));
    EXPECT_STREQ(h.GetFromMail(), "a@x.org");

    std::string over = std::string(4095, 'n') + " <a@x.org>";
    CMailHeader o;
    o.ParsingFrom("from", over.c_str());
    EXPECT_STREQ(o.GetFromName(), "");
    EXPECT_STREQ(o.GetFromMail(), "");

    std::string huge = std::string(100000, 'n') + " <a@x.org>";
    o.ParsingFrom("from", huge.c_str());
    EXPECT_STREQ(o.GetFromMail(), "");
}

TEST(ContentType, Parameters)
{
    CMailHeader h;
    Field(h, "Content-Type", "text/plain; charset=\"euc-kr\"");
    EXPECT_STREQ(h.GetContentType(), "text/plain");
    EXPECT_STREQ(h.GetCharSet(), "euc-kr");
    EXPECT_FALSE(h.IsMultiPart());

    CMailHeader m;
    m.ParsingContent_Type("content-type", "multipart/mixed;\tBOUNDARY=\"abc\";;NAME=\"x.exe\"");
    EXPECT_TRUE(m.IsMultiPart());
    EXPECT_STREQ(m.GetBoundary(), "abc");
    EXPECT_STREQ(m.GetFileName(), "x.exe");
    EXPECT_TRUE(m.IsAttachFile());

    CMailHeader caps;
    caps.ParsingContent_Type("content-type", "Multipart/Mixed; boundary=x");
    EXPECT_FALSE(caps.IsMultiPart());
    EXPECT_STREQ(caps.GetBoundary(), "x");

    // The type parameter of multipart/related does not replace the media type.
    CMailHeader rel;
    rel.ParsingContent_Type("content-type", "multipart/related; type=\"text/html\"; boundary=r");
    EXPECT_TRUE(rel.IsMultiPart());
    EXPECT_STREQ(rel.GetContentType(), "multipart/related");
    EXPECT_STREQ(rel.GetBoundary(), "r");

    // Boundaries that end in '=' keep it.
    CMailHeader eq;
    eq.ParsingContent_Type("content-type", "multipart/alternative; boundary=\"===============1234==\"");
    EXPECT_STREQ(eq.GetBoundary(), "===============1234==");

    // Encoded words in parameters are decoded.
    CMailHeader fn;
    fn.ParsingContent_Type("content-type", "application/octet-stream; name=\"=?x?B?YS56aXA=?=\"");
    EXPECT_STREQ(fn.GetFileName(), "a.zip");

    // filename inside Content-Type counts; a Content-Disposition filename alone does not.
    CMailHeader f1;
    f1.ParsingContent_Type("content-type", "application/pdf; filename=r.pdf");
    EXPECT_TRUE(f1.IsAttachFile());
    EXPECT_STREQ(f1.GetFileName(), "r.pdf");
    CMailHeader f2;
    Field(f2, "Content-Type", "application/pdf");
    Field(f2, "Content-Disposition", "attachment; filename=r.pdf");
    EXPECT_FALSE(f2.IsAttachFile());
    EXPECT_STREQ(f2.GetFileName(), "");
}

TEST(ContentType, FiveHundredByteLimit)
{
    std::string pad(500 - strlen("multipart/mixed; boundary=b; x="), 'p');
    std::string at500 = "multipart/mixed; boundary=b; x=" + pad;
    ASSERT_EQ(at500.size(), 500u);
    CMailHeader h;
    h.ParsingContent_Type("content-type", at500.c_str());
    EXPECT_FALSE(h.IsMultiPart());
    EXPECT_STREQ(h.GetBoundary(), "");

    CMailHeader ok;
    ok.ParsingContent_Type("content-type", at500.substr(0, 499).c_str());
    EXPECT_TRUE(ok.IsMultiPart());
    EXPECT_STREQ(ok.GetBoundary(), "b");

    std::vector<std::string> pieces;
    CMailHeader::GetToken(";a;;b ; c;", ';', pieces);
    EXPECT_EQ(pieces, (std::vector<std::string>{"a", "b ", " c"}));
    pieces.clear();
    CMailHeader::GetToken("", ';', pieces);
    CMailHeader::GetToken(std::string(600, 'a').c_str(), ';', pieces);
    EXPECT_TRUE(pieces.empty());

    std::string t = " \"a b\"\t";
    CMailHeader::EraseBlank(t);
    EXPECT_EQ(t, "a b");
}

TEST(Date, ParsesAndBounds)
{
    CMailHeader h;
    EXPECT_EQ(h.GetDate().GetStatus(), COleDateTime::invalid);
    Field(h, "Date", "Thu, 22 Aug 2002 08:17:21 +0900");
    COleDateTime d = h.GetDate();
    ASSERT_EQ(d.GetStatus(), COleDateTime::valid);
    EXPECT_EQ(d.GetYear(), 2002);
    EXPECT_EQ(d.GetMonth(), 8);
    EXPECT_EQ(d.GetDay(), 22);
    EXPECT_EQ(d.GetHour(), 8);
    EXPECT_STREQ(h.GetDateHeader(), "Thu, 22 Aug 2002 08:17:21 +0900");

    CMailHeader m;
    m.ParsingDate("date", "22 Aug 2002 08:17:21 -0700");
    EXPECT_EQ(m.GetDate().GetStatus(), COleDateTime::valid);
    EXPECT_EQ(m.GetDate().GetMinute(), 17);

    CMailHeader bad;
    bad.ParsingDate("date", "not a date");
    EXPECT_EQ(bad.GetDate().GetStatus(), COleDateTime::invalid);
    for (const char* v : {"", ",", "+", ",+", "x+", ", +0900"}) {
        bad.ParsingDate("date", v);
        EXPECT_EQ(bad.GetDate().GetStatus(), COleDateTime::invalid) << v;
    }
    // The date text is cut to 99 bytes: the date still parses, the tail is never read.
    std::string longDate = "Thu, 22 Aug 2002 08:17:21 " + std::string(5000, 'z');
    bad.ParsingDate("date", longDate.c_str());
    EXPECT_EQ(bad.GetDate().GetStatus(), COleDateTime::valid);
}

TEST(HeaderModel, MapsSourceAndSize)
{
    CMailHeader h;
    EXPECT_STREQ(h.GetEncoding(), "7bit");
    h.AddHeaderSrc("Subject: x");
    h.AddHeaderSrc(" y");
    EXPECT_EQ(h.GetHeaderSrc()->size(), 2u);
    EXPECT_EQ(h.GetHeaderSize(), 10 + 2 + 2 + 2 + 2);

    char name[] = "X-Mixed-Case";
    h.AddHeader(name, "v");
    EXPECT_STREQ(name, "x-mixed-case");  // lower-cased in the caller's buffer
    EXPECT_STREQ(h.GetHeader("x-mixed-case"), "v");
    h.SetHeader("x-mixed-case", "w");
    EXPECT_STREQ(h.GetHeader("x-mixed-case"), "w");
    Field(h, "Date", "Thu, 22 Aug 2002 08:17:21 +0900");
    EXPECT_STREQ(h.GetHeader("Date"), "");          // case matters for lookups
    EXPECT_EQ(h.GetHeaderMap().count("Date"), 1u);  // ... and the lookup left an empty entry
    EXPECT_EQ(h.GetPriority(), 1);

    Field(h, "Content-Transfer-Encoding", "BASE64");
    Field(h, "Message-ID", "<id@x>");
    EXPECT_STREQ(h.GetEncoding(), "BASE64");
    EXPECT_STREQ(h.GetMessageID(), "<id@x>");
    h.ClearHeader();
    EXPECT_STREQ(h.GetEncoding(), "7bit");
    EXPECT_STREQ(h.GetMessageID(), "<id@x>");  // ClearHeader touches nothing else

    CMailHeader copy = h;
    EXPECT_STREQ(copy.GetHeader("x-mixed-case"), "w");
    EXPECT_EQ(copy.GetHeaderSrc()->size(), 2u);
    EXPECT_NE(copy.GetHeaderSrc(), h.GetHeaderSrc());
    EXPECT_NE(std::string(h.toAllString()).find("Subject : "), std::string::npos);
    EXPECT_NE(std::string(h.toStandardTagString()).find("\xba\xb8\xb3\xbd\xc0\xcc : "), std::string::npos);
}
