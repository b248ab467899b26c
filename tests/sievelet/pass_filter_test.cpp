// The pass list: its file, its list operations and the pass test.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sievelet/sievelet.h"
#include "tests/sievelet/test_support.h"

using sievelet_test::HeaderOf;
using sievelet_test::ReadBytes;
using sievelet_test::TempDir;
using sievelet_test::WriteBytes;

TEST(PassFilter, FileIsWrittenByteForByteAndRoundTrips)
{
    TempDir dir;
    std::string path = dir.File("pass.flt");
    {
        CPassFilter pass(path.c_str());
        pass.AddPassFilter("Boss@Example.com", "my boss");
        pass.AddPassFilter("example.org", "");
        pass.GetPassFilter(0)->hit = 258;
        ASSERT_TRUE(pass.SavePassFilter());
        const unsigned char expected[] = {
            0,  0,   0,   3,                      // next FID
            0,  0,   0,   1,   0,   0,   1,   2,  // FID 1, 258 hits
            16, 'B', 'o', 's', 's', '@', 'E', 'x', 'a', 'm', 'p', 'l', 'e', '.', 'c', 'o', 'm',
            7,  'm', 'y', ' ', 'b', 'o', 's', 's', 0,   0,   0,   2,   0,   0,   0,   0,  // FID 2, no hits
            11, 'e', 'x', 'a', 'm', 'p', 'l', 'e', '.', 'o', 'r', 'g',
            0,  // empty description
        };
        EXPECT_EQ(ReadBytes(path), std::string(reinterpret_cast<const char*>(expected), sizeof expected));
    }
    CPassFilter loaded(path.c_str());
    ASSERT_EQ(loaded.GetSize(), 2);
    EXPECT_EQ(loaded.GetPassFilter(0)->fid, 1);
    EXPECT_EQ(loaded.GetPassFilter(0)->hit, 258);
    EXPECT_STREQ(loaded.GetPassFilter(0)->address, "boss@example.com");
    EXPECT_STREQ(loaded.GetPassFilter(0)->description, "my boss");
    EXPECT_STREQ(loaded.GetPassFilter(1)->description, "");
    EXPECT_EQ(loaded.GetPassFilter(2), nullptr);
    EXPECT_EQ(loaded.AddPassFilter("x", "y")->fid, 3);
}

TEST(PassFilter, DestructionSavesEvenWithoutChanges)
{
    TempDir dir;
    std::string path = dir.File("pass.flt");
    {
        CPassFilter pass(path.c_str());
    }
    EXPECT_EQ(ReadBytes(path), std::string("\0\0\0\1", 4));

    {
        CPassFilter pass(path.c_str());
        pass.AddPassFilter("friend.example", "");
    }
    CPassFilter again(path.c_str());
    ASSERT_EQ(again.GetSize(), 1);
    EXPECT_STREQ(again.GetPassFilter(0)->address, "friend.example");
}

TEST(PassFilter, ListOperations)
{
    TempDir dir;
    CPassFilter pass(dir.File("pass.flt").c_str());
    EXPECT_EQ(pass.AddPassFilter("a", "")->fid, 1);
    EXPECT_EQ(pass.AddPassFilter("b", "")->fid, 2);
    EXPECT_EQ(pass.AddPassFilter("c", "")->fid, 3);
    pass.GetPassFilterByFID(2)->hit = 5;
    PASS_FILTER* e = pass.EditPassFilter(2, "B2", "second");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->hit, 5) << "the count is kept";
    EXPECT_STREQ(e->address, "B2");
    EXPECT_EQ(pass.EditPassFilter(9, "x", "y"), nullptr);
    pass.DelPassFilter(2);
    pass.DelPassFilter(9);
    ASSERT_EQ(pass.GetSize(), 2);
    EXPECT_STREQ(pass.GetPassFilter(1)->address, "c");
    EXPECT_EQ(pass.AddPassFilter("d", "")->fid, 4);
    EXPECT_EQ(pass.GetPassFilter(-1), nullptr);
    std::string longAddress(90, 'a'), longDescription(60, 'd');
    e = pass.AddPassFilter(longAddress.c_str(), longDescription.c_str());
    EXPECT_EQ(std::string(e->address), std::string(80, 'a'));
    EXPECT_EQ(std::string(e->description), std::string(50, 'd'));
}

TEST(PassFilter, HostileFilesEndTheLoadSafely)
{
    TempDir dir;
    std::string path = dir.File("pass.flt");
    std::string one = std::string("\0\0\0\1\0\0\0\0", 8) +
                      "\x03"
                      "abc" +
                      "\x01"
                      "d";
    std::string whole = std::string("\0\0\0\5", 4) + one + std::string("\0\0\0\2\0\0\0\0", 8) +
                        "\xFF"
                        "short";
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
        WriteBytes(path, whole.substr(0, cut));
        auto pass = std::make_unique<CPassFilter>(path.c_str());
        EXPECT_EQ(pass->GetSize(), cut >= 4 + one.size() ? 1 : 0) << cut;
        EXPECT_EQ(pass->LoadPassFilter(), cut >= 4) << cut;
        pass.reset();  // saves: the file is now whole again
        std::string saved = ReadBytes(path);
        EXPECT_GE(saved.size(), 4u);
    }
    // A 150-byte address is cut to 80 and the next field is read from the right place.
    WriteBytes(path, std::string("\0\0\0\5\0\0\0\1\0\0\0\7", 12) + "\x96" + std::string(150, 'X') +
                         "\x02"
                         "ok");
    CPassFilter pass(path.c_str());
    ASSERT_EQ(pass.GetSize(), 1);
    EXPECT_EQ(std::string(pass.GetPassFilter(0)->address), std::string(80, 'x'));
    EXPECT_STREQ(pass.GetPassFilter(0)->description, "ok");
    EXPECT_EQ(pass.GetPassFilter(0)->hit, 7);
    EXPECT_EQ(pass.AddPassFilter("n", "")->fid, 5);
}

TEST(PassFilter, PassTestLooksAtTheFromAddressAndNameOnly)
{
    TempDir dir;
    std::string path = dir.File("pass.flt");
    CPassFilter pass(path.c_str());
    pass.AddPassFilter("example", "");
    CMailHeader lower = HeaderOf("From: Kim <kim@example.com>\r\nTo: x@y.z\r\n\r\n");
    CMailHeader byName = HeaderOf("From: \"my example\" <kim@other.com>\r\n\r\n");
    CMailHeader upper = HeaderOf("From: Kim <kim@EXAMPLE.com>\r\n\r\n");
    CMailHeader sender = HeaderOf("From: a@b.c\r\nSender: s@example.com\r\n"
                                  "Return-Path: <r@example.com>\r\nTo: t@example.com\r\n\r\n");
    EXPECT_TRUE(pass.DoPassFiltering(&lower));
    EXPECT_TRUE(pass.DoPassFiltering(&byName));
    EXPECT_FALSE(pass.DoPassFiltering(&upper)) << "byte-wise, case-sensitive";
    EXPECT_FALSE(pass.DoPassFiltering(&sender));
    EXPECT_FALSE(pass.DoPassFiltering(nullptr));
    EXPECT_EQ(pass.GetPassFilter(0)->hit, 2);

    // "Boss" matches "Boss" until the next load, after which it is "boss".
    pass.AddPassFilter("Boss", "");
    CMailHeader boss = HeaderOf("From: Boss <b@corp.test>\r\n\r\n");
    EXPECT_TRUE(pass.DoPassFiltering(&boss));
    ASSERT_TRUE(pass.SavePassFilter());
    ASSERT_TRUE(pass.LoadPassFilter());
    EXPECT_STREQ(pass.GetPassFilter(1)->address, "boss");
    EXPECT_FALSE(pass.DoPassFiltering(&boss));
}

TEST(PassFilter, OnlyTheFirstHittingEntryIsCounted)
{
    TempDir dir;
    CPassFilter pass(dir.File("pass.flt").c_str());
    pass.AddPassFilter("kim", "");
    pass.AddPassFilter("example.com", "");
    CMailHeader h = HeaderOf("From: kim@example.com\r\n\r\n");
    EXPECT_TRUE(pass.DoPassFiltering(&h));
    EXPECT_EQ(pass.GetPassFilter(0)->hit, 1);
    EXPECT_EQ(pass.GetPassFilter(1)->hit, 0);

    // An empty address occurs in every text.
    pass.DelPassFilter(1);
    pass.DelPassFilter(2);
    pass.AddPassFilter("", "");
    CMailHeader none = HeaderOf("Subject: x\r\n\r\n");
    EXPECT_TRUE(pass.DoPassFiltering(&none));
}
