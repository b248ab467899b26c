// The account store's walk over the mail client's accounts, as the restore of the main
// program and of the uninstaller use it: what cannot be read is skipped and the rest is done.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "components/accountkeys/account_keys.h"
#include "tests/accountkeys/account_store_fixture.h"

namespace {

using account_store_test::AccountStoreTest;
using account_store_test::Snapshot;

TEST_F(AccountStoreTest, WhatCannotBeReadIsSkippedAndTheRestRestored)
{
    // A subkey whose name does not fit the 100-byte enumeration buffer, sorted first.
    const std::string longName = "00000000" + std::string(140, 'x');
    Linked(longName, "far", "pop.far", 110);
    Linked("00000001", "kim", "mailhost", 995);
    // A marker that is no text does not make a spam-box account.
    Number("00000002", "ORVANTA ACCOUNT", 1);
    Text("00000002", "POP3 USER Name", "lee");
    // User names the account list cannot hold or read: no POP3 account, backups untouched.
    Linked("00000003", std::string(120, 'u'), "pop.long", 110);
    Linked("00000004", "num", "pop.num", 110);
    Number("00000004", "POP3 USER Name", 7);
    // A backup too long to put back: kept with the others, and reported.
    Linked("00000005", "park", "pop.park", 110);
    Text("00000005", "POP3 BACKUP", std::string(150, 'p'));
    SpamBox("00002002");
    Snapshot before = Take();

    std::vector<std::pair<std::string, std::string>> reported;
    accountkeys::RestoreCounts counts = accountkeys::RestoreMailClient(
        [&](const std::string& name, const std::string& why) { reported.emplace_back(name, why); });

    EXPECT_EQ(counts.spamBoxesDeleted, 1);
    EXPECT_FALSE(KeyExists("00002002"));
    EXPECT_EQ(Get("00000001", "POP3 USER NAME"), "kim");
    EXPECT_EQ(Get("00000001", "POP3 SERVER"), "mailhost");
    EXPECT_EQ(Get("00000001", "POP3 Port"), "#995");
    EXPECT_EQ(Get("00000001", "POP3 BACKUP"), "");
    // 00000001 and the never-linked 00000002; 00000005 was left as it was.
    EXPECT_EQ(counts.accountsRestored, 2);

    Snapshot after = Take();
    for (const std::string& key : {longName, std::string("00000002"), std::string("00000003"), std::string("00000004"),
                                   std::string("00000005")}) {
        SCOPED_TRACE(key.substr(0, 12));
        for (const auto& [name, value] : before)
            if (name.rfind(key + "\\", 0) == 0) {
                EXPECT_EQ(after[name], value) << name;
            }
    }
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0].first, "00000005");
    EXPECT_NE(reported[0].second.find("POP3 BACKUP"), std::string::npos) << reported[0].second;
}

}  // namespace
