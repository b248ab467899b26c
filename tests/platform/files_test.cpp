#include "platform/files.h"

#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {
class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/orvanta-files-XXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }
    void Touch(const std::string& rel, const std::string& content = "x")
    {
        fs::create_directories((path_ / rel).parent_path());
        std::ofstream(path_ / rel) << content;
    }

private:
    fs::path path_;
};
}  // namespace

TEST(Files, WildcardIgnoresCaseAndBacktracks)
{
    EXPECT_TRUE(WildcardMatch("*.msg", "MESG00000001.MSG"));
    EXPECT_TRUE(WildcardMatch("mesg????????.msg", "mesg00000001.msg"));
    EXPECT_FALSE(WildcardMatch("mesg????????.msg", "mesg0000001.msg"));
    EXPECT_TRUE(WildcardMatch("*a*b*c", "xxaxxbxxbxc"));
    EXPECT_FALSE(WildcardMatch("*a*b*c", "xxaxxbxxbx"));
    EXPECT_TRUE(WildcardMatch("*", ""));
    EXPECT_FALSE(WildcardMatch("?", ""));
    EXPECT_TRUE(WildcardMatch("**.his", "pop.kim.his"));
    // Bytes above 0x7F are compared as they are.
    EXPECT_TRUE(WildcardMatch("\xB9\xDE*", "\xB9\xDE\xC0\xBA"));
    EXPECT_FALSE(WildcardMatch("\xB9\xDE*", "\xB9\xDF\xC0\xBA"));
}

TEST(Files, ListingIsSortedWithoutRegardToCase)
{
    TempDir t;
    t.Touch("b.msg", "12345");
    t.Touch("A.msg");
    t.Touch("c.txt");
    t.Touch("Sub/x");
    std::vector<DirEntry> all = ListDirectory(t.path(), "*", true);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].name, "A.msg");
    EXPECT_EQ(all[1].name, "b.msg");
    EXPECT_EQ(all[1].size, 5u);
    std::vector<DirEntry> quick = ListDirectory(t.path());
    ASSERT_EQ(quick.size(), 4u);
    EXPECT_FALSE(quick[1].isDirectory);
    EXPECT_TRUE(quick[3].isDirectory);
    EXPECT_EQ(all[2].name, "c.txt");
    EXPECT_EQ(all[3].name, "Sub");
    EXPECT_TRUE(all[3].isDirectory);

    std::vector<DirEntry> msgs = ListDirectory(t.path(), "*.MSG");
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_TRUE(ListDirectory(t.path() / "missing").empty());
}

TEST(Files, ResolveBelowFindsNamesInAnyCase)
{
    TempDir t;
    t.Touch("INBOX/Old/mail.qlt");
    auto p = ResolveBelow(t.path(), "inbox/old/MAIL.QLT");
    ASSERT_TRUE(p);
    EXPECT_EQ(*p, t.path() / "INBOX" / "Old" / "mail.qlt");
    // Missing components are kept as given, so new folders can be created there.
    p = ResolveBelow(t.path(), "Inbox/New");
    ASSERT_TRUE(p);
    EXPECT_EQ(*p, t.path() / "INBOX" / "New");
    p = ResolveBelow(t.path(), "INBOX/");
    ASSERT_TRUE(p);
    EXPECT_EQ(*p, t.path() / "INBOX");
    EXPECT_EQ(*ResolveBelow(t.path(), ""), t.path());
}

TEST(Files, ResolveBelowRefusesEscapes)
{
    TempDir t;
    const std::string refused[] = {"..",   "../etc", "INBOX/../../x", "/etc/passwd",
                                   "a\\b", "a//b",   "./a",           std::string("a\0b", 3)};
    for (const std::string& rel : refused) {
        SCOPED_TRACE(rel);
        EXPECT_FALSE(ResolveBelow(t.path(), rel).has_value());
    }
}

TEST(Files, CreationTimeAndFreeSpace)
{
    TempDir t;
    t.Touch("f");
    time_t created = 0;
    ASSERT_TRUE(GetCreationTime(t.path() / "f", &created));
    time_t now = time(nullptr);
    EXPECT_LE(created, now);
    EXPECT_GT(created, now - 600);
    EXPECT_FALSE(GetCreationTime(t.path() / "missing", &created));
    EXPECT_GT(FreeDiskSpace(t.path()), 0u);
    EXPECT_EQ(FreeDiskSpace(t.path() / "missing"), 0u);
}
