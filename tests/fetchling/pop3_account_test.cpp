#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fetchling/fetchling.h"

namespace fs = std::filesystem;

namespace {

class AccountTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char templ[] = "/tmp/fetchling-account-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Bytes(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void WriteBytes(const std::string& path, const std::string& data)
    {
        std::ofstream out(path, std::ios::binary);
        out << data;
    }
    static std::string Record(const std::string& uid)
    {
        std::string r = uid;
        r.resize(100, '\0');
        return r;
    }

    std::string dir;
};

using W = std::vector<std::string>;

}  // namespace

TEST_F(AccountTest, FieldsAndHistoryFileName)
{
    CPop3Account acc(dir.c_str(), "mailhost", "pop.example.com", "user1", "pw", 110);
    EXPECT_STREQ(acc.GetName(), "mailhost");
    EXPECT_STREQ(acc.GetServer(), "pop.example.com");
    EXPECT_STREQ(acc.GetUser(), "user1");
    EXPECT_STREQ(acc.GetPassword(), "pw");
    EXPECT_EQ(acc.GetPort(), 110);
    EXPECT_EQ(acc.GetHistoryFilePath(), dir + "/mailhost.user1.his");
    CPop3Account mail(dir.c_str(), "pop.example.com", "pop.example.com", "first.last@example.com", "", 110);
    EXPECT_EQ(mail.GetHistoryFilePath(), dir + "/pop.example.com.first.last@example.com.his");
    CPop3Account slash((dir + "/").c_str(), "mailhost", "h", "user1", "", 110);
    EXPECT_EQ(slash.GetHistoryFilePath(), dir + "/mailhost.user1.his");
}

TEST_F(AccountTest, UnsafeNamesStayInsideTheDirectory)
{
    CPop3Account acc(dir.c_str(), "../../etc", "h", "a/b\\c%d\x01", "", 110);
    std::string path = acc.GetHistoryFilePath();
    EXPECT_EQ(path, dir + "/..%2F..%2Fetc.a%2Fb%5Cc%25d%01.his");
    acc.AddHistory("one");
    ASSERT_TRUE(acc.SaveHistoryFile());
    EXPECT_EQ(fs::path(path).parent_path(), fs::path(dir));
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(dir))
        files.push_back(e.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].string(), path);

    // Different names never share a file, even when one looks like the other's encoding.
    CPop3Account literal(dir.c_str(), "..%2F..%2Fetc", "h", "a%2Fb%5Cc%25d%01", "", 110);
    EXPECT_NE(literal.GetHistoryFilePath(), path);

    EXPECT_TRUE(CPop3Account::RemoveHistoryFile(dir.c_str(), "../../etc.a/b\\c%d\x01"));
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(CPop3Account::RemoveHistoryFile(dir.c_str(), "../../etc.a/b\\c%d\x01"));
}

TEST_F(AccountTest, LongUserNamesOnOneServerKeepSeparateHistories)
{
    std::string a = "customer.service.department.inbox.one@example.com";
    std::string b = "customer.service.department.inbox.two@example.com";
    ASSERT_EQ(a.substr(0, 29), b.substr(0, 29));
    CPop3Account first(dir.c_str(), "pop.example.com", "pop.example.com", a.c_str(), "", 110);
    CPop3Account second(dir.c_str(), "pop.example.com", "pop.example.com", b.c_str(), "", 110);
    EXPECT_STREQ(first.GetUser(), a.c_str());
    EXPECT_NE(first.GetHistoryFilePath(), second.GetHistoryFilePath());
    first.AddHistory("uid-a");
    ASSERT_TRUE(first.SaveHistoryFile());
    EXPECT_FALSE(second.LoadHistoryFile());
    EXPECT_FALSE(second.IsExistUID("uid-a"));

    std::string over(150, 'u');
    CPop3Account cut(dir.c_str(), "h", "h", over.c_str(), "", 110);
    EXPECT_EQ(std::string(cut.GetUser()), over.substr(0, 99));
}

TEST_F(AccountTest, SaveAndLoadRecords)
{
    CPop3Account acc(dir.c_str(), "mailhost", "h", "user1", "", 110);
    EXPECT_FALSE(acc.LoadHistoryFile());  // no file yet: every message is new
    acc.AddHistory("first");
    acc.AddHistory(std::string(120, 'L').c_str());
    acc.AddHistory("");
    acc.AddHistory(nullptr);
    ASSERT_TRUE(acc.SaveHistoryFile());
    std::string bytes = Bytes(acc.GetHistoryFilePath());
    ASSERT_EQ(bytes.size(), 300u);
    EXPECT_EQ(bytes.substr(0, 100), Record("first"));
    EXPECT_EQ(bytes.substr(100, 100), Record(std::string(99, 'L')));
    EXPECT_EQ(bytes.substr(200, 100), Record(""));
    EXPECT_FALSE(fs::exists(acc.GetHistoryFilePath() + ".tmp"));

    CPop3Account again(dir.c_str(), "mailhost", "h", "user1", "", 110);
    again.AddHistory("replaced by the load");
    ASSERT_TRUE(again.LoadHistoryFile());
    std::vector<std::string> uids;
    again.GetUidList(uids);
    EXPECT_EQ(uids, (W{"first", std::string(99, 'L'), ""}));

    // Load, remove nothing, save: the same length.
    ASSERT_TRUE(again.SaveHistoryFile());
    EXPECT_EQ(Bytes(again.GetHistoryFilePath()), bytes);
}

TEST_F(AccountTest, ShortTailAndRecordsWithoutTerminator)
{
    CPop3Account acc(dir.c_str(), "mailhost", "h", "user1", "", 110);
    std::string full(100, 'F');  // no zero byte at all: cut to 99 characters
    WriteBytes(acc.GetHistoryFilePath(), Record("a") + full + std::string(50, 'T'));
    ASSERT_TRUE(acc.LoadHistoryFile());
    EXPECT_EQ(acc.GetHistoryCount(), 2);
    EXPECT_TRUE(acc.IsExistUID("a"));
    EXPECT_TRUE(acc.IsExistUID(std::string(99, 'F').c_str()));

    // Bytes after the first zero of a record are not part of the UID.
    std::string r = Record("x");
    r[50] = 'y';
    WriteBytes(acc.GetHistoryFilePath(), r);
    ASSERT_TRUE(acc.LoadHistoryFile());
    std::vector<std::string> uids;
    acc.GetUidList(uids);
    EXPECT_EQ(uids, (W{"x"}));
}

TEST_F(AccountTest, MissingOrUnwritableFileKeepsTheHistory)
{
    CPop3Account acc(dir.c_str(), "mailhost", "h", "user1", "", 110);
    acc.AddHistory("kept");
    EXPECT_FALSE(acc.LoadHistoryFile());
    EXPECT_TRUE(acc.IsExistUID("kept"));

    CPop3Account nowhere((dir + "/missing-dir").c_str(), "mailhost", "h", "user1", "", 110);
    nowhere.AddHistory("x");
    EXPECT_FALSE(nowhere.SaveHistoryFile());

    // A directory too long for its field is refused rather than cut to another place.
    std::string deep = dir + "/" + std::string(300, 'd');
    CPop3Account cut(deep.c_str(), "mailhost", "h", "user1", "", 110);
    EXPECT_EQ(cut.GetHistoryFilePath(), "");
    cut.AddHistory("x");
    EXPECT_FALSE(cut.SaveHistoryFile());
    EXPECT_FALSE(cut.LoadHistoryFile());
}

TEST_F(AccountTest, CaseRulesOfLookupAndPruning)
{
    CPop3Account acc(dir.c_str(), "mailhost", "h", "user1", "", 110);
    acc.AddHistory("AbC");
    acc.AddHistory("keep");
    acc.AddHistory("drop");
    acc.AddHistory("keep");
    EXPECT_TRUE(acc.IsExistUID("abc"));
    EXPECT_TRUE(acc.IsExistUID("ABC"));
    EXPECT_FALSE(acc.IsExistUID("ab"));
    EXPECT_FALSE(acc.IsExistUID(nullptr));

    // The server's list holds the UID only in another case: pruning removes it.
    std::vector<std::string> current{"abc", "keep", "new"};
    acc.RemoveUidList(current);
    std::vector<std::string> uids;
    acc.GetUidList(uids);
    EXPECT_EQ(uids, (W{"keep", "keep"}));

    EXPECT_FALSE(acc.IsExistUID("abc"));  // pruned away, and no longer found
    EXPECT_FALSE(acc.IsExistUID("drop"));

    acc.RemoveHistory("KEEP");  // exact case only
    EXPECT_EQ(acc.GetHistoryCount(), 2);
    acc.RemoveHistory("keep");  // the first one only
    EXPECT_EQ(acc.GetHistoryCount(), 1);
    EXPECT_TRUE(acc.IsExistUID("KEEP"));  // the other copy is still there
    acc.RemoveHistory(nullptr);

    std::vector<std::string> none;
    acc.RemoveUidList(none);
    EXPECT_EQ(acc.GetHistoryCount(), 0);
    EXPECT_FALSE(acc.IsExistUID("keep"));
}

// A large history is looked up as the list says, however it was built: added, loaded from the
// file, pruned, one entry removed.
TEST_F(AccountTest, LargeHistoryLookupsFollowEveryChange)
{
    CPop3Account acc(dir.c_str(), "bighost", "h", "user1", "", 110);
    const int n = 20000;
    for (int i = 0; i < n; ++i)
        acc.AddHistory(("UID-" + std::to_string(i)).c_str());
    ASSERT_TRUE(acc.SaveHistoryFile());

    CPop3Account loaded(dir.c_str(), "bighost", "h", "user1", "", 110);
    ASSERT_TRUE(loaded.LoadHistoryFile());
    EXPECT_TRUE(loaded.IsExistUID("uid-0"));
    EXPECT_TRUE(loaded.IsExistUID("UID-19999"));
    EXPECT_FALSE(loaded.IsExistUID("UID-20000"));

    std::vector<std::string> current;
    for (int i = 0; i < n; i += 2)
        current.push_back("UID-" + std::to_string(i));
    loaded.RemoveUidList(current);
    EXPECT_EQ(loaded.GetHistoryCount(), n / 2);
    int found = 0;
    for (int i = 0; i < n; ++i)
        found += loaded.IsExistUID(("uid-" + std::to_string(i)).c_str()) ? 1 : 0;
    EXPECT_EQ(found, n / 2);
    EXPECT_FALSE(loaded.IsExistUID("UID-1"));
    loaded.RemoveHistory("UID-4");
    EXPECT_FALSE(loaded.IsExistUID("UID-4"));
    EXPECT_TRUE(loaded.IsExistUID("UID-6"));
}

TEST_F(AccountTest, CopiesAreIndependent)
{
    CPop3Account acc(dir.c_str(), "mailhost", "h", "user1", "pw", 995);
    acc.AddHistory("one");
    CPop3Account copy(acc);
    copy.AddHistory("two");
    EXPECT_EQ(acc.GetHistoryCount(), 1);
    EXPECT_EQ(copy.GetHistoryCount(), 2);
    EXPECT_STREQ(copy.GetUser(), "user1");
    EXPECT_EQ(copy.GetPort(), 995);
    CPop3Account other(dir.c_str(), "x", "y", "z", "", 1);
    other = copy;
    EXPECT_STREQ(other.GetName(), "mailhost");
    EXPECT_EQ(other.GetHistoryCount(), 2);
    EXPECT_EQ(other.GetHistoryFilePath(), acc.GetHistoryFilePath());
}

// The examination frame the proxy runs: messages without a UID never enter the history.
TEST_F(AccountTest, ServerWithoutUidsIsExaminedEveryTime)
{
    CPop3Mesg list;
    list.AddMesgToList(1, 10);
    list.AddMesgToList(2, 20);
    for (int session = 0; session < 2; ++session) {
        CPop3Account acc(dir.c_str(), "mailhost", "h", "user1", "", 110);
        acc.LoadHistoryFile();
        std::vector<std::string> uids;
        list.GetUIDList(&uids);
        acc.RemoveUidList(uids);
        int examined = 0;
        list.Reset();
        while (list.GetNextMesg()) {
            char* uid = list.GetMesgUID();
            if (acc.IsExistUID(uid))
                continue;
            ++examined;
            if (*uid)
                acc.AddHistory(uid);
        }
        EXPECT_EQ(examined, 2);
        EXPECT_TRUE(acc.SaveHistoryFile());
        EXPECT_EQ(fs::file_size(acc.GetHistoryFilePath()), 0u);
    }
}
