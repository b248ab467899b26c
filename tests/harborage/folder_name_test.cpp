#include "harborage/harborage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/codepage.h"

namespace {

// The Korean client's name for its inbox: "received" and "mailbox" with a space between.
const std::string kKoreanInbox = platform::Utf8ToCp949("받은 편지함");
const char kKoreanInboxEncoded[] = "&vBvHQA- &07jJwNVo-";

std::string Encode(const std::string& local)
{
    char out[100];
    CIMAPFolder::EncodingFolder(local.c_str(), out);
    return out;
}

std::string Decode(const std::string& encoded)
{
    char out[100];
    CIMAPFolder::DecodingFolder(encoded.c_str(), out);
    return out;
}

std::string Tidy(const std::string& argument)
{
    char buffer[300];
    std::strcpy(buffer, argument.c_str());
    char* p = buffer;
    CIMAPFolder::GetCorrectFolder(p);
    return p;
}

TEST(FolderNameTest, EncodingExamples)
{
    ASSERT_EQ(kKoreanInbox.size(), 11u);  // five double-byte characters and a space
    EXPECT_EQ(Encode("INBOX"), "INBOX");
    EXPECT_EQ(Encode("a&b"), "a&-b");
    EXPECT_EQ(Encode(kKoreanInbox), kKoreanInboxEncoded);
    EXPECT_EQ(Encode(""), "");
    EXPECT_EQ(Encode(platform::Utf8ToCp949("스팸/2024")), "&wqTTOA-/2024");
    EXPECT_EQ(Encode("tab\there"), "tab&AAk-here");
}

TEST(FolderNameTest, DecodingExamples)
{
    EXPECT_EQ(Decode(kKoreanInboxEncoded), kKoreanInbox);
    EXPECT_EQ(Decode("a&-b"), "a&b");
    EXPECT_EQ(Decode("ends with &"), "ends with &");
    EXPECT_EQ(Decode("INBOX"), "INBOX");
    EXPECT_EQ(Decode("&wqTTOA-/2024"), platform::Utf8ToCp949("스팸/2024"));
    // Characters outside the alphabet inside a run are skipped; a run without its "-" still decodes.
    EXPECT_EQ(Decode("&wq*TTOA-"), platform::Utf8ToCp949("스팸"));
    std::string spam = platform::Utf8ToCp949("스팸");  // (GCC 12 at -O3 warns falsely about "x" + ...)
    EXPECT_EQ(Decode("x&wqTTOA"), spam.insert(0, "x"));
}

TEST(FolderNameTest, ExtendedHangulWithAsciiSecondByteStaysOneCharacter)
{
    // U+B620 is 0x8C 0x63 in CP949: its second byte is the letter 'c'.
    std::string local = platform::Utf8ToCp949("똠방");
    ASSERT_EQ(static_cast<unsigned char>(local[1]), 0x63);
    std::string encoded = Encode(local);
    EXPECT_EQ(encoded, "&tiC8KQ-");
    EXPECT_EQ(Decode(encoded), local);
}

TEST(FolderNameTest, OutputIsBoundedByTheBuffer)
{
    char out[8];
    std::memset(out, 'x', sizeof out);
    CIMAPFolder::EncodingFolder("a long folder name", out, sizeof out);
    EXPECT_STREQ(out, "a long ");
    CIMAPFolder::DecodingFolder("another long name", out, sizeof out);
    EXPECT_STREQ(out, "another");
}

TEST(FolderNameTest, MailboxArgumentCleanUp)
{
    EXPECT_EQ(Tidy("\"INBOX\""), "INBOX");
    EXPECT_EQ(Tidy("\"\"INBOX\"\"\""), "INBOX");
    EXPECT_EQ(Tidy("~/Spam"), "Spam");
    EXPECT_EQ(Tidy("\"~/Spam\""), "Spam");
    EXPECT_EQ(Tidy("~/"), "~/");
    EXPECT_EQ(Tidy(kKoreanInboxEncoded), "inbox");
    EXPECT_EQ(Tidy(std::string("\"") + kKoreanInboxEncoded + "/Sub\""), "inbox/Sub");
    EXPECT_EQ(Tidy("\"\""), "");
    EXPECT_EQ(Tidy("&vBvHQA-"), "&vBvHQA-");  // only the whole two-word name is folded
}

TEST(FolderNameTest, ModifiedBase64Helpers)
{
    EXPECT_EQ(CIMAPFolder::ValueToAscii(0), 'A');
    EXPECT_EQ(CIMAPFolder::ValueToAscii(26), 'a');
    EXPECT_EQ(CIMAPFolder::ValueToAscii(52), '0');
    EXPECT_EQ(CIMAPFolder::ValueToAscii(62), '+');
    EXPECT_EQ(CIMAPFolder::ValueToAscii(63), ',');
    EXPECT_EQ(CIMAPFolder::ValueToAscii(64), 0xFF);
    for (int v = 0; v < 64; ++v)
        EXPECT_EQ(
            CIMAPFolder::AsciiToValue(static_cast<char>(CIMAPFolder::ValueToAscii(static_cast<unsigned char>(v)))), v);
    EXPECT_EQ(CIMAPFolder::AsciiToValue('/'), 0xFF);
    EXPECT_EQ(CIMAPFolder::AsciiToValue('='), 0xFF);
    EXPECT_EQ(CIMAPFolder::AsciiToValue('-'), 0xFF);

    const unsigned char data[] = {0x00, 0x26, 0xFF, 0xFE};
    char out[16];
    EXPECT_EQ(CIMAPFolder::EncodeMBase64(data, 1, out), 3);
    EXPECT_EQ(std::string(out, 3), "ACY");
    EXPECT_EQ(CIMAPFolder::EncodeMBase64(data, 3, out), 6);
    EXPECT_EQ(std::string(out, 6), "ACb,,g");
    EXPECT_EQ(CIMAPFolder::EncodeMBase64(data, -1, out), 0);

    unsigned char bytes[16];
    EXPECT_EQ(CIMAPFolder::DecodeMBase64("ACb,,g", 6, bytes), 4);
    EXPECT_EQ(std::memcmp(bytes, data, 4), 0);
    EXPECT_EQ(CIMAPFolder::DecodeMBase64("A C*Y", 5, bytes), 2);
    EXPECT_EQ(bytes[0], 0x00);
    EXPECT_EQ(bytes[1], 0x26);
    EXPECT_EQ(CIMAPFolder::DecodeMBase64("A", 1, bytes), 0);

    int pos = 0;
    EXPECT_EQ(CIMAPFolder::GetCorrectChar("**B", pos, 3), 1);
    EXPECT_EQ(pos, 3);
    EXPECT_EQ(CIMAPFolder::GetCorrectChar("**B", pos, 3), 0xFF);
}

}  // namespace
