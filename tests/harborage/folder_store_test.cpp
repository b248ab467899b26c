#include "harborage/harborage.h"

#include <cstring>

#include "tests/harborage/store_fixture.h"

namespace {

using Names = std::vector<std::string>;

const char* SkipSlashes(const char* n)
{
    while (*n == '/')
        ++n;
    return n;
}

class FolderStoreTest : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        folders = std::make_unique<CIMAPFolder>(rootText.c_str());
    }
    Names List(const char* reference, const char* pattern, int status = -1)
    {
        Names out;
        EXPECT_TRUE(folders->FindFolderList(reference, pattern, status, out));
        return out;
    }
    int StatusByte(const std::string& folder)
    {
        std::string s = ReadFile(root / folder / "folder.qlt");
        return s.size() == 1 ? static_cast<unsigned char>(s[0]) : -1;
    }
    std::unique_ptr<CIMAPFolder> folders;
};

TEST_F(FolderStoreTest, ListingExamples)
{
    ASSERT_EQ(folders->CreateFolder("INBOX", 1, 0), 1);
    ASSERT_EQ(folders->CreateFolder("Spam"), 1);
    ASSERT_EQ(folders->CreateFolder("INBOX/Old"), 1);
    WriteFile(root / "INBOX" / "mesg00000001.msg", "x");  // files are no folders

    EXPECT_EQ(List("", "*"), (Names{"INBOX", "INBOX/Old", "Spam"}));
    EXPECT_EQ(List("INBOX", "*"), (Names{"INBOX/Old"}));
    EXPECT_EQ(List("", "%"), Names{});
    EXPECT_EQ(List("", ""), Names{});
    // Any pattern brings the whole subtree of what it matches; the match ignores case.
    EXPECT_EQ(List("", "inbox"), (Names{"INBOX", "INBOX/Old"}));
    EXPECT_EQ(List("", "?pa?"), (Names{"Spam"}));
    EXPECT_EQ(List("", "INBOX/*"), (Names{"INBOX/Old"}));
    EXPECT_EQ(List("", "Nothing*"), Names{});
    // A reference that ends with the separator gets no second one.
    EXPECT_EQ(List("INBOX/", "*"), (Names{"INBOX/Old"}));
}

TEST_F(FolderStoreTest, DeepTreeIsDepthFirstParentsBeforeChildren)
{
    for (const char* n : {"A", "A/B", "A/B/C", "A/D", "b"})
        ASSERT_EQ(folders->CreateFolder(n), 1) << n;
    EXPECT_EQ(List("", "*"), (Names{"A", "A/B", "A/B/C", "A/D", "b"}));
    EXPECT_EQ(List("A", "B"), (Names{"A/B", "A/B/C"}));
}

TEST_F(FolderStoreTest, LsubListsSubscribedFolderBelowUnsubscribedParent)
{
    ASSERT_EQ(folders->CreateFolder("Parent"), 1);
    ASSERT_EQ(folders->CreateFolder("Parent/Child"), 1);
    ASSERT_EQ(folders->CreateFolder("Other"), 1);
    ASSERT_TRUE(folders->UpdateFolderStatus("Parent", 0));
    EXPECT_EQ(List("", "*", 1), (Names{"Other", "Parent/Child"}));
    EXPECT_EQ(List("", "*", 0), (Names{"Parent"}));
    EXPECT_EQ(List("", "*", -1), (Names{"Other", "Parent", "Parent/Child"}));
}

TEST_F(FolderStoreTest, StatusBytes)
{
    ASSERT_EQ(folders->CreateFolder("INBOX", 1, 0), 1);
    EXPECT_EQ(StatusByte("INBOX"), 1);
    ASSERT_EQ(folders->CreateFolder("Spam"), 1);
    EXPECT_EQ(StatusByte("Spam"), 3);
    EXPECT_EQ(folders->GetFolderStatus("spam"), 1);

    ASSERT_TRUE(folders->UpdateFolderStatus("Spam", 0));
    EXPECT_EQ(StatusByte("Spam"), 2);
    EXPECT_EQ(folders->GetFolderStatus("Spam"), 0);
    ASSERT_TRUE(folders->UpdateFolderStatus("SPAM", 1));
    EXPECT_EQ(StatusByte("Spam"), 3);

    WriteFile(root / "Spam" / "folder.qlt", std::string(1, '\0'));
    EXPECT_EQ(folders->GetFolderStatus("Spam"), 0);
    fs::remove(root / "Spam" / "folder.qlt");
    EXPECT_EQ(folders->GetFolderStatus("Spam"), 0);  // made by hand, no status file

    EXPECT_FALSE(folders->UpdateFolderStatus("Missing", 1));
    EXPECT_FALSE(fs::exists(root / "Missing"));
    EXPECT_EQ(folders->GetFolderStatus("Missing"), 0);
}

TEST_F(FolderStoreTest, CreateNeedsTheParentAndANewName)
{
    EXPECT_EQ(folders->CreateFolder("Work/2024"), 0);
    EXPECT_FALSE(fs::exists(root / "Work"));
    ASSERT_EQ(folders->CreateFolder("Work"), 1);
    EXPECT_EQ(folders->CreateFolder("Work"), 0);
    EXPECT_EQ(folders->CreateFolder("WORK"), 0);  // the same folder in another case
    ASSERT_EQ(folders->CreateFolder("work/2024"), 1);
    EXPECT_TRUE(fs::is_directory(root / "Work" / "2024"));
    EXPECT_EQ(folders->ExistFolder("WORK/2024"), 1);
    EXPECT_EQ(folders->ExistFolder("Work/2025"), 0);
    WriteFile(root / "plain", "x");
    EXPECT_EQ(folders->ExistFolder("plain"), 0);

    char path[260];
    ASSERT_TRUE(folders->MakeAbsolutePath("work/2024", path, sizeof path));
    EXPECT_EQ(std::string(path), (root / "Work" / "2024").string());
}

TEST_F(FolderStoreTest, InboxIsNeverDeleted)
{
    ASSERT_EQ(folders->CreateFolder("INBOX", 1, 0), 1);
    for (const char* n : {"INBOX", "inbox", "InBoX", "INBOX/"})
        EXPECT_EQ(folders->DeleteFolder(n), 0) << n;

    // The Korean client's inbox name, tidied, is folded onto "inbox".
    char buffer[64];
    std::strcpy(buffer, "\"&vBvHQA- &07jJwNVo-\"");
    char* name = buffer;
    CIMAPFolder::GetCorrectFolder(name);
    ASSERT_STREQ(name, "inbox");
    EXPECT_EQ(folders->DeleteFolder(name), 0);
    EXPECT_TRUE(fs::is_directory(root / "INBOX"));
    EXPECT_EQ(StatusByte("INBOX"), 1);
}

TEST_F(FolderStoreTest, DeleteRemovesTheWholeSubtreeButNeverFollowsLinks)
{
    ASSERT_EQ(folders->CreateFolder("Old"), 1);
    ASSERT_EQ(folders->CreateFolder("Old/Deeper"), 1);
    WriteFile(root / "Old" / "mesg00000001.msg", "x");
    WriteFile(root / "Old" / "Deeper" / "mail.qlt", "000000");
    fs::create_directory(base / "precious");
    WriteFile(base / "precious" / "keep.txt", "keep");
    fs::create_directory_symlink(base / "precious", root / "Old" / "link");

    EXPECT_EQ(folders->DeleteFolder("old"), 1);
    EXPECT_FALSE(fs::exists(root / "Old"));
    EXPECT_EQ(ReadFile(base / "precious" / "keep.txt"), "keep");
    EXPECT_EQ(folders->DeleteFolder("Old"), 0);
}

TEST_F(FolderStoreTest, RenameMovesContentsAndNeverReplacesAFolder)
{
    ASSERT_EQ(folders->CreateFolder("A"), 1);
    ASSERT_EQ(folders->CreateFolder("A/Sub"), 1);
    ASSERT_EQ(folders->CreateFolder("B"), 1);
    ASSERT_EQ(folders->CreateFolder("Empty"), 1);
    fs::remove(root / "Empty" / "folder.qlt");
    WriteFile(root / "A" / "mesg00000001.msg", "a");
    WriteFile(root / "B" / "mesg00000001.msg", "b");

    EXPECT_EQ(folders->RenameFolder("A", "B"), 0);
    EXPECT_EQ(folders->RenameFolder("A", "b"), 0);
    EXPECT_EQ(folders->RenameFolder("A", "Empty"), 0);  // not even onto an empty folder
    EXPECT_EQ(folders->RenameFolder("A", "Nowhere/A"), 0);
    EXPECT_EQ(folders->RenameFolder("A", "A/Sub/A"), 0);
    EXPECT_EQ(folders->RenameFolder("Missing", "C"), 0);
    EXPECT_EQ(ReadFile(root / "A" / "mesg00000001.msg"), "a");
    EXPECT_EQ(ReadFile(root / "B" / "mesg00000001.msg"), "b");
    EXPECT_TRUE(fs::is_directory(root / "Empty"));

    ASSERT_EQ(folders->RenameFolder("a", "B/Moved"), 1);
    EXPECT_EQ(ReadFile(root / "B" / "Moved" / "mesg00000001.msg"), "a");
    EXPECT_TRUE(fs::is_directory(root / "B" / "Moved" / "Sub"));
    EXPECT_EQ(StatusByte("B/Moved"), 3);
    EXPECT_FALSE(fs::exists(root / "A"));

    // A change of letter case alone is a rename too.
    ASSERT_EQ(folders->RenameFolder("B/Moved", "B/MOVED"), 1);
    EXPECT_TRUE(fs::is_directory(root / "B" / "MOVED"));
    EXPECT_EQ(folders->RenameFolder("B/MOVED", "B/MOVED"), 0);
}

TEST_F(FolderStoreTest, TraversalNamesAreRefused)
{
    ASSERT_EQ(folders->CreateFolder("INBOX", 1, 0), 1);
    fs::create_directory(base / "outside");
    WriteFile(base / "outside" / "keep.txt", "keep");
    const char* bad[] = {"..",       "../outside", "INBOX/..", "INBOX/../../outside", "/tmp", "INBOX\\x", "./INBOX",
                         "INBOX//x", "",           "/"};
    for (const char* n : bad) {
        SCOPED_TRACE(n);
        EXPECT_EQ(folders->CreateFolder(n), 0);
        EXPECT_EQ(folders->ExistFolder(n), 0);
        EXPECT_EQ(folders->DeleteFolder(n), 0);
        EXPECT_FALSE(folders->UpdateFolderStatus(n, 1));
        EXPECT_EQ(folders->GetFolderStatus(n), 0);
        EXPECT_EQ(folders->RenameFolder("INBOX", n), 0);
        EXPECT_EQ(folders->RenameFolder(n, "Stolen"), 0);
        EXPECT_EQ(folders->GetFolderID(n), 0xFFFFFFFFUL);
        char path[260];
        EXPECT_FALSE(folders->MakeAbsolutePath(n, path, sizeof path));
        if (*SkipSlashes(n) != '\0') {  // an empty reference lists the top level, as it should
            EXPECT_EQ(List(n, "*"), Names{});
            EXPECT_EQ(List("", (std::string(n) + "/*").c_str()), Names{});
        }
    }
    EXPECT_EQ(List("", "../*"), Names{});
    EXPECT_EQ(ReadFile(base / "outside" / "keep.txt"), "keep");
    EXPECT_FALSE(fs::exists(base / "outside" / "folder.qlt"));
    EXPECT_FALSE(fs::exists(base / "folder.qlt"));
    EXPECT_FALSE(fs::exists(root / "folder.qlt"));
    EXPECT_FALSE(fs::exists(root / "Stolen"));
    EXPECT_TRUE(fs::is_directory(root / "INBOX"));
    EXPECT_TRUE(fs::is_directory(root));
}

TEST_F(FolderStoreTest, LinksBelowTheRootAreNoFolders)
{
    fs::create_directory(base / "outside");
    fs::create_directory_symlink(base / "outside", root / "Link");
    EXPECT_EQ(folders->ExistFolder("Link"), 0);
    EXPECT_EQ(folders->CreateFolder("Link/Sub"), 0);
    EXPECT_FALSE(folders->UpdateFolderStatus("link", 1));
    EXPECT_EQ(List("", "*"), Names{});
    EXPECT_EQ(folders->DeleteFolder("Link"), 0);

    CIMAPMail mail(rootText.c_str());
    mail.FolderMailInit("Link");
    std::string temp = MakeTemp("Subject: x\r\n\r\n");
    EXPECT_EQ(mail.AddTempMailMesg("Link", temp.c_str(), false, false, false, false, false, true, "", ""), 0);
    EXPECT_TRUE(fs::is_empty(base / "outside"));
    EXPECT_TRUE(fs::is_symlink(root / "Link"));
}

TEST_F(FolderStoreTest, IdentifierAndFreeSpace)
{
    ASSERT_EQ(folders->CreateFolder("INBOX"), 1);
    unsigned long id = folders->GetFolderID("inbox");
    EXPECT_NE(id, 0xFFFFFFFFUL);
    EXPECT_EQ(id, folders->GetFolderID("INBOX"));
    EXPECT_EQ(folders->GetFolderID("Missing"), 0xFFFFFFFFUL);
    EXPECT_GT(CIMAPFolder::CheckFreeSpace(rootText.c_str()), 0);
    EXPECT_EQ(CIMAPFolder::CheckFreeSpace((base / "missing").c_str()), -1);
    EXPECT_EQ(CIMAPFolder::GetWindowVersion(), 0);
}

}  // namespace
