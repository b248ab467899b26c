#include "harborage/harborage.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>

#include "tests/harborage/store_fixture.h"

namespace {

const std::string kMessage = "From: a@example.com\r\nSubject: test\r\n\r\nbody\r\n";

std::string Record(int uid, const std::string& name, unsigned char flags)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%06d", uid);
    return std::string(buf) + name + std::string(1, static_cast<char>(flags));
}

class MailStoreTest : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        fs::create_directory(root / "INBOX");
        fs::create_directory(root / "Spam");
    }
    std::string Index(const std::string& folder = "INBOX") { return ReadFile(root / folder / "mail.qlt"); }

    int Deliver(CIMAPMail& mail, const std::string& folder, bool flagged = false, bool recent = false,
                bool seen = false)
    {
        return mail.AddTempMailMesg(folder.c_str(), MakeTemp(kMessage).c_str(), seen, false, flagged, false, false,
                                    recent, "", "");
    }
};

TEST_F(MailStoreTest, FirstDeliveryIntoNewFolderWritesTwentyNineByteIndex)
{
    CIMAPMail mail(rootText.c_str());
    mail.FolderMailInit("INBOX");
    EXPECT_EQ(Index(), "000000");
    EXPECT_EQ(mail.Size(), 0);

    std::string temp = MakeTemp(kMessage);
    ASSERT_EQ(mail.AddTempMailMesg("INBOX", temp.c_str(), false, false, false, false, false, false, "", ""), 1);
    EXPECT_FALSE(fs::exists(temp));
    EXPECT_EQ(ReadFile(root / "INBOX" / "mesg00000001.msg"), kMessage);
    EXPECT_EQ(Index(), "000001" + Record(1, "mesg00000001.msg", 0));
    EXPECT_EQ(Index().size(), 29u);

    ASSERT_EQ(mail.Size(), 1);
    MAILINFO* m = mail.GetMailInfo(1);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->seq, 1);
    EXPECT_EQ(m->uid, 1);
    EXPECT_STREQ(m->name, "mesg00000001.msg");
    EXPECT_EQ(mail.GetMailInfo(0), nullptr);
    EXPECT_EQ(mail.GetMailInfo(2), nullptr);
}

TEST_F(MailStoreTest, FlagBytePacking)
{
    CIMAPMail mail(rootText.c_str());
    mail.FolderMailInit("INBOX");
    ASSERT_EQ(Deliver(mail, "INBOX", /*flagged*/ true, /*recent*/ true), 1);
    EXPECT_EQ(static_cast<unsigned char>(Index().back()), 0x09);

    MAILINFO* m = mail.GetMailInfo(1);
    *m = MAILINFO{m->seq, m->uid, {}, true, true, false, true, true, false};
    std::strcpy(m->name, "mesg00000001.msg");
    ASSERT_TRUE(mail.SaveUpdateMailInfo(m));
    EXPECT_EQ(static_cast<unsigned char>(Index().back()), 0x20 | 0x10 | 0x04 | 0x02);
    EXPECT_EQ(Index().size(), 29u);

    // The flags survive a rescan.
    CIMAPMail again(rootText.c_str());
    again.FolderMailInit("INBOX");
    MAILINFO* r = again.GetMailInfo(1);
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(r->seen && r->answered && r->deleted && r->draft);
    EXPECT_FALSE(r->flagged || r->recent);
}

TEST_F(MailStoreTest, DeletedSlotUntilRescanThenUidGrowsAndFileNumberIsNotReused)
{
    CIMAPMail mail(rootText.c_str());
    mail.FolderMailInit("INBOX");
    ASSERT_EQ(Deliver(mail, "INBOX"), 1);
    ASSERT_EQ(mail.DeleteMailFile(1), 1);
    EXPECT_EQ(mail.Size(), 0);
    EXPECT_FALSE(fs::exists(root / "INBOX" / "mesg00000001.msg"));
    EXPECT_EQ(Index(), "000001" + std::string(23, '0'));
    EXPECT_EQ(mail.DeleteMailFile(1), 0);  // nothing left at position 1

    mail.FolderMailInit("INBOX");
    EXPECT_EQ(Index(), "000001");

    ASSERT_EQ(Deliver(mail, "INBOX"), 1);
    ASSERT_EQ(mail.Size(), 1);
    EXPECT_EQ(mail.GetMailInfo(1)->uid, 2);
    EXPECT_STREQ(mail.GetMailInfo(1)->name, "mesg00000002.msg");
    EXPECT_EQ(Index(), "000002" + Record(2, "mesg00000002.msg", 0));
}

TEST_F(MailStoreTest, ASessionWithAnOlderListingNeverReachesANewMessage)
{
    CIMAPMail first(rootText.c_str());
    first.FolderMailInit("INBOX");
    ASSERT_EQ(Deliver(first, "INBOX"), 1);
    ASSERT_EQ(Deliver(first, "INBOX"), 1);
    CIMAPMail older(rootText.c_str());  // lists both, then another session expunges the newest
    older.FolderMailInit("INBOX");
    ASSERT_EQ(older.Size(), 2);
    CIMAPMail other(rootText.c_str());
    other.FolderMailInit("INBOX");
    ASSERT_EQ(other.DeleteMailFile(2), 1);

    WriteFile(base / "precious.tmp", "Subject: precious\r\n\r\nnew\r\n");
    ASSERT_EQ(other.AddTempMailMesg("INBOX", (base / "precious.tmp").c_str(), false, false, false, false, false, true,
                                    "", ""),
              1);
    const std::string newName = other.GetMailInfo(other.Size())->name;
    EXPECT_STRNE(newName.c_str(), older.GetMailInfo(2)->name);
    EXPECT_EQ(older.DeleteMailFile(2), 0);  // its message is gone; the new one is not its to delete
    EXPECT_EQ(ReadFile(root / "INBOX" / newName), "Subject: precious\r\n\r\nnew\r\n");
}

TEST_F(MailStoreTest, DeleteInTheMiddleRenumbersLaterEntries)
{
    CIMAPMail mail(rootText.c_str());
    mail.FolderMailInit("INBOX");
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Deliver(mail, "INBOX"), 1);
    ASSERT_EQ(mail.DeleteMailFile(2), 1);
    ASSERT_EQ(mail.Size(), 2);
    EXPECT_EQ(mail.GetMailInfo(2)->seq, 2);
    EXPECT_EQ(mail.GetMailInfo(2)->uid, 3);
    EXPECT_EQ(Index(),
              "000003" + Record(1, "mesg00000001.msg", 0) + std::string(23, '0') + Record(3, "mesg00000003.msg", 0));
    // A message whose file is gone cannot be deleted; its entry stays.
    fs::remove(root / "INBOX" / "mesg00000003.msg");
    EXPECT_EQ(mail.DeleteMailFile(2), 0);
    EXPECT_EQ(mail.Size(), 2);
}

TEST_F(MailStoreTest, CopiedFileIsAdoptedAsRecentWithTheNextUid)
{
    CIMAPMail spam(rootText.c_str());
    spam.FolderMailInit("Spam");
    ASSERT_EQ(Deliver(spam, "Spam"), 1);
    ASSERT_EQ(Deliver(spam, "Spam"), 1);  // counter of Spam is now 2

    CIMAPMail inbox(rootText.c_str());
    inbox.FolderMailInit("INBOX");
    ASSERT_EQ(Deliver(inbox, "INBOX", false, false, /*seen*/ true), 1);
    ASSERT_EQ(inbox.CopyMailFile(1, "Spam"), 1);
    ASSERT_EQ(inbox.CopyMailFile(1, "spam"), 1);  // folder names ignore case
    EXPECT_EQ(inbox.CopyMailFile(2, "Spam"), 0);  // beyond the count
    EXPECT_EQ(inbox.CopyMailFile(0, "Spam"), 0);
    EXPECT_EQ(inbox.CopyMailFile(1, "Missing"), 0);
    EXPECT_EQ(ReadFile(root / "Spam" / "mesg00000003.msg"), kMessage);
    EXPECT_EQ(ReadFile(root / "Spam" / "mesg00000004.msg"), kMessage);
    EXPECT_EQ(Index("Spam").size(), 6u + 2 * 23u);  // the destination index is not touched

    spam.FolderMailInit("Spam");
    ASSERT_EQ(spam.Size(), 4);
    for (int seq = 3; seq <= 4; ++seq) {
        MAILINFO* m = spam.GetMailInfo(seq);
        EXPECT_EQ(m->uid, seq);
        EXPECT_TRUE(m->recent);
        EXPECT_FALSE(m->seen || m->answered || m->flagged || m->deleted || m->draft);
    }
    EXPECT_EQ(spam.GetRecentCount(), 2);
    EXPECT_EQ(Index("Spam").substr(0, 6), "000004");
    EXPECT_EQ(Index("Spam").size(), 6u + 4 * 23u);

    // A copy into the same folder takes the next file number there.
    ASSERT_EQ(inbox.CopyMailFile(1, "INBOX"), 1);
    EXPECT_TRUE(fs::exists(root / "INBOX" / "mesg00000002.msg"));
}

TEST_F(MailStoreTest, LostIndexRenumbersFromOneInListingOrder)
{
    CIMAPMail mail(rootText.c_str());
    mail.FolderMailInit("INBOX");
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Deliver(mail, "INBOX", true, false, true), 1);
    ASSERT_EQ(mail.DeleteMailFile(1), 1);  // counter 3, files 2 and 3 left
    fs::remove(root / "INBOX" / "mail.qlt");

    mail.FolderMailInit("INBOX");
    ASSERT_EQ(mail.Size(), 2);
    EXPECT_EQ(mail.GetMailInfo(1)->uid, 1);
    EXPECT_STREQ(mail.GetMailInfo(1)->name, "mesg00000002.msg");
    EXPECT_EQ(mail.GetMailInfo(2)->uid, 2);
    EXPECT_STREQ(mail.GetMailInfo(2)->name, "mesg00000003.msg");
    for (int seq = 1; seq <= 2; ++seq) {
        MAILINFO* m = mail.GetMailInfo(seq);
        EXPECT_TRUE(m->recent);
        EXPECT_FALSE(m->seen || m->flagged);
    }
    EXPECT_EQ(Index(), "000002" + Record(1, "mesg00000002.msg", 1) + Record(2, "mesg00000003.msg", 1));
}

TEST_F(MailStoreTest, RescanKeepsKnownEntriesDropsVanishedOnesAndAdoptsNewFiles)
{
    CIMAPMail mail(rootText.c_str());
    mail.FolderMailInit("INBOX");
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Deliver(mail, "INBOX", false, false, true), 1);
    fs::remove(root / "INBOX" / "mesg00000001.msg");
    WriteFile(root / "INBOX" / "MESG00000009.MSG", kMessage);  // dropped in by hand, other case
    WriteFile(root / "INBOX" / "mesg00000005.msg", kMessage);
    fs::create_directory(root / "INBOX" / "mesg00000007.msg");  // a directory is no message
    WriteFile(root / "INBOX" / "notes.txt", "x");

    mail.FolderMailInit("inbox");  // the folder name ignores case too
    ASSERT_EQ(mail.Size(), 4);
    std::vector<std::pair<int, std::string>> got;
    for (int seq = 1; seq <= 4; ++seq) {
        EXPECT_EQ(mail.GetMailInfo(seq)->seq, seq);
        got.emplace_back(mail.GetMailInfo(seq)->uid, mail.GetMailInfo(seq)->name);
    }
    std::vector<std::pair<int, std::string>> want = {
        {2, "mesg00000002.msg"}, {3, "mesg00000003.msg"}, {4, "mesg00000005.msg"}, {5, "MESG00000009.MSG"}};
    EXPECT_EQ(got, want);
    EXPECT_TRUE(mail.GetMailInfo(1)->seen);
    EXPECT_FALSE(mail.GetMailInfo(1)->recent);
    EXPECT_TRUE(mail.GetMailInfo(3)->recent);
    EXPECT_EQ(Index().substr(0, 6), "000005");
    EXPECT_EQ(Index().size(), 6u + 4 * 23u);

    // The next file number counts the largest present, whatever its case.
    char name[20];
    ASSERT_TRUE(mail.GetMailFileName((root / "INBOX").c_str(), name));
    EXPECT_STREQ(name, "mesg00000010.msg");

    // A rescan of the current folder by its own name, as NOOP and EXPUNGE do.
    mail.FolderMailInit(mail.GetFolderName());
    EXPECT_STREQ(mail.GetFolderName(), "inbox");
    EXPECT_EQ(mail.Size(), 4);
}

TEST_F(MailStoreTest, DamagedIndexTailAndDuplicateRecordsAreCleanedByTheRescan)
{
    WriteFile(root / "INBOX" / "mesg00000001.msg", kMessage);
    WriteFile(root / "INBOX" / "mesg00000002.msg", kMessage);
    // Header counter too low, a deleted slot, the same file twice, the same UID twice, a short tail.
    WriteFile(root / "INBOX" / "mail.qlt", "000001" + Record(1, "mesg00000001.msg", 0x20) + std::string(23, '0') +
                                               Record(4, "mesg00000001.msg", 0x08) +
                                               Record(1, "mesg00000002.msg", 0x10) + "00000");
    CIMAPMail mail(rootText.c_str());
    mail.FolderMailInit("INBOX");
    ASSERT_EQ(mail.Size(), 2);
    EXPECT_EQ(mail.GetMailInfo(1)->uid, 1);
    EXPECT_TRUE(mail.GetMailInfo(1)->seen);
    EXPECT_STREQ(mail.GetMailInfo(2)->name, "mesg00000002.msg");
    EXPECT_EQ(mail.GetMailInfo(2)->uid, 5);  // beyond every UID seen, not a repeat of 1
    EXPECT_TRUE(mail.GetMailInfo(2)->answered);
    EXPECT_EQ(Index(), "000005" + Record(1, "mesg00000001.msg", 0x20) + Record(5, "mesg00000002.msg", 0x10));
}

TEST_F(MailStoreTest, AppendAfterAShortTailStaysAligned)
{
    CIMAPMail mail(rootText.c_str());
    mail.FolderMailInit("INBOX");
    ASSERT_EQ(Deliver(mail, "INBOX"), 1);
    WriteFile(root / "INBOX" / "mail.qlt", Index() + "0000");  // a torn write
    ASSERT_EQ(Deliver(mail, "INBOX"), 1);
    EXPECT_EQ(Index(), "000002" + Record(1, "mesg00000001.msg", 0) + Record(2, "mesg00000002.msg", 0));
}

TEST_F(MailStoreTest, FlagUpdateStaysCorrectAfterAnotherObjectRewroteTheIndex)
{
    CIMAPMail a(rootText.c_str());
    a.FolderMailInit("INBOX");
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(Deliver(a, "INBOX"), 1);

    // Another session deletes message 1 and rescans: every record moves up by one slot.
    CIMAPMail b(rootText.c_str());
    b.FolderMailInit("INBOX");
    ASSERT_EQ(b.DeleteMailFile(1), 1);
    b.FolderMailInit("INBOX");
    ASSERT_EQ(Index().size(), 6u + 3 * 23u);

    MAILINFO* m = a.GetMailInfo(3);  // UID 3, still at its old place in a's list
    ASSERT_EQ(m->uid, 3);
    m->flagged = true;
    ASSERT_TRUE(a.SaveUpdateMailInfo(m));
    EXPECT_EQ(Index(), "000004" + Record(2, "mesg00000002.msg", 0) + Record(3, "mesg00000003.msg", 0x08) +
                           Record(4, "mesg00000004.msg", 0));

    // A record nobody has any more is written at the end; a delete of it then clears that.
    MAILINFO* gone = a.GetMailInfo(1);
    gone->seen = true;
    ASSERT_TRUE(a.SaveUpdateMailInfo(gone));
    EXPECT_EQ(Index().substr(6 + 3 * 23), Record(1, "mesg00000001.msg", 0x20));
    ASSERT_TRUE(a.SaveDeleteMailInfo(gone));
    EXPECT_EQ(Index().substr(6 + 3 * 23), std::string(23, '0'));
    EXPECT_FALSE(a.SaveDeleteMailInfo(gone));  // not there any more
}

TEST_F(MailStoreTest, FindMailInfoPositionsAtTheRecord)
{
    CIMAPMail mail(rootText.c_str());
    mail.FolderMailInit("INBOX");
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Deliver(mail, "INBOX"), 1);
    FILE* f = std::fopen((root / "INBOX" / "mail.qlt").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(mail.FindMailInfo(f, 2));
    EXPECT_EQ(std::ftell(f), 6 + 23);
    EXPECT_TRUE(mail.FindMailInfo(f, 3));
    EXPECT_EQ(std::ftell(f), 6 + 46);
    EXPECT_FALSE(mail.FindMailInfo(f, 7));
    std::fclose(f);
}

TEST_F(MailStoreTest, CounterFileHelpers)
{
    CIMAPMail mail(rootText.c_str());
    std::string path = (root / "Spam" / "mail.qlt").string();
    EXPECT_EQ(mail.LoadFID(path.c_str()), 0);
    ASSERT_TRUE(mail.SaveFID(path.c_str(), 42));
    EXPECT_EQ(ReadFile(path), "000042");
    EXPECT_EQ(mail.LoadFID(path.c_str()), 42);
    WriteFile(path, "0001");  // shorter than the header
    EXPECT_EQ(mail.LoadFID(path.c_str()), 0);

    mail.FolderMailInit("Spam");  // a header-less index is recreated
    EXPECT_EQ(Index("Spam"), "000000");
    EXPECT_EQ(mail.IncFID(), 1);
    EXPECT_EQ(mail.IncFID(), 2);
    EXPECT_EQ(Index("Spam"), "000002");

    // Six digits hold no more UIDs past 999999: none is handed out, nothing is corrupted.
    ASSERT_TRUE(mail.SaveFID(path.c_str(), 999999));
    EXPECT_EQ(mail.IncFID(), 0);
    EXPECT_EQ(Index("Spam"), "999999");
}

TEST_F(MailStoreTest, CountsAndUnseen)
{
    CIMAPMail mail(rootText.c_str());
    mail.FolderMailInit("INBOX");
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Deliver(mail, "INBOX", false, i == 0, true), 1);
    int first = -7;
    EXPECT_EQ(mail.GetUnseenCount(first), 0);
    EXPECT_EQ(first, -7);
    EXPECT_EQ(mail.GetRecentCount(), 1);
    EXPECT_EQ(mail.GetMessageCount(), 3);

    mail.GetMailInfo(2)->seen = false;
    mail.GetMailInfo(3)->seen = false;
    EXPECT_EQ(mail.GetUnseenCount(first), 2);
    EXPECT_EQ(first, 2);
}

TEST_F(MailStoreTest, HeaderExtraction)
{
    CIMAPMail mail(rootText.c_str());
    mail.FolderMailInit("INBOX");
    const fs::path dir = root / "INBOX";

    WriteFile(dir / "mesg00000001.msg", "Subject: no blank line\r\nX: y\r\n");
    // The blank line straddles the first two 100-byte reads.
    std::string longHeader = "Subject: " + std::string(87, 'a') + "\r\n";
    ASSERT_EQ(longHeader.size(), 98u);
    WriteFile(dir / "mesg00000002.msg", longHeader + "\r\nbody\r\n\r\nmore\r\n");
    WriteFile(dir / "mesg00000003.msg", "");
    WriteFile(dir / "mesg00000004.msg", "A: b\r\n\r\r\n\r\nbody");

    char* h = mail.LoadMailHeader("mesg00000001.msg");
    ASSERT_NE(h, nullptr);
    EXPECT_STREQ(h, "Subject: no blank line\r\nX: y\r\n");
    std::free(h);

    h = mail.LoadMailHeader("mesg00000002.msg");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(std::string(h), longHeader + "\r\n");
    std::free(h);

    h = mail.LoadMailHeader("mesg00000003.msg");
    ASSERT_NE(h, nullptr);
    EXPECT_STREQ(h, "");
    std::free(h);

    h = mail.LoadMailHeader("mesg00000004.msg");
    ASSERT_NE(h, nullptr);
    EXPECT_STREQ(h, "A: b\r\n\r\r\n\r\n");
    std::free(h);

    EXPECT_EQ(mail.LoadMailHeader("mesg00000099.msg"), nullptr);
    EXPECT_EQ(mail.GetFileSize("mesg00000002.msg"), longHeader.size() + 2 + 14);
    EXPECT_EQ(mail.GetFileSize("mesg00000099.msg"), 0u);
    time_t when = 0;
    EXPECT_EQ(mail.GetFileDate("mesg00000001.msg", when), 1);
    EXPECT_LE(std::abs(static_cast<long>(when - time(nullptr))), 60L);
    EXPECT_EQ(mail.GetFileDate("mesg00000099.msg", when), 0);
}

TEST_F(MailStoreTest, DeliveryFailuresLeaveTheMessageWhereItWas)
{
    CIMAPMail mail(rootText.c_str());
    mail.FolderMailInit("Missing");
    std::string temp = MakeTemp(kMessage);
    EXPECT_EQ(mail.AddTempMailMesg("Missing", temp.c_str(), false, false, false, false, false, true, "", ""), 0);
    EXPECT_TRUE(fs::exists(temp));
    EXPECT_FALSE(fs::exists(root / "Missing"));
    EXPECT_EQ(mail.Size(), 0);

    mail.FolderMailInit("INBOX");
    EXPECT_EQ(
        mail.AddTempMailMesg("INBOX", (base / "nothing").c_str(), false, false, false, false, false, true, "", ""), 0);
    EXPECT_EQ(mail.Size(), 0);
    EXPECT_EQ(Index(), "000000");

    // The disk takes the message file but not its record (here: no file may grow): the message
    // goes back to the caller, and the store holds nothing half-delivered.
    ASSERT_EQ(Deliver(mail, "INBOX"), 1);
    const std::string before = Index();
    temp = MakeTemp(kMessage);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit cap = old;
    cap.rlim_cur = before.size();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &cap), 0);
    int result = mail.AddTempMailMesg("INBOX", temp.c_str(), false, false, false, false, false, true, "", "");
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadFile(temp), kMessage);
    EXPECT_EQ(Index().substr(6), before.substr(6));  // the counter may have moved on, no record did
    EXPECT_EQ(mail.Size(), 1);
    std::vector<std::string> files;
    mail.GetMailFileList((root / "INBOX").c_str(), files);
    EXPECT_EQ(files, std::vector<std::string>{"mesg00000001.msg"});
}

TEST_F(MailStoreTest, DeliveryIntoAnotherFolderThanTheCurrentOneUsesThatFoldersIndex)
{
    CIMAPMail mail(rootText.c_str());
    mail.FolderMailInit("INBOX");
    ASSERT_EQ(Deliver(mail, "INBOX"), 1);
    ASSERT_EQ(Deliver(mail, "Spam"), 1);
    EXPECT_EQ(Index(), "000001" + Record(1, "mesg00000001.msg", 0));
    EXPECT_EQ(Index("Spam"), "000001" + Record(1, "mesg00000001.msg", 0));
    EXPECT_STREQ(mail.GetFolderName(), "Spam");
}

TEST_F(MailStoreTest, TraversalNamesAreRefusedAndNothingOutsideTheRootIsTouched)
{
    fs::create_directory(base / "outside");
    WriteFile(base / "outside" / "mesg00000001.msg", kMessage);
    WriteFile(root / "INBOX" / "mesg00000001.msg", kMessage);

    CIMAPMail mail(rootText.c_str());
    for (const char* bad : {"..", "../outside", "INBOX/../../outside", "/tmp", "INBOX\\..", "INBOX//x", ""}) {
        SCOPED_TRACE(bad);
        mail.FolderMailInit(bad);
        EXPECT_EQ(mail.Size(), 0);
        std::string temp = MakeTemp(kMessage);
        EXPECT_EQ(mail.AddTempMailMesg(bad, temp.c_str(), false, false, false, false, false, true, "", ""), 0);
        EXPECT_TRUE(fs::exists(temp));
        EXPECT_EQ(mail.IncFID(), 0);
    }
    EXPECT_FALSE(fs::exists(base / "outside" / "mail.qlt"));
    EXPECT_FALSE(fs::exists(base / "mail.qlt"));
    EXPECT_FALSE(fs::exists(root / "mail.qlt"));

    mail.FolderMailInit("INBOX");
    ASSERT_EQ(mail.Size(), 1);
    EXPECT_EQ(mail.CopyMailFile(1, "../outside"), 0);
    EXPECT_EQ(mail.CopyMailFile(1, ".."), 0);
    EXPECT_EQ(mail.CopyMailFile(1, ""), 0);
    EXPECT_FALSE(fs::exists(base / "outside" / "mesg00000002.msg"));
    EXPECT_FALSE(fs::exists(root / "mesg00000001.msg"));

    // Message file names never leave the folder either.
    EXPECT_EQ(mail.OpenMailFile("../../outside/mesg00000001.msg"), nullptr);
    EXPECT_EQ(mail.LoadMailHeader(".."), nullptr);
    EXPECT_EQ(mail.GetFileSize("../INBOX/mesg00000001.msg"), 0u);
    FILE* f = mail.OpenMailFile("mesg00000001.msg");
    ASSERT_NE(f, nullptr);
    mail.CloseMailFile(f);
}

TEST_F(MailStoreTest, MessageFileListAndNextName)
{
    CIMAPMail mail(rootText.c_str());
    const fs::path dir = root / "INBOX";
    char name[20];
    ASSERT_TRUE(mail.GetMailFileName(dir.c_str(), name));
    EXPECT_STREQ(name, "mesg00000001.msg");
    WriteFile(dir / "mesg00000007.msg", "");
    WriteFile(dir / "Mesg00000003.msg", "");
    WriteFile(dir / "mesg0000007.msg", "");  // 15 characters: not a message file
    fs::create_directory(dir / "mesg00000009.msg");
    std::vector<std::string> files;
    ASSERT_TRUE(mail.GetMailFileList(dir.c_str(), files));
    EXPECT_EQ(files, (std::vector<std::string>{"Mesg00000003.msg", "mesg00000007.msg"}));
    ASSERT_TRUE(mail.GetMailFileName(dir.c_str(), name));
    EXPECT_STREQ(name, "mesg00000008.msg");
    EXPECT_FALSE(mail.GetMailFileList((root / "Missing").c_str(), files));
}

TEST_F(MailStoreTest, RemoveMailInfoIgnoresCaseAndRenumbers)
{
    CIMAPMail mail(rootText.c_str());
    mail.FolderMailInit("INBOX");
    MailInfoList list;
    for (const char* n : {"mesg00000001.msg", "mesg00000002.msg", "mesg00000003.msg"})
        ASSERT_NE(mail.InsertMailInfo(list, n, false, false, false, false, false, true), nullptr);
    EXPECT_EQ(list[2]->uid, 3);
    EXPECT_EQ(list[2]->seq, 3);
    EXPECT_EQ(Index(), "000003");  // the counter moves, no record is written
    mail.RemoveMailInfo(list, "MESG00000001.MSG");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_STREQ(list[0]->name, "mesg00000002.msg");
    EXPECT_EQ(list[0]->seq, 1);
    EXPECT_EQ(list[1]->seq, 2);
    mail.RemoveMailInfo(list, "mesg00000009.msg");
    EXPECT_EQ(list.size(), 2u);
}

}  // namespace

// Clients cache messages by UID as long as the UID validity stays; it must hold while UIDs
// hold (rescans that adopt, drop or rewrite records) and change whenever they start over.
TEST_F(MailStoreTest, UidValidityHoldsAcrossRescansAndChangesWhenUidsStartOver)
{
    CIMAPMail mail(rootText.c_str());
    mail.FolderMailInit("INBOX");
    EXPECT_EQ(mail.GetUidNext(), 1);
    ASSERT_EQ(Deliver(mail, "INBOX"), 1);
    ASSERT_EQ(Deliver(mail, "INBOX"), 1);
    EXPECT_EQ(mail.GetUidNext(), 3);
    const unsigned long validity = mail.GetUidValidity();
    EXPECT_GE(validity, 1u);
    EXPECT_LE(validity, 0xFFFFFFFFul);
    struct stat before {};
    ASSERT_EQ(stat((root / "INBOX" / "mail.qlt").c_str(), &before), 0);

    // A rescan that adopts a file, one that drops an entry, a deleted slot, a flag change.
    WriteFile(root / "INBOX" / "mesg00000007.msg", kMessage);
    mail.FolderMailInit("INBOX");
    EXPECT_EQ(mail.GetUidNext(), 4);
    fs::remove(root / "INBOX" / "mesg00000001.msg");
    mail.FolderMailInit("INBOX");
    ASSERT_EQ(mail.Size(), 2);
    MAILINFO* m = mail.GetMailInfo(1);
    m->seen = true;
    ASSERT_TRUE(mail.SaveUpdateMailInfo(m));
    ASSERT_EQ(mail.DeleteMailFile(2), 1);
    mail.FolderMailInit("INBOX");
    EXPECT_EQ(Index(), "000003" + Record(2, "mesg00000002.msg", 0x20));
    CIMAPMail other(rootText.c_str());
    other.FolderMailInit("INBOX");
    EXPECT_EQ(other.GetUidValidity(), validity);
    EXPECT_EQ(mail.GetUidValidity(), validity);
    EXPECT_EQ(other.GetUidNext(), 4);
    struct stat after {};
    ASSERT_EQ(stat((root / "INBOX" / "mail.qlt").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);  // rewritten in place, never replaced
    EXPECT_FALSE(fs::exists(root / "INBOX" / "mail.qlt.new"));
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "INBOX"), fs::directory_iterator()), 2);

    // The index is lost: UIDs start from 1 again, under another validity. Birth times count
    // in seconds, so the new index is made in a later second.
    sleep(1);
    fs::remove(root / "INBOX" / "mail.qlt");
    mail.FolderMailInit("INBOX");
    EXPECT_EQ(mail.GetMailInfo(1)->uid, 1);
    const unsigned long renewed = mail.GetUidValidity();
    EXPECT_NE(renewed, validity);
    EXPECT_EQ(mail.GetUidNext(), 2);

    // A header cut short restarts the UIDs as well, and so changes the validity too.
    sleep(1);
    WriteFile(root / "INBOX" / "mail.qlt", "0000");
    mail.FolderMailInit("INBOX");
    EXPECT_EQ(Index(), "000001" + Record(1, "mesg00000002.msg", 0x01));
    EXPECT_NE(mail.GetUidValidity(), renewed);
    EXPECT_NE(mail.GetUidValidity(), validity);

    // A folder that does not exist still answers a usable value.
    CIMAPMail none(rootText.c_str());
    none.FolderMailInit("Missing");
    EXPECT_EQ(none.GetUidValidity(), 1u);
    EXPECT_EQ(none.GetUidNext(), 1);
}

TEST_F(MailStoreTest, RescanThatGrowsTheIndexKeepsEveryRecord)
{
    CIMAPMail mail(rootText.c_str());
    mail.FolderMailInit("Spam");
    ASSERT_EQ(Deliver(mail, "Spam", true, true), 1);
    for (int i = 2; i <= 40; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "mesg%08d.msg", i);
        WriteFile(root / "Spam" / name, kMessage);
    }
    const unsigned long validity = mail.GetUidValidity();
    mail.FolderMailInit("Spam");
    ASSERT_EQ(mail.Size(), 40);
    std::string index = Index("Spam");
    ASSERT_EQ(index.size(), 6u + 23u * 40u);
    EXPECT_EQ(index.substr(0, 6 + 23), "000040" + Record(1, "mesg00000001.msg", 0x09));
    EXPECT_EQ(index.substr(6 + 23 * 39), Record(40, "mesg00000040.msg", 0x01));
    EXPECT_EQ(mail.GetUidValidity(), validity);
}

// Deliveries bound without a rescan remember the folder's largest file number; a file put in
// behind their back (in the same clock tick, so the folder's time may not show it) is never
// overwritten, and the next rescan lists every message once.
TEST_F(MailStoreTest, DeliveriesWithoutRescanNeverReplaceAFileAddedMeanwhile)
{
    CIMAPMail spam(rootText.c_str());
    spam.BindFolder("Spam");
    EXPECT_EQ(spam.Size(), 0);
    ASSERT_EQ(Deliver(spam, "Spam", true, true), 1);
    ASSERT_EQ(Deliver(spam, "Spam", true, true), 1);
    WriteFile(root / "Spam" / "mesg00000003.msg", "foreign");
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Deliver(spam, "Spam", true, true), 1);
    EXPECT_EQ(ReadFile(root / "Spam" / "mesg00000003.msg"), "foreign");

    CIMAPMail reader(rootText.c_str());
    reader.FolderMailInit("Spam");
    ASSERT_EQ(reader.Size(), 6);
    std::set<std::string> names;
    int adopted = 0;
    for (int seq = 1; seq <= reader.Size(); ++seq) {
        MAILINFO* m = reader.GetMailInfo(seq);
        names.insert(m->name);
        EXPECT_EQ(m->uid, seq);
        if (std::strcmp(m->name, "mesg00000003.msg") == 0) {
            ++adopted;
            EXPECT_FALSE(m->flagged);  // the stranger is adopted, the deliveries keep their flags
        } else {
            EXPECT_TRUE(m->flagged && m->recent);
        }
    }
    EXPECT_EQ(names.size(), 6u);
    EXPECT_EQ(adopted, 1);

    // A file deleted by hand frees nothing the cache would hand out twice.
    fs::remove(root / "Spam" / "mesg00000006.msg");
    ASSERT_EQ(Deliver(spam, "Spam"), 1);
    reader.FolderMailInit("Spam");
    EXPECT_EQ(reader.Size(), 6);
}
