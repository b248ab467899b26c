#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "parsewick/base64.h"
#include "platform/codepage.h"
#include "winnow/utf8.h"
#include "winnow/winnow.h"

namespace {

using winnow::CTokenizer;

// The body's words only: tokens without a field prefix.
std::vector<std::string> Words(const std::vector<std::string>& tokens)
{
    std::vector<std::string> words;
    for (const std::string& t : tokens)
        if (t.find(':') == std::string::npos)
            words.push_back(t);
    return words;
}

bool Has(const std::vector<std::string>& tokens, const std::string& token)
{
    return std::binary_search(tokens.begin(), tokens.end(), token);
}

std::string Base64(const std::string& bytes)
{
    std::string out(bytes.size() * 2 + 8, '\0');
    out.resize(static_cast<size_t>(CBase64::Encode(bytes.data(), static_cast<int>(bytes.size()) - 1, out.data(), 76)));
    return out;
}

std::string Message(const std::string& headers, const std::string& body)
{
    return "From: a@example.com\r\nTo: b@example.org\r\n" + headers + "\r\n" + body;
}

TEST(Tokenizer, EncodedWordsAreDecodedWithTheirCharset)
{
    const std::string korean = "무료 상품";
    auto tokens = CTokenizer::Tokenize(
        Message("Subject: =?utf-8?B?" + Base64(korean) + "?= =?iso-8859-1?Q?caf=E9_cr=E8me?=\r\n", "x\r\n"));
    EXPECT_TRUE(Has(tokens, "subject:무료"));
    EXPECT_TRUE(Has(tokens, "subject:상품"));
    EXPECT_TRUE(Has(tokens, "subject:café"));
    EXPECT_TRUE(Has(tokens, "subject:crème"));
    EXPECT_TRUE(Has(tokens, "from:a@example.com"));
    EXPECT_TRUE(Has(tokens, "from:@example.com"));
}

TEST(Tokenizer, Base64AndQuotedPrintableBodiesAreDecoded)
{
    auto b64 = CTokenizer::Tokenize(
        Message("Subject: s\r\nContent-Transfer-Encoding: base64\r\n", Base64("Cheap watches for everyone\r\n")));
    EXPECT_TRUE(Has(b64, "cheap"));
    EXPECT_TRUE(Has(b64, "watches"));
    // A soft line break inside a word joins its halves; =3D is '='.
    auto qp = CTokenizer::Tokenize(
        Message("Subject: s\r\nContent-Transfer-Encoding: quoted-printable\r\n", "unbeliev=\r\nable offer a=3Db\r\n"));
    EXPECT_TRUE(Has(qp, "unbelievable"));
    EXPECT_FALSE(Has(qp, "unbeliev"));
}

TEST(Tokenizer, HtmlGivesItsTextAndLinkHostsNotItsMarkup)
{
    auto tokens = CTokenizer::Tokenize(
        Message("Subject: s\r\nContent-Type: text/html\r\n",
                "<html><head><style>.hidden{color:white}</style><script>var tracking=1;</script></head>"
                "<body><p>Click&nbsp;<a href=\"http://Promo.Spammer.example.net:8080/x?y\">here</a> &amp; "
                "w<b></b>in</p><img src='https://img.cdn.example/a.gif'></body></html>\r\n"));
    EXPECT_TRUE(Has(tokens, "click"));
    EXPECT_TRUE(Has(tokens, "here"));
    EXPECT_TRUE(Has(tokens, "url:promo.spammer.example.net"));
    EXPECT_TRUE(Has(tokens, "url:example.net"));
    EXPECT_TRUE(Has(tokens, "url:img.cdn.example"));
    EXPECT_TRUE(Has(tokens, "type:text/html"));
    EXPECT_FALSE(Has(tokens, "href"));
    EXPECT_FALSE(Has(tokens, "tracking"));
    EXPECT_FALSE(Has(tokens, "hidden"));
    EXPECT_FALSE(Has(tokens, "nbsp"));
}

TEST(Tokenizer, KoreanGivesTheSameBigramsInCp949AndUtf8)
{
    const std::string text = "대출 상담 무료입니다\r\n";
    auto utf8 = CTokenizer::Tokenize(Message("Subject: s\r\nContent-Type: text/plain; charset=utf-8\r\n", text));
    auto euckr = CTokenizer::Tokenize(
        Message("Subject: s\r\nContent-Type: text/plain; charset=\"ks_c_5601-1987\"\r\n", platform::Utf8ToCp949(text)));
    // No charset and not UTF-8: the local code page.
    auto bare = CTokenizer::Tokenize(Message("Subject: s\r\n", platform::Utf8ToCp949(text)));
    EXPECT_TRUE(Has(utf8, "대출"));
    EXPECT_TRUE(Has(utf8, "무료"));
    EXPECT_TRUE(Has(utf8, "료입"));
    EXPECT_TRUE(Has(utf8, "니다"));
    EXPECT_FALSE(Has(utf8, "무료입니다"));
    EXPECT_EQ(Words(utf8).size(), 6u);
    EXPECT_EQ(Words(utf8), Words(euckr));
    EXPECT_EQ(Words(utf8), Words(bare));
}

TEST(Tokenizer, AttachmentsGiveTheirNamesAndTypes)
{
    auto tokens = CTokenizer::Tokenize(Message(
        "Subject: s\r\nContent-Type: multipart/mixed; boundary=\"b1\"\r\n",
        "--b1\r\nContent-Type: text/plain\r\n\r\nsee attached\r\n--b1\r\nContent-Type: application/octet-stream\r\n"
        "Content-Disposition: attachment; filename=\"invoice_2024.exe\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
            Base64("MZ binary payload words") + "\r\n--b1--\r\n"));
    EXPECT_TRUE(Has(tokens, "attached"));
    EXPECT_TRUE(Has(tokens, "attach:invoice_2024.exe"));
    EXPECT_TRUE(Has(tokens, "attach:.exe"));
    EXPECT_TRUE(Has(tokens, "type:application/octet-stream"));
    EXPECT_TRUE(Has(tokens, "type:multipart/mixed"));
    EXPECT_FALSE(Has(tokens, "payload"));
}

TEST(Tokenizer, TokensAreShortWellFormedUtf8WhateverTheBytes)
{
    // iconv's UTF-8 passes F6 9C 9D 9D (beyond U+10FFFF); a Content-Type of 8-bit bytes.
    auto tokens = CTokenizer::Tokenize(Message("Subject: =?utf-8?Q?ab=F6=9C=9D=9Dcd?=\r\nContent-Type: text/" +
                                                   std::string(400, '\xff') + "\r\nMessage-ID: <x@" +
                                                   std::string(300, '\xe9') + ">\r\n",
                                               "\xff\xfe body " + std::string(200, '\xea') + "\r\n"));
    ASSERT_FALSE(tokens.empty());
    EXPECT_TRUE(winnow::IsUtf8(CTokenizer::DecodeHeaderText("=?utf-8?Q?ab=F6=9C=9D=9Dcd?= =?ucs-4?B?/////w==?=")));
    for (const std::string& t : tokens) {
        EXPECT_TRUE(winnow::IsUtf8(t)) << t;
        EXPECT_LE(t.size(), 320u) << t;
    }
}

TEST(Tokenizer, MissingSubjectAndLongWordsHaveTokensOfTheirOwn)
{
    auto tokens = CTokenizer::Tokenize(Message("", std::string(300, 'q') + " 12345 ab abc\r\n"));
    EXPECT_TRUE(Has(tokens, "subject:(none)"));
    EXPECT_TRUE(Has(tokens, "skip:q:30"));
    EXPECT_TRUE(Has(tokens, "abc"));
    EXPECT_FALSE(Has(tokens, "12345"));
    EXPECT_FALSE(Has(tokens, "ab"));
}

TEST(Tokenizer, HugeMessageIsReadOnlyUpToItsBound)
{
    std::string body;
    body.reserve(10u << 20);
    const std::string line = "lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod\r\n";
    while (body.size() < (10u << 20))
        body += line;
    body += "farbeyondthebound\r\n";
    const auto start = std::chrono::steady_clock::now();
    auto tokens = CTokenizer::Tokenize(Message("Subject: big\r\n", body));
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(Has(tokens, "lorem"));
    EXPECT_FALSE(Has(tokens, "farbeyondthebound"));
    // Only a runaway (a pass over the whole 10 MB per line) would take this long.
    EXPECT_LT(seconds, 20.0);
}

}  // namespace
