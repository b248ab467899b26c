// The filter checks under each switch, the store folder choice, the spam delivery and the
// spam-box feedback, on real filter sets and a real store in a temporary directory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "harborage/harborage.h"
#include "orvanta/core/settings.h"
#include "orvanta/pipeline/filter_checks.h"
#include "orvanta/pipeline/filter_sets.h"
#include "orvanta/pipeline/folder_choice.h"
#include "orvanta/pipeline/feedback.h"
#include "orvanta/pipeline/spam_delivery.h"
#include "parsewick/parsewick.h"
#include "pipeline_test_support.h"
#include "recording_front_end.h"
#include "platform/codepage.h"
#include "sievelet/sievelet.h"

namespace pl = orvanta::pipeline;
using orvanta::IntSetting;
using orvanta::SetSetting;
using pipeline_test::ReadBytes;
using pipeline_test::TempDir;

namespace {

CMailHeader HeaderOf(const std::string& text)
{
    CMailHeader header;
    CMailParser::CheckHeader(nullptr, text.c_str(), 0, static_cast<int>(text.size()), header);
    return header;
}

const std::string kHeader =
    "From: Seller <seller@spam.example>\r\nTo: me@example.net\r\nSubject: cheap watches\r\n\r\n";

void AddRule(CSpamFilter& set, unsigned char property, const char* word, const char* folder, int action = 0)
{
    set.AddSpamFilter(false, SPAM_LEVEL_LOW, property, 0, 0, word, folder, "test", action);
}

class PipelineFilters : public ::testing::Test {
protected:
    void SetUp() override { orvanta::ResetSettings(); }
    void TearDown() override { orvanta::ResetSettings(); }
    TempDir dir;
};

}  // namespace

TEST_F(PipelineFilters, HeaderCheckUsesEachSetUnderItsOwnSwitch)
{
    pl::FilterSets sets(dir.Dir());
    AddRule(*sets.priv, SPAM_PROPERTY_SUBJECT, "watches", "Junk");
    AddRule(*sets.online, SPAM_PROPERTY_SUBJECT, "cheap", "Ignored");
    CMailHeader header = HeaderOf(kHeader);

    pl::ExamineSettings s;
    {
        pl::Verdict v;
        pl::FilterChecks(sets, s).Header(header, v);
        EXPECT_TRUE(v.spam);
        EXPECT_STREQ(v.folder, "Junk");  // the private rule's own folder
    }
    s.usePrivate = false;
    {
        pl::Verdict v;
        pl::FilterChecks(sets, s).Header(header, v);
        EXPECT_TRUE(v.spam);
        EXPECT_STREQ(v.folder, "INBOX");  // an online hit always goes to the inbox
    }
    s.useOnline = false;
    {
        pl::Verdict v;
        pl::FilterChecks(sets, s).Header(header, v);
        EXPECT_FALSE(v.decided);
    }
}

TEST_F(PipelineFilters, PassListWinsOverABlockRule)
{
    pl::FilterSets sets(dir.Dir());
    AddRule(*sets.priv, SPAM_PROPERTY_SUBJECT, "watches", "Junk");
    sets.pass->AddPassFilter("spam.example", "friend");
    CMailHeader header = HeaderOf(kHeader);
    pl::ExamineSettings s;
    pl::Verdict v;
    pl::FilterChecks(sets, s).Header(header, v);
    EXPECT_TRUE(v.decided);
    EXPECT_FALSE(v.spam);

    s.usePass = false;
    pl::Verdict w;
    pl::FilterChecks(sets, s).Header(header, w);
    EXPECT_TRUE(w.spam);
}

TEST_F(PipelineFilters, BodyCheckGuardsEachSetWithItsOwnSwitch)
{
    pl::FilterSets sets(dir.Dir());
    AddRule(*sets.priv, SPAM_PROPERTY_CONTENT, "viagra", "Junk");
    pl::ExamineSettings s;
    s.usePrivate = false;  // private rules must not catch mail now
    s.useOnline = true;
    {
        pl::Verdict v;
        std::string text = "Buy VIAGRA now";
        pl::FilterChecks(sets, s).Body(text, v);
        EXPECT_FALSE(v.decided);
    }
    s.usePrivate = true;
    {
        pl::Verdict v;
        std::string text = "Buy VIAGRA now";
        pl::FilterChecks(sets, s).Body(text, v);
        EXPECT_TRUE(v.spam);
        EXPECT_STREQ(v.folder, "Junk");
        EXPECT_EQ(text, "buy viagra now");  // folded to small letters before matching
    }
    // An online content rule with the online switch off does not hit either.
    AddRule(*sets.online, SPAM_PROPERTY_CONTENT, "casino", "x");
    s.filterContent = true;
    s.useOnline = false;
    {
        pl::Verdict v;
        std::string text = "online casino";
        pl::FilterChecks(sets, s).Body(text, v);
        EXPECT_FALSE(v.decided);
    }
    s.useOnline = true;
    {
        pl::Verdict v;
        std::string text = "online casino";
        pl::FilterChecks(sets, s).Body(text, v);
        EXPECT_TRUE(v.spam);
        EXPECT_STREQ(v.folder, "INBOX");
    }
}

TEST_F(PipelineFilters, FileNameCheckNeedsItsSwitch)
{
    pl::FilterSets sets(dir.Dir());
    AddRule(*sets.priv, SPAM_PROPERTY_FILENAME, "Prize.EXE", "Worms");
    pl::ExamineSettings s;
    pl::Verdict v;
    pl::FilterChecks(sets, s).FileName("prize.exe", v);
    EXPECT_TRUE(v.spam);
    EXPECT_STREQ(v.folder, "Worms");

    s.filterFileName = false;
    pl::Verdict w;
    pl::FilterChecks(sets, s).FileName("prize.exe", w);
    EXPECT_FALSE(w.decided);
    pl::Verdict n;
    pl::FilterChecks(sets, pl::ExamineSettings()).FileName(nullptr, n);
    EXPECT_FALSE(n.decided);
}

TEST_F(PipelineFilters, WormDetectorRunsAtLevelTwoOnly)
{
    pl::FilterSets sets(dir.Dir());
    std::vector<CMailHeader> headers{
        HeaderOf("From: x@y.example\r\nTo: me@example.net\r\nSubject: A funny game for you\r\n\r\n")};
    pl::ExamineSettings s;
    s.filterPriority = 2;
    pl::Verdict v;
    pl::FilterChecks(sets, s).Program(headers.data(), 1, v);
    EXPECT_TRUE(v.spam);
    EXPECT_EQ(v.action, 1);
    EXPECT_STREQ(v.folder, "INBOX");
    EXPECT_STREQ(v.rule.description, "Win32/Klez.worm.H Virus");
    s.filterPriority = 1;
    pl::Verdict w;
    pl::FilterChecks(sets, s).Program(headers.data(), 1, w);
    EXPECT_FALSE(w.decided);
}

TEST_F(PipelineFilters, InboxNameMapping)
{
    const std::string inbox = platform::Utf8ToCp949("받은 편지함");
    ASSERT_EQ(inbox.size(), 11u);
    EXPECT_EQ(pl::MapInboxName(inbox), "INBOX");
    EXPECT_EQ(pl::MapInboxName(inbox + "/Ads"), "INBOX/Ads");
    EXPECT_EQ(pl::MapInboxName("/" + inbox + "/Ads"), "/INBOX/Ads");
    EXPECT_EQ(pl::MapInboxName(inbox.substr(0, 10)), inbox.substr(0, 10));
    EXPECT_EQ(pl::MapInboxName("Junk"), "Junk");
    EXPECT_EQ(pl::ShowInboxName("INBOX/Ads"), inbox + "/Ads");
    EXPECT_EQ(pl::ShowInboxName("/INBOX"), "/" + inbox);
    EXPECT_EQ(pl::ShowInboxName("Junk/INBOX"), "Junk/INBOX");
}

TEST_F(PipelineFilters, StoreFolderChoice)
{
    CIMAPFolder store(dir.Dir().c_str());
    ASSERT_TRUE(store.CreateFolder("INBOX", 1, 0));
    ASSERT_TRUE(store.CreateFolder("INBOX/Ads", 1, 0));
    const std::string korean = platform::Utf8ToCp949("광고");
    std::string encoded = CIMAPFolder::EncodeFolderName(korean);
    ASSERT_TRUE(store.CreateFolder(encoded.c_str(), 1, 0));

    EXPECT_EQ(pl::ChooseStoreFolder(dir.Dir(), platform::Utf8ToCp949("받은 편지함") + "/Ads"), "INBOX/Ads");
    EXPECT_EQ(pl::ChooseStoreFolder(dir.Dir(), "/" + platform::Utf8ToCp949("받은 편지함") + "/Ads"), "INBOX/Ads");
    EXPECT_EQ(pl::ChooseStoreFolder(dir.Dir(), korean), encoded);
    EXPECT_EQ(pl::ChooseStoreFolder(dir.Dir(), "NoSuchFolder"), "INBOX");
    EXPECT_EQ(pl::ChooseStoreFolder(dir.Dir(), ""), "INBOX");
    EXPECT_EQ(pl::ChooseStoreFolder(dir.Dir(), "../outside"), "INBOX");
}

TEST_F(PipelineFilters, DeliveredSpamIsFlaggedAndRecent)
{
    CIMAPFolder store(dir.Dir().c_str());
    ASSERT_TRUE(store.CreateFolder("INBOX", 1, 0));
    std::string temp = dir.File("temp.mail");
    std::ofstream(temp, std::ios::binary) << "Subject: s\r\n\r\nbody\r\n";
    pl::Verdict v;
    v.spam = v.decided = true;
    EXPECT_EQ(pl::DeliverSpam(v, pl::ExamineSettings(), {}, dir.Dir(), "INBOX", temp, true), pl::Delivery::Stored);

    CIMAPMail mail(dir.Dir().c_str());
    mail.FolderMailInit("INBOX");
    ASSERT_EQ(mail.GetMessageCount(), 1);
    MAILINFO* info = mail.GetMailInfo(1);
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->flagged);
    EXPECT_TRUE(info->recent);
    EXPECT_FALSE(info->seen);
    char path[300] = {};
    ASSERT_TRUE(store.MakeAbsolutePath("INBOX", path, sizeof path));
    EXPECT_EQ(ReadBytes(std::string(path) + "/" + info->name), "Subject: s\r\n\r\nbody\r\n");
}

TEST_F(PipelineFilters, DeliveryFailuresKeepTheServerCopy)
{
    CIMAPFolder store(dir.Dir().c_str());
    ASSERT_TRUE(store.CreateFolder("INBOX", 1, 0));
    std::string temp = dir.File("temp.mail");
    pl::Verdict v;
    v.spam = v.decided = true;
    // A folder that takes no more messages: its file numbers are used up.
    char path[300] = {};
    ASSERT_TRUE(store.MakeAbsolutePath("INBOX", path, sizeof path));
    std::ofstream(std::string(path) + "/mesg99999999.msg") << "x";
    std::ofstream(temp, std::ios::binary) << "Subject: s\r\n\r\nbody\r\n";
    EXPECT_EQ(pl::DeliverSpam(v, pl::ExamineSettings(), {}, dir.Dir(), "INBOX", temp, true), pl::Delivery::StoreFailed);
    EXPECT_TRUE(std::filesystem::exists(temp));
    // A temporary file that was not written whole is not stored.
    std::filesystem::remove(std::string(path) + "/mesg99999999.msg");
    EXPECT_EQ(pl::DeliverSpam(v, pl::ExamineSettings(), {}, dir.Dir(), "INBOX", temp, false),
              pl::Delivery::StoreFailed);
    // Deleting at once keeps nothing, deliberately: the rule's action or "Del_Term" 1.
    v.action = 1;
    EXPECT_EQ(pl::DeliverSpam(v, pl::ExamineSettings(), {}, dir.Dir(), "INBOX", temp, true), pl::Delivery::NothingKept);
    v.action = 0;
    pl::ExamineSettings s;
    s.delTerm = 1;
    EXPECT_EQ(pl::DeliverSpam(v, s, {}, dir.Dir(), "INBOX", temp, true), pl::Delivery::NothingKept);
    CIMAPMail mail(dir.Dir().c_str());
    mail.FolderMailInit("INBOX");
    EXPECT_EQ(mail.GetMessageCount(), 0);
}

class PipelineFeedback : public PipelineFilters {
protected:
    void SetUp() override
    {
        PipelineFilters::SetUp();
        setenv("ORVANTA_REGISTRY", dir.File("registry.db").c_str(), 1);
        sets = std::make_unique<pl::FilterSets>(dir.Dir());
        feedback = std::make_unique<pl::SpamBoxFeedback>(*sets, frontEnd);
    }
    platform::LRESULT Notify(const char* command, const char* mailbox, const char* from)
    {
        IMAPMESG m{command, mailbox, "notuse", from};
        return feedback->OnImapMessage(reinterpret_cast<platform::WPARAM>(&m));
    }

    RecordingFrontEnd frontEnd;
    std::unique_ptr<pl::FilterSets> sets;
    std::unique_ptr<pl::SpamBoxFeedback> feedback;
};

TEST_F(PipelineFeedback, AppendAddsASenderRuleByAutoSpam)
{
    CSpamFilter& priv = *sets->priv;
    SetSetting(IntSetting::AutoSpam, 2);
    Notify("APPEND", "Junk", "bad@spam.example");
    EXPECT_EQ(priv.GetSize(), 0);
    SetSetting(IntSetting::AutoSpam, 0);  // headless: an unanswered prompt
    Notify("APPEND", "Junk", "bad@spam.example");
    EXPECT_EQ(priv.GetSize(), 0);
    EXPECT_EQ(orvanta::GetSetting(IntSetting::AutoSpam), 0);

    SetSetting(IntSetting::AutoSpam, 1);
    // The mailbox arrives in the store's encoding; the rule keeps it decoded.
    const std::string korean = platform::Utf8ToCp949("광고");
    Notify("APPEND", CIMAPFolder::EncodeFolderName(korean).c_str(), "bad@spam.example");
    ASSERT_EQ(priv.GetSize(), 1);
    SPAM_FILTER* rule = priv.GetSpamFilter(0);
    EXPECT_EQ(rule->property, SPAM_PROPERTY_SENDER);
    EXPECT_STREQ(rule->word, "bad@spam.example");
    EXPECT_EQ(std::string(rule->folder), korean);
    EXPECT_EQ(std::string(rule->description), platform::Utf8ToCp949("MUA에서추가"));
    EXPECT_EQ(rule->action, 0);

    Notify("append", "Other", "BAD@Spam.Example");  // the same word, other case: no second rule
    EXPECT_EQ(priv.GetSize(), 1);
    Notify("APPEND", "Other", "");  // no sender: nothing to block
    EXPECT_EQ(priv.GetSize(), 1);
}

TEST_F(PipelineFeedback, PromptAnswersAreHonoured)
{
    SetSetting(IntSetting::AutoSpam, 0);
    SetSetting(IntSetting::AutoPass, 0);
    std::string asked;
    // The user picked the domain in the prompt; the blanks around it do not count.
    frontEnd.askBlock = [&](const std::string& from, const std::string& mailbox) -> std::optional<std::string> {
        asked = from + "|" + mailbox;
        return std::string("  spam.example ");
    };
    frontEnd.askPass = [](const std::string&) -> std::optional<std::string> { return std::nullopt; };
    Notify("APPEND", "Junk", "x@spam.example");
    EXPECT_EQ(asked, "x@spam.example|Junk");
    EXPECT_EQ(frontEnd.hidden, 1);
    ASSERT_EQ(sets->priv->GetSize(), 1);
    EXPECT_STREQ(sets->priv->GetSpamFilter(0)->word, "spam.example");
    EXPECT_EQ(sets->priv->GetSpamFilter(0)->sign, 1);  // as the private filter page makes rules
    Notify("SPAM", "PASS", "friend@example.org");
    EXPECT_EQ(sets->pass->GetSize(), 0);
    // An answer of blanks only adds nothing.
    frontEnd.askPass = [](const std::string&) -> std::optional<std::string> { return std::string("   "); };
    Notify("SPAM", "PASS", "friend@example.org");
    EXPECT_EQ(sets->pass->GetSize(), 0);
}

TEST_F(PipelineFeedback, ClearedFlagAddsAPassEntryAndTheListsAreSaved)
{
    CPassFilter& pass = *sets->pass;
    SetSetting(IntSetting::AutoPass, 1);
    Notify("SPAM", "Junk", "friend@example.org");  // only the mailbox "PASS" counts
    EXPECT_EQ(pass.GetSize(), 0);
    Notify("Spam", "pass", "friend@example.org");
    ASSERT_EQ(pass.GetSize(), 1);
    EXPECT_STREQ(pass.GetPassFilter(0)->address, "friend@example.org");
    EXPECT_EQ(std::string(pass.GetPassFilter(0)->description), platform::Utf8ToCp949("메일프로그램에서추가"));
    Notify("SPAM", "PASS", "Friend@Example.org");
    EXPECT_EQ(pass.GetSize(), 1);
    Notify("FETCH", "PASS", "other@example.org");  // anything else is ignored
    EXPECT_EQ(pass.GetSize(), 1);

    SetSetting(IntSetting::AutoSpam, 1);
    Notify("APPEND", "INBOX", "bad@spam.example");
    sets->Save();
    CPassFilter passFile(dir.File("pass.flt").c_str());
    CSpamFilter privFile(dir.File("private.flt").c_str());
    ASSERT_EQ(passFile.GetSize(), 1);
    EXPECT_STREQ(passFile.GetPassFilter(0)->address, "friend@example.org");
    ASSERT_EQ(privFile.GetSize(), 1);
    EXPECT_STREQ(privFile.GetSpamFilter(0)->word, "bad@spam.example");
    EXPECT_STREQ(privFile.GetSpamFilter(0)->folder, "INBOX");
}
