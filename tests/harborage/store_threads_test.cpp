// Several threads, each with its own CIMAPMail as the IMAP sessions and the main program
// have, deliver into one folder, rescan it and rewrite flags at the same time.
#include "harborage/harborage.h"

#include <atomic>
#include <cstring>
#include <map>
#include <set>
#include <thread>

#include "tests/harborage/store_fixture.h"

namespace {

class StoreThreadsTest : public StoreTest {};

TEST_F(StoreThreadsTest, ConcurrentDeliveriesRescansAndFlagUpdatesKeepOneConsistentIndex)
{
    fs::create_directory(root / "INBOX");
    constexpr int kWriters = 4;
    constexpr int kPerWriter = 40;
    std::atomic<int> failures{0};
    std::atomic<bool> writing{true};

    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w) {
        threads.emplace_back([&, w] {
            CIMAPMail mail(rootText.c_str());
            mail.FolderMailInit("INBOX");
            for (int i = 0; i < kPerWriter; ++i) {
                std::string body = "Subject: " + std::to_string(w) + "/" + std::to_string(i) + "\r\n\r\nx\r\n";
                fs::path temp = base / ("temp-" + std::to_string(w) + "-" + std::to_string(i));
                WriteFile(temp, body);
                if (mail.AddTempMailMesg("INBOX", temp.c_str(), false, false, i % 2 == 0, false, false, true, "", "") !=
                    1)
                    ++failures;
                if (i % 7 == 0)
                    mail.FolderMailInit("INBOX");
            }
        });
    }
    // A session that keeps rescanning and storing flags on what it sees.
    threads.emplace_back([&] {
        CIMAPMail mail(rootText.c_str());
        for (int round = 0; writing && round < 10000; ++round) {
            mail.FolderMailInit("INBOX");
            for (int seq = 1; seq <= mail.Size(); seq += 3) {
                MAILINFO* m = mail.GetMailInfo(seq);
                m->seen = true;
                m->recent = false;
                mail.SaveUpdateMailInfo(m);
            }
        }
    });
    for (int w = 0; w < kWriters; ++w)
        threads[w].join();
    writing = false;
    threads.back().join();
    ASSERT_EQ(failures.load(), 0);

    CIMAPMail check(rootText.c_str());
    check.FolderMailInit("INBOX");
    const int total = kWriters * kPerWriter;
    ASSERT_EQ(check.Size(), total);

    std::set<int> uids;
    std::set<std::string> names, subjects;
    for (int seq = 1; seq <= total; ++seq) {
        MAILINFO* m = check.GetMailInfo(seq);
        ASSERT_EQ(m->seq, seq);
        EXPECT_TRUE(uids.insert(m->uid).second) << "UID listed twice: " << m->uid;
        EXPECT_TRUE(names.insert(m->name).second) << "file listed twice: " << m->name;
        char* header = check.LoadMailHeader(m->name);
        ASSERT_NE(header, nullptr);
        subjects.insert(header);
        std::free(header);
    }
    EXPECT_EQ(subjects.size(), static_cast<size_t>(total));  // every message exactly once
    EXPECT_EQ(*uids.begin(), 1);
    EXPECT_EQ(*uids.rbegin(), total);  // no UID was handed out twice or skipped
    // Every file of the folder is listed, none was adopted afresh.
    std::vector<std::string> files;
    ASSERT_TRUE(check.GetMailFileList((root / "INBOX").c_str(), files));
    EXPECT_EQ(files.size(), static_cast<size_t>(total));

    std::string index = ReadFile(root / "INBOX" / "mail.qlt");
    ASSERT_EQ(index.size(), 6u + 23u * total);
    EXPECT_EQ(index.substr(0, 6), "000160");
    for (int k = 0; k < total; ++k) {
        std::string rec = index.substr(6 + 23 * k, 23);
        EXPECT_EQ(std::stoi(rec.substr(0, 6)), check.GetMailInfo(k + 1)->uid);
        EXPECT_EQ(rec.substr(6, 16), check.GetMailInfo(k + 1)->name);
        EXPECT_EQ(static_cast<unsigned char>(rec[22]) & 0xC0, 0);
    }
    // Flags written by the writers survive: every even message of a writer was \Flagged.
    int flagged = 0;
    for (int seq = 1; seq <= total; ++seq)
        flagged += check.GetMailInfo(seq)->flagged ? 1 : 0;
    EXPECT_EQ(flagged, total / 2);
}

}  // namespace
