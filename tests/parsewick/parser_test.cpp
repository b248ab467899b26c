#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "parsewick/parsewick.h"

namespace {

struct TreeDeleter {
    void operator()(CMimeMessage* m) const { delete m; }
};
using Tree = std::unique_ptr<CMimeMessage, TreeDeleter>;

Tree Parse(const std::string& text, bool loadBody = true)
{
    return Tree(CMailParser::ParsingMail(text.c_str(), loadBody));
}

std::string Content(CMimeMessage* m) { return m && m->GetContent() ? m->GetContent() : "<null>"; }

std::string WriteOut(CMimeMessage* m)
{
    char* out = CMailParser::MimeToMailSrc(m);
    std::string s = out ? out : "<null>";
    free(out);
    return s;
}

const std::string kMixed = "From: a@x.org\r\n"
                           "Content-Type: multipart/mixed; boundary=\"b\"\r\n"
                           "\r\n"
                           "P\r\n"
                           "--b\r\n"
                           "Content-Type: text/plain\r\n"
                           "\r\n"
                           "one\r\n"
                           "--b\r\n"
                           "Content-Type: text/html\r\n"
                           "\r\n"
                           "<p>two</p>\r\n";
const std::string kClosed = kMixed + "--b--\r\nepilogue\r\n";

}  // namespace

TEST(ParsingHeader, SplitsLines)
{
    char name[128], value[2048];
    value[0] = '\0';
    EXPECT_TRUE(CMailParser::ParsingHeader("Subject:  hi there \t", name, value));
    EXPECT_STREQ(name, "Subject");
    EXPECT_STREQ(value, "hi there");
    EXPECT_FALSE(CMailParser::ParsingHeader("\t more  ", name, value));
    EXPECT_STREQ(value, "more");
    EXPECT_FALSE(CMailParser::ParsingHeader("", name, value));
    EXPECT_FALSE(CMailParser::ParsingHeader("no colon here", name, value));
    strcpy(value, "kept");
    EXPECT_TRUE(CMailParser::ParsingHeader("Name :", name, value));
    EXPECT_STREQ(name, "Name");
    EXPECT_STREQ(value, "kept");  // nothing after the colon: value left as it was
    EXPECT_TRUE(CMailParser::ParsingHeader("X: ", name, value));
    EXPECT_STREQ(value, " ");  // a value of blanks only stays as it was

    // Colon at 90 is a field line, at 91 it is not.
    std::string at90 = std::string(90, 'n') + ": v";
    std::string at91 = std::string(91, 'n') + ": v";
    EXPECT_TRUE(CMailParser::ParsingHeader(at90.c_str(), name, value));
    EXPECT_EQ(std::string(name), std::string(90, 'n'));
    EXPECT_FALSE(CMailParser::ParsingHeader(at91.c_str(), name, value));

    EXPECT_EQ(CMailParser::LeftTrimPos("  ab", 0, 4), 2);
    EXPECT_EQ(CMailParser::LeftTrimPos("    ", 0, 4), 0);
    EXPECT_EQ(CMailParser::RightTrimPos("ab  ", 0, 4), 1);
    EXPECT_EQ(CMailParser::RightTrimPos("    ", 0, 4), 3);
    EXPECT_EQ(CMailParser::RightTrimPos("a", 0, 1), 0);
}

TEST(CheckHeader, UnfoldsAndReturnsBodyStart)
{
    std::string text = "X-Long: a\r\n\tb\r\nSubject:\r\nTo: t@x\r\n , u@x\r\n\r\nbody";
    CMailHeader h;
    int body = CMailParser::CheckHeader(nullptr, text.c_str(), 0, static_cast<int>(text.size()), h);
    EXPECT_EQ(body, static_cast<int>(text.find("body")));
    EXPECT_STREQ(h.GetHeader("x-long"), "ab");
    EXPECT_STREQ(h.GetHeader("to"), "t@x, u@x");
    EXPECT_STREQ(h.GetToMail(), "t@x, u@x");
    EXPECT_EQ(h.GetHeaderMap().count("subject"), 0u);  // an empty field never reaches the map
    EXPECT_EQ(h.GetHeaderSrc()->size(), 5u);
    EXPECT_EQ(h.GetHeaderSize(), static_cast<long>(text.find("body")));

    CMailHeader e;
    EXPECT_LT(CMailParser::CheckHeader(nullptr, text.c_str(), 3, 3, e), 0);
    EXPECT_LT(CMailParser::CheckHeader(nullptr, "A: b\r\n", 0, 6, e), 0);  // no blank line
    EXPECT_STREQ(e.GetHeader("a"), "b");
}

TEST(CheckHeader, LongLinesAreCutAt2047)
{
    std::string text = "Subject: " + std::string(5000, 's') + "\r\nX: y\r\n\r\n";
    CMailHeader h;
    int body = CMailParser::CheckHeader(nullptr, text.c_str(), 0, static_cast<int>(text.size()), h);
    EXPECT_EQ(body, static_cast<int>(text.size()));
    EXPECT_EQ(h.GetHeaderSrc()->front().size(), 2047u);
    EXPECT_EQ(std::string(h.GetHeader("subject")).size(), 2047u - 9);
    EXPECT_STREQ(h.GetHeader("x"), "y");
}

TEST(ParsingMail, SinglePart)
{
    Tree t = Parse("Subject: x\r\n\r\nbody\r\n");
    EXPECT_FALSE(t->IsMultiPart());
    EXPECT_TRUE(t->HasBody());
    EXPECT_EQ(Content(t.get()), "body\r\n");
    EXPECT_EQ(t->GetContentSize(), 6);
    Tree n = Parse("Subject: x\r\n\r\nbody\r\n", false);
    EXPECT_EQ(n->GetContent(), nullptr);
    EXPECT_FALSE(n->HasBody());

    Tree empty = Parse("");
    EXPECT_EQ(empty->GetHeader()->GetHeaderSrc()->size(), 0u);
    EXPECT_EQ(empty->GetContent(), nullptr);
    Tree noBlank = Parse("Subject: x\r\n");
    EXPECT_EQ(noBlank->GetContent(), nullptr);
    Tree nul(CMailParser::ParsingMail(nullptr, true));
    ASSERT_NE(nul, nullptr);
    EXPECT_EQ(CMailParser::ParsingMailFromFile(nullptr, 10, true), nullptr);
}

TEST(ParsingMail, MultipartWithAndWithoutClosingLine)
{
    Tree t = Parse(kClosed);
    ASSERT_TRUE(t->IsMultiPart());
    ASSERT_EQ(t->GetListSize(), 2);
    EXPECT_EQ(Content(t.get()), "P\r\n");
    EXPECT_EQ(Content(t->GetChild(0)), "one\r\n");
    EXPECT_EQ(Content(t->GetChild(1)), "<p>two</p>\r\n");
    EXPECT_STREQ(t->GetChild(1)->GetHeader()->GetContentType(), "text/html");
    EXPECT_EQ(t->GetChild(2), nullptr);
    EXPECT_EQ(t->GetChild(-1), nullptr);

    Tree open = Parse(kMixed);
    EXPECT_EQ(open->GetListSize(), 1);

    Tree noPreamble = Parse(kClosed, false);
    EXPECT_EQ(noPreamble->GetContent(), nullptr);
    EXPECT_EQ(Content(noPreamble->GetChild(0)), "one\r\n");  // children always load

    Tree noBoundary = Parse("Content-Type: multipart/mixed\r\n\r\n--b\r\n\r\nx\r\n--b--\r\n");
    EXPECT_TRUE(noBoundary->IsMultiPart());
    EXPECT_EQ(noBoundary->GetListSize(), 0);
    EXPECT_EQ(noBoundary->GetContent(), nullptr);

    std::string content;
    t->PrintMail(&content);
    EXPECT_EQ(content, "one\r\n<p>two</p>\r\n");
}

TEST(ParsingMail, NestedMultipartAndPrefixBoundaries)
{
    std::string text = "Content-Type: multipart/mixed; boundary=outer\r\n\r\n"
                       "--outer\r\n"
                       "Content-Type: multipart/alternative; boundary=inner\r\n\r\n"
                       "--inner\r\nContent-Type: text/plain\r\n\r\nplain\r\n"
                       "--inner\r\nContent-Type: text/html\r\n\r\nhtml\r\n"
                       "--inner--\r\n"
                       "--outer\r\nContent-Type: application/zip; name=\"a.zip\"\r\n"
                       "Content-Transfer-Encoding: base64\r\n\r\nUEsDBA==\r\n"
                       "--outer--\r\n";
    Tree t = Parse(text);
    ASSERT_EQ(t->GetListSize(), 2);
    CMimeMessage* alt = t->GetChild(0);
    ASSERT_TRUE(alt->IsMultiPart());
    ASSERT_EQ(alt->GetListSize(), 2);
    EXPECT_EQ(Content(alt->GetChild(1)), "html\r\n");
    CMimeMessage* zip = t->GetChild(1);
    EXPECT_TRUE(zip->GetHeader()->IsAttachFile());
    char* decoded = zip->GetDecodingMesg();
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(std::string(decoded, 4), std::string("PK\x03\x04", 4));
    free(decoded);

    // "--outerX" begins with "outer" but is another boundary: it stays inside the part.
    // Trailing blanks after a boundary are allowed.
    Tree prefix = Parse("Content-Type: multipart/mixed; boundary=outer\r\n\r\n"
                        "--outer \r\n\r\na\r\n--outerX\r\n\r\nb\r\n--outer-- \t\r\n");
    ASSERT_EQ(prefix->GetListSize(), 1);
    EXPECT_EQ(Content(prefix->GetChild(0)), "a\r\n--outerX\r\n\r\nb\r\n");
}

TEST(ParsingMail, DepthIsBounded)
{
    // Thousands of nested multiparts: parsed without exhausting the stack; the innermost
    // levels are kept whole as one leaf.
    std::string text;
    const int levels = 3000;
    for (int i = 0; i < levels; ++i)
        text += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "x\r\n\r\n--b" + std::to_string(i) +
                "x\r\n";
    text += "\r\nleaf\r\n";
    for (int i = levels - 1; i >= 0; --i)
        text += "--b" + std::to_string(i) + "x--\r\n";
    Tree t = Parse(text);
    int depth = 0;
    CMimeMessage* m = t.get();
    while (m->IsMultiPart() && m->GetListSize() == 1) {
        m = m->GetChild(0);
        ++depth;
    }
    EXPECT_EQ(depth, CMailParser::kMaxDepth);
    EXPECT_FALSE(m->IsMultiPart());
    EXPECT_NE(Content(m).find("leaf"), std::string::npos);
}

TEST(Decoding, ByTransferEncoding)
{
    auto decoded = [](const std::string& enc, const std::string& body) {
        Tree t = Parse("Content-Transfer-Encoding: " + enc + "\r\n\r\n" + body);
        char* d = t->GetDecodingMesg();
        std::string s = d ? d : "<null>";
        free(d);
        return s;
    };
    EXPECT_EQ(decoded("7bit", "plain\r\n"), "plain\r\n");
    EXPECT_EQ(decoded("8BIT", "\xc7\xd1\r\n"), "\xc7\xd1\r\n");
    EXPECT_EQ(decoded("Quoted-Printable", "a=3Db=\r\nc"), "a=b\r\nc");
    EXPECT_EQ(decoded("base64", "YWJj\r\nZGVm\r\n"), "abcdef");
    EXPECT_EQ(decoded("binary", "x"), "<null>");
    Tree none = Parse("Subject: x\r\n\r\n");
    EXPECT_EQ(none->GetDecodingMesg(), nullptr);
}

TEST(MimeMessage, ContentAndChildren)
{
    CMimeMessage m(true);
    m.SetMesgContent(nullptr, "0123456789", 2, 4);
    EXPECT_EQ(Content(&m), "2345");
    m.SetMesgContent(nullptr, "ab\0cd", 0, 5);  // replaces; stops at the zero byte
    EXPECT_EQ(Content(&m), "ab");
    EXPECT_EQ(m.GetContentSize(), 2);

    m.AddList(new CMimeMessage(false));
    m.AddList(new CMimeMessage(false));
    CMimeMessage* first = new CMimeMessage(false);
    m.InsertList(0, first);
    CMimeMessage* last = new CMimeMessage(false);
    m.InsertList(99, last);
    EXPECT_EQ(m.GetListSize(), 4);
    EXPECT_EQ(m.GetChild(0), first);
    EXPECT_EQ(m.GetChild(3), last);

    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    fputs("xxHELLOyy", f);
    CMimeMessage leaf(false);
    leaf.SetMesgContent(f, nullptr, 2, 5);
    EXPECT_EQ(Content(&leaf), "HELLO");
    leaf.SetMesgContent(f, nullptr, 7, 50);  // the file ends first
    EXPECT_EQ(Content(&leaf), "yy");
    fclose(f);
}

TEST(ParsingMailFromFile, MatchesTheMemoryParse)
{
    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    fwrite(kClosed.data(), 1, kClosed.size(), f);
    Tree t(CMailParser::ParsingMailFromFile(f, static_cast<int>(kClosed.size()), false));
    ASSERT_NE(t, nullptr);
    EXPECT_FALSE(t->HasBody());
    EXPECT_EQ(t->GetContent(), nullptr);
    ASSERT_EQ(t->GetListSize(), 2);
    EXPECT_EQ(Content(t->GetChild(1)), "<p>two</p>\r\n");
    Tree loaded(CMailParser::ParsingMailFromFile(f, static_cast<int>(kClosed.size()), true));
    EXPECT_EQ(Content(loaded.get()), "P\r\n");
    // A size short of the file bounds the parse: the part that no boundary line closes
    // within it is dropped.
    int second = static_cast<int>(kClosed.find("--b\r\nContent-Type: text/html"));
    Tree one(CMailParser::ParsingMailFromFile(f, second + 5, true));
    EXPECT_EQ(one->GetListSize(), 1);
    Tree none(CMailParser::ParsingMailFromFile(f, second, true));
    EXPECT_EQ(none->GetListSize(), 0);
    fclose(f);
}

TEST(WriteOut, ReproducesTheTree)
{
    Tree t = Parse(kClosed);
    std::string expected = kClosed.substr(0, kClosed.find("epilogue"));
    EXPECT_EQ(WriteOut(t.get()), expected);
    EXPECT_EQ(WriteOut(Parse("Subject: x\r\n\r\nbody\r\n").get()), "Subject: x\r\n\r\nbody\r\n");

    std::string boundary = t->GetHeader()->GetBoundary();
    long total = CMailParser::GetMimeTotalLength(t.get(), boundary.c_str());
    std::string buf(static_cast<size_t>(total), '\0');
    int n = CMailParser::GetMimeTotalMesg(t.get(), buf.data(), boundary.c_str());
    EXPECT_EQ(buf.substr(0, static_cast<size_t>(n)), expected);
    EXPECT_LE(n, total);
    EXPECT_EQ(CMailParser::MimeToMailSrc(nullptr), nullptr);
}

TEST(WriteOut, LongBoundariesFit)
{
    // Boundaries far beyond 94 bytes, many small parts: the allocation must cover every
    // boundary line (checked under AddressSanitizer).
    for (size_t blen : {95u, 200u, 450u}) {
        std::string b(blen, 'q');
        std::string text = "Content-Type: multipart/mixed; boundary=\"" + b + "\"\r\n\r\n";
        for (int i = 0; i < 50; ++i)
            text += "--" + b + "\r\n\r\n" + std::to_string(i) + "\r\n";
        text += "--" + b + "--\r\n";
        Tree t = Parse(text);
        ASSERT_EQ(t->GetListSize(), 50) << blen;
        std::string out = WriteOut(t.get());
        EXPECT_EQ(out, text) << blen;
        long total = CMailParser::GetMimeTotalLength(t.get(), b.c_str());
        EXPECT_GE(total, static_cast<long>(out.size()));
    }
}
