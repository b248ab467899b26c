#include "components/toolwick/spam_buffer.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

TEST(SpamBuffer, EmptyOnConstructionAndAfterClear)
{
    CSpamBuffer buf;
    EXPECT_EQ(buf.Size(), 0);
    EXPECT_STREQ(buf.c_str(), "");
    buf.Append("abc");
    buf.Clear();
    EXPECT_EQ(buf.Size(), 0);
    EXPECT_STREQ(buf.c_str(), "");
}

TEST(SpamBuffer, AppendsGrowAndStayTerminated)
{
    CSpamBuffer buf;
    buf.Append("\xC7\xD1\xB1\xDB ");  // CP949 bytes are held as they are
    buf.Append("subject");
    buf.Append(nullptr);
    buf.Append("xyz", 2);
    buf.Append("ignored", 0);
    EXPECT_EQ(buf.Size(), 14);
    EXPECT_STREQ(buf.c_str(), "\xC7\xD1\xB1\xDB subjectxy");

    std::string big(200000, 'm');
    for (int i = 0; i < 5; ++i)
        buf.Append(big.c_str());
    EXPECT_EQ(buf.Size(), 14 + 5 * 200000);
    EXPECT_EQ(buf.c_str()[buf.Size()], '\0');
}

TEST(SpamBuffer, SizeIsTheLiteralLength)
{
    // How the IMAP server sends a value that is not plain ASCII.
    CSpamBuffer buf;
    buf.Append("\xB1\xE8\xC3\xB6\xBC\xF6");
    char prefix[32];
    snprintf(prefix, sizeof prefix, "{%ld}\r\n", buf.Size());
    EXPECT_STREQ(prefix, "{6}\r\n");
}
