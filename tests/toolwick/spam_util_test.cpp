// Bounded copies use heap buffers of exactly the stated size, so that AddressSanitizer
// reports any byte written or read past them.
#include "components/toolwick/spam_util.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace {

std::unique_ptr<char[]> Buffer(size_t size, char fill = '#')
{
    auto buf = std::make_unique<char[]>(size);
    memset(buf.get(), fill, size);
    return buf;
}

// A heap copy of the bytes without a terminator.
std::unique_ptr<char[]> Unterminated(const std::string& bytes)
{
    auto buf = std::make_unique<char[]>(bytes.size());
    memcpy(buf.get(), bytes.data(), bytes.size());
    return buf;
}

}  // namespace

TEST(SpamUtilCopy, ShortSourceIsCopiedWhole)
{
    auto dest = Buffer(100);
    CSpamUtil::STRNCPY(dest.get(), "boundary-42", 100);
    EXPECT_STREQ(dest.get(), "boundary-42");
}

TEST(SpamUtilCopy, LongSourceIsCutAndTerminated)
{
    for (long size : {100L, 50L, 20L, 255L, 1L}) {
        std::string src(300, 'x');
        auto dest = Buffer(static_cast<size_t>(size));
        CSpamUtil::STRNCPY(dest.get(), src.c_str(), size);
        EXPECT_EQ(strlen(dest.get()), static_cast<size_t>(size - 1)) << size;
    }
}

TEST(SpamUtilCopy, SourceOfExactlySizeBytesLosesItsLastByte)
{
    auto dest = Buffer(20);
    CSpamUtil::STRNCPY(dest.get(), "0123456789012345678X", 20);
    EXPECT_STREQ(dest.get(), "0123456789012345678");
}

TEST(SpamUtilCopy, UnterminatedSourceIsReadOnlyAsFarAsNeeded)
{
    auto src = Unterminated(std::string(19, 'a'));
    auto dest = Buffer(20);
    CSpamUtil::STRNCPY(dest.get(), src.get(), 20);
    EXPECT_EQ(std::string(dest.get()), std::string(19, 'a'));
}

TEST(SpamUtilCopy, SizeBelowOneWritesNothingAndNullSourceGivesEmpty)
{
    char dest[4] = {'#', '#', '#', '\0'};
    CSpamUtil::STRNCPY(dest, "abc", 0);
    CSpamUtil::STRNCPY(dest, "abc", -5);
    EXPECT_STREQ(dest, "###");
    CSpamUtil::STRNCPY(dest, nullptr, 4);
    EXPECT_STREQ(dest, "");
}

TEST(SpamUtilAppend, PiecesAndLineEndsBuildATerminatedText)
{
    const long total = 40960;
    auto big = Buffer(total);
    long len = 0;
    const char* line = "+OK 12 octets";
    len += CSpamUtil::STRNCPY(big.get() + len, line, static_cast<long>(strlen(line)), total - len);
    EXPECT_EQ(len, 13);
    // "\r\n" with count 3 brings its terminator along; the caller counts 2.
    EXPECT_EQ(CSpamUtil::STRNCPY(big.get() + len, "\r\n", 3, total - len), 3);
    len += 2;
    EXPECT_STREQ(big.get(), "+OK 12 octets\r\n");
    EXPECT_EQ(len, 15);
}

TEST(SpamUtilAppend, CopiesExactlyCountBytesOfALongerSource)
{
    auto dest = Buffer(10);
    EXPECT_EQ(CSpamUtil::STRNCPY(dest.get(), "abcdefgh", 3, 10), 3);
    EXPECT_EQ(std::string(dest.get(), 5), "abc##");
}

TEST(SpamUtilAppend, CountBeyondTheRoomIsCutAndTerminatedInsideIt)
{
    const long room = 16;
    auto dest = Buffer(room);
    std::string src(100, 'z');
    EXPECT_EQ(CSpamUtil::STRNCPY(dest.get(), src.c_str(), 100, room), room);
    EXPECT_EQ(std::string(dest.get()), std::string(room - 1, 'z'));

    // count equal to the room is cut the same way
    auto exact = Buffer(room);
    CSpamUtil::STRNCPY(exact.get(), src.c_str(), room, room);
    EXPECT_EQ(strlen(exact.get()), static_cast<size_t>(room - 1));
}

TEST(SpamUtilAppend, UnterminatedPieceIsNotReadPastCount)
{
    auto src = Unterminated("12345");
    auto dest = Buffer(8);
    EXPECT_EQ(CSpamUtil::STRNCPY(dest.get(), src.get(), 5, 8), 5);
    EXPECT_EQ(std::string(dest.get(), 6), "12345#");
}

TEST(SpamUtilAppend, NoRoomOrNoCountWritesNothing)
{
    char dest[2] = {'#', '#'};
    EXPECT_EQ(CSpamUtil::STRNCPY(dest, "abc", 3, 0), 0);
    EXPECT_EQ(CSpamUtil::STRNCPY(dest, "abc", 0, 2), 0);
    EXPECT_EQ(CSpamUtil::STRNCPY(dest, "abc", -1, 2), 0);
    EXPECT_EQ(dest[0], '#');
    EXPECT_EQ(dest[1], '#');
}

TEST(SpamUtilText, CountCharAndAddSlashes)
{
    EXPECT_EQ(CSpamUtil::CountChar("a\"b\"\"c", '"'), 3);
    EXPECT_EQ(CSpamUtil::CountChar("", '"'), 0);
    EXPECT_EQ(CSpamUtil::CountChar("abc", 'x'), 0);
    EXPECT_EQ(CSpamUtil::CountChar(nullptr, 'x'), 0);

    for (std::string src : {"say \"hi\" \"\"", "", "no quotes", "\"", "\xb1\xa4\"\xb0\xed"}) {
        size_t size = src.size() + static_cast<size_t>(CSpamUtil::CountChar(src.c_str(), '"')) + 1;
        auto dest = Buffer(size);
        CSpamUtil::AddSlashes(src.c_str(), dest.get());
        std::string expected;
        for (char c : src) {
            if (c == '"')
                expected += '\\';
            expected += c;
        }
        EXPECT_EQ(std::string(dest.get()), expected);
        EXPECT_EQ(strlen(dest.get()) + 1, size);
    }
}

TEST(SpamUtilText, ToLowerFoldsAsciiOnly)
{
    std::string text = "Content-TYPE \xC7\xD1\xB1\xDB \x81\x41 Z@[`{";
    char* p = text.data();
    char* before = p;
    CSpamUtil::ToLower(p);
    EXPECT_EQ(p, before);
    EXPECT_EQ(text, "content-type \xC7\xD1\xB1\xDB \x81\x61 z@[`{");
}

// ---- GetLine -------------------------------------------------------------------------

namespace {

struct Line {
    std::string text;
    long next;
};

std::vector<Line> AllLines(const std::string& text, long end, long size = 2048)
{
    std::vector<Line> lines;
    auto buf = Buffer(static_cast<size_t>(size));
    long pos = 0;
    for (int guard = 0; guard < 10000; ++guard) {
        long next = CSpamUtil::GetLine(buf.get(), size, text.c_str(), pos, end);
        if (next < 0)
            break;
        lines.push_back({buf.get(), next});
        pos = next;
    }
    return lines;
}

}  // namespace

TEST(SpamUtilGetLine, LinesEndInCrlfOrLfAndPositionsFollowTheLineEnd)
{
    std::string text = "From: a\r\nTo: b\n\r\nbody";
    auto lines = AllLines(text, static_cast<long>(text.size()));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].text, "From: a");
    EXPECT_EQ(lines[0].next, 9);
    EXPECT_EQ(lines[1].text, "To: b");
    EXPECT_EQ(lines[1].next, 15);
    EXPECT_EQ(lines[2].text, "");
    EXPECT_EQ(lines[2].next, 17);
    EXPECT_EQ(lines[3].text, "body");  // last line without a line end
    EXPECT_EQ(lines[3].next, static_cast<long>(text.size()));
}

TEST(SpamUtilGetLine, TextEndingInALineEndHasNoExtraEmptyLine)
{
    std::string text = "a\r\nb\r\n";
    auto lines = AllLines(text, static_cast<long>(text.size()));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].text, "b");
    EXPECT_EQ(lines[1].next, 6);
}

TEST(SpamUtilGetLine, LoneCrStaysInTheLine)
{
    std::string text = "a\rb\r\nc\r";
    auto lines = AllLines(text, static_cast<long>(text.size()));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "a\rb");
    EXPECT_EQ(lines[1].text, "c\r");
}

TEST(SpamUtilGetLine, EndStopsReadingInsideTheText)
{
    std::string text = "abcdef\r\nrest";
    auto lines = AllLines(text, 3);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "abc");
    EXPECT_EQ(lines[0].next, 3);
    // a CR LF split by the end: the CR is the last byte of an unended line
    lines = AllLines(text, 7);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "abcdef\r");
}

TEST(SpamUtilGetLine, NoLineLeftGivesNegativeAndEmptyBuffer)
{
    char line[16] = "stale";
    EXPECT_LT(CSpamUtil::GetLine(line, 16, "abc", 3, 3), 0);
    EXPECT_STREQ(line, "");
    EXPECT_LT(CSpamUtil::GetLine(line, 16, "abc", 5, 3), 0);
    EXPECT_LT(CSpamUtil::GetLine(line, 16, "abc", -1, 3), 0);
    EXPECT_LT(CSpamUtil::GetLine(line, 16, "", 0, 0), 0);
}

TEST(SpamUtilGetLine, LongLineIsCutToTheBufferAndSkippedWhole)
{
    std::string text = std::string(3000, 'x') + "\r\nnext\r\n";
    auto lines = AllLines(text, static_cast<long>(text.size()));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, std::string(2047, 'x'));
    EXPECT_EQ(lines[0].next, 3002);
    EXPECT_EQ(lines[1].text, "next");

    // a line of exactly 2047 bytes fits, one of 2048 loses its last byte
    for (size_t n : {2047u, 2048u}) {
        std::string t = std::string(n, 'y') + "\n";
        auto l = AllLines(t, static_cast<long>(t.size()));
        ASSERT_EQ(l.size(), 1u);
        EXPECT_EQ(l[0].text.size(), 2047u);
    }

    // tiny buffers
    auto one = AllLines("abc\ndef", 7, 1);
    ASSERT_EQ(one.size(), 2u);
    EXPECT_EQ(one[0].text, "");
    EXPECT_EQ(one[0].next, 4);
}

// ---- GetFileLine ---------------------------------------------------------------------

namespace {

struct TempFile {
    FILE* f = tmpfile();
    explicit TempFile(const std::string& bytes)
    {
        fwrite(bytes.data(), 1, bytes.size(), f);
        fflush(f);
    }
    ~TempFile() { fclose(f); }
};

std::vector<Line> AllFileLines(FILE* f, long pos, long end, long size = 2048)
{
    std::vector<Line> lines;
    auto buf = Buffer(static_cast<size_t>(size));
    for (int guard = 0; guard < 10000; ++guard) {
        long next = CSpamUtil::GetFileLine(buf.get(), size, f, pos, end);
        if (next < 0)
            break;
        lines.push_back({buf.get(), next});
        pos = next;
    }
    return lines;
}

}  // namespace

TEST(SpamUtilGetFileLine, SameLinesAndPositionsAsGetLine)
{
    std::string text = "From: a\r\nTo: b\n\r\nx\ry\r\n" + std::string(2500, 'q') + "\r\nlast\r";
    TempFile file(text);
    ASSERT_NE(file.f, nullptr);
    long end = static_cast<long>(text.size());
    auto fromFile = AllFileLines(file.f, 0, end);
    auto fromText = AllLines(text, end);
    ASSERT_EQ(fromFile.size(), fromText.size());
    for (size_t i = 0; i < fromText.size(); ++i) {
        EXPECT_EQ(fromFile[i].text, fromText[i].text) << i;
        EXPECT_EQ(fromFile[i].next, fromText[i].next) << i;
    }
    EXPECT_EQ(fromFile.back().text, "last\r");
}

TEST(SpamUtilGetFileLine, StartsAtAnOffsetAndStopsAtEndOrEof)
{
    std::string text = "skip\r\nline one\r\nline two\r\n";
    TempFile file(text);
    auto lines = AllFileLines(file.f, 6, 12);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "line o");
    EXPECT_EQ(lines[0].next, 12);

    // an end beyond the file size stops at the end of the file
    lines = AllFileLines(file.f, 6, 100000);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].text, "line two");
    EXPECT_EQ(lines[1].next, static_cast<long>(text.size()));

    char line[8] = "stale";
    EXPECT_LT(CSpamUtil::GetFileLine(line, 8, file.f, static_cast<long>(text.size()), 100000), 0);
    EXPECT_STREQ(line, "");
    EXPECT_LT(CSpamUtil::GetFileLine(line, 8, nullptr, 0, 10), 0);
    EXPECT_LT(CSpamUtil::GetFileLine(line, 8, file.f, 4, 4), 0);
}

TEST(SpamUtilGetFileLine, LongLineIsCutWithoutOverrun)
{
    std::string text = std::string(5000, 'w') + "\nz";
    TempFile file(text);
    auto lines = AllFileLines(file.f, 0, static_cast<long>(text.size()), 100);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, std::string(99, 'w'));
    EXPECT_EQ(lines[0].next, 5001);
    EXPECT_EQ(lines[1].text, "z");
}
