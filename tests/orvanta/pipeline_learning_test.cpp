// The learning filter's part in the examination and in the spam-box feedback, on a real
// token store and a real mail store in a temporary directory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "harborage/harborage.h"
#include "orvanta/core/settings.h"
#include "orvanta/pipeline/feedback.h"
#include "orvanta/pipeline/filter_sets.h"
#include "orvanta/pipeline/folder_choice.h"
#include "orvanta/pipeline/learning_step.h"
#include "harborage/imap_mesg.h"
#include "pipeline_test_support.h"
#include "recording_front_end.h"
#include "winnow/winnow.h"

namespace pl = orvanta::pipeline;
using orvanta::IntSetting;
using orvanta::SetSetting;
using pipeline_test::TempDir;

namespace {

std::string Mail(const std::string& id, const std::string& subject, const std::string& words)
{
    return "From: sender" + id + "@example.com\r\nTo: me@example.net\r\nMessage-ID: <" + id + "@example.com>\r\n" +
           (subject.empty() ? "" : "Subject: " + subject + "\r\n") + "\r\n" + words + "\r\n";
}

std::string Spammy(int i)
{
    return Mail("s" + std::to_string(i), "cheap pills", "buy cheap pills online casino jackpot winner");
}

std::string Hammy(int i, const std::string& subject = "build report")
{
    return Mail("h" + std::to_string(i), subject, "the nightly build passed and the release notes are ready");
}

class PipelineLearning : public ::testing::Test {
protected:
    void SetUp() override
    {
        orvanta::ResetSettings();
        setenv("ORVANTA_REGISTRY", dir.File("registry.db").c_str(), 1);
        ASSERT_TRUE(learner.Open(dir.File("learn.db")));
        ASSERT_TRUE(pl::EnsureInbox(dir.Dir()));
    }
    void TearDown() override { orvanta::ResetSettings(); }

    std::string Write(const std::string& name, const std::string& text)
    {
        std::string path = dir.File(name);
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    void TrainEnough()
    {
        learner.BeginBatch();
        for (int i = 0; i < 60; ++i) {
            learner.Train(Spammy(1000 + i), winnow::Label::Spam);
            learner.Train(Hammy(1000 + i), winnow::Label::Ham);
        }
        learner.EndBatch();
    }
    static pl::Verdict BuiltIn(const char* description)
    {
        pl::Verdict v;
        v.decided = v.spam = true;
        std::strcpy(v.rule.word, "-");
        std::strcpy(v.rule.description, description);
        return v;
    }

    TempDir dir;
    winnow::CLearningFilter learner;
};

}  // namespace

TEST_F(PipelineLearning, UntrainedNothingChangesThenSpamGoesToItsFolderAndIsTrained)
{
    pl::LearningStep step(&learner, true, dir.Dir());
    pl::Verdict passed;
    step.Judge(Write("m1", Spammy(1)), passed);
    EXPECT_FALSE(passed.spam);
    pl::Verdict noSubject = BuiltIn("No Subject");
    step.Judge(Write("m2", Hammy(2, "")), noSubject);
    EXPECT_TRUE(noSubject.spam);  // untrained, the built-in judgement stands
    step.Outcome(true);
    EXPECT_FALSE(learner.TrainedAs(Hammy(2, "")));  // and is no training

    TrainEnough();
    pl::Verdict judged;
    step.Judge(Write("m3", Spammy(3)), judged);
    ASSERT_TRUE(judged.spam);
    EXPECT_EQ(std::string(judged.folder), pl::LearnedSpamFolder());
    EXPECT_EQ(pl::ChooseStoreFolder(dir.Dir(), judged.folder), CIMAPFolder::EncodeFolderName(pl::LearnedSpamFolder()));
    step.Outcome(true);
    EXPECT_EQ(learner.TrainedAs(Spammy(3)), winnow::Label::Spam);

    pl::Verdict ham;
    step.Judge(Write("m4", Hammy(4)), ham);
    EXPECT_FALSE(ham.spam);
    const long pending = learner.Figures().pending;
    step.Outcome(false);
    EXPECT_EQ(learner.Figures().pending, pending + 1);
}

TEST_F(PipelineLearning, TrainedFilterOverrulesOnlyTheBuiltInJudgements)
{
    TrainEnough();
    pl::LearningStep step(&learner, true, dir.Dir());
    pl::Verdict noSubject = BuiltIn("No Subject");
    step.Judge(Write("m1", Hammy(1, "")), noSubject);
    EXPECT_FALSE(noSubject.spam);

    pl::Verdict rule = BuiltIn("No Subject");
    std::strcpy(rule.rule.word, "nightly");  // a rule of the user's: it stands
    step.Judge(Write("m2", Hammy(2)), rule);
    EXPECT_TRUE(rule.spam);
    step.Outcome(true);
    EXPECT_EQ(learner.TrainedAs(Hammy(2)), winnow::Label::Spam);

    // "USE_LEARN" off: not even a built-in judgement on ham is overruled.
    pl::LearningStep off(&learner, false, dir.Dir());
    pl::Verdict offVerdict = BuiltIn("No Receiver");
    off.Judge(Write("m3", Hammy(3, "")), offVerdict);
    EXPECT_TRUE(offVerdict.spam);
    pl::Verdict offSpam;
    off.Judge(Write("m4", Spammy(4)), offSpam);
    EXPECT_FALSE(offSpam.spam);
}

TEST_F(PipelineLearning, FeedbackTrainsWhatIsFiledAndUntrainsWhatIsCleared)
{
    RecordingFrontEnd frontEnd;
    pl::FilterSets sets(dir.Dir());
    pl::SpamBoxFeedback feedback(sets, frontEnd, &learner);
    SetSetting(IntSetting::AutoSpam, 2);
    SetSetting(IntSetting::AutoPass, 2);
    const std::string text = Spammy(7);
    const std::string path = Write("filed", text);
    const auto notify = [&](const char* command, const char* mailbox) {
        IMAPMESG m{command, mailbox, "notuse", "sender@example.com", path.c_str()};
        feedback.OnImapMessage(reinterpret_cast<platform::WPARAM>(&m));
    };
    SetSetting(IntSetting::UseLearn, 0);
    notify("APPEND", "INBOX");
    EXPECT_FALSE(learner.TrainedAs(text));
    SetSetting(IntSetting::UseLearn, 1);
    notify("APPEND", "INBOX");
    EXPECT_EQ(learner.TrainedAs(text), winnow::Label::Spam);
    notify("APPEND", "INBOX");
    EXPECT_EQ(learner.Figures().spamMessages, 1);
    notify("SPAM", "PASS");
    EXPECT_EQ(learner.TrainedAs(text), winnow::Label::Ham);
    EXPECT_EQ(learner.Figures().spamMessages, 0);
    EXPECT_EQ(learner.Figures().hamMessages, 1);
    EXPECT_TRUE(learner.Consistent());
}
