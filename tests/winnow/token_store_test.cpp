#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/sievelet/test_support.h"
#include "winnow/winnow.h"

namespace {

using namespace winnow;
using sievelet_test::TempDir;

std::string Mail(const std::string& id, const std::string& subject, const std::string& body)
{
    return "From: sender" + id + "@example.com\r\nTo: user@example.org\r\nMessage-ID: <" + id +
           "@example.com>\r\nSubject: " + subject + "\r\n\r\n" + body + "\r\n";
}

std::string Spam(int i)
{
    return Mail("s" + std::to_string(i), "cheap pills offer",
                "buy viagra cheap now, limited offer, click here casino winner " + std::to_string(i % 7) + "x");
}

std::string Ham(int i)
{
    return Mail("h" + std::to_string(i), "meeting notes",
                "the build passed, see the review notes for the release branch and the meeting agenda " +
                    std::to_string(i % 5) + "y");
}

void TrainSome(CLearningFilter& filter, int spam, int ham)
{
    for (int i = 0; i < spam; ++i)
        ASSERT_NE(filter.Train(Spam(i), Label::Spam), TrainOutcome::Failed);
    for (int i = 0; i < ham; ++i)
        ASSERT_NE(filter.Train(Ham(i), Label::Ham), TrainOutcome::Failed);
}

TEST(LearningFilter, NothingIsSpamBeforeFiftyOfEachAndCutoffsSplitAfter)
{
    TempDir dir;
    CLearningFilter filter;
    ASSERT_TRUE(filter.Open(dir.File("learn.db")));
    TrainSome(filter, 50, 49);
    Classification early = filter.Classify(Spam(1000));
    EXPECT_FALSE(early.trained);
    EXPECT_GT(early.indicator, 0.9);
    EXPECT_EQ(early.judgement, Judgement::Unsure);

    TrainSome(filter, 0, 50);
    EXPECT_TRUE(filter.Ready());
    Classification spam = filter.Classify(Spam(1001));
    EXPECT_EQ(spam.judgement, Judgement::Spam);
    EXPECT_FALSE(spam.strongest.empty());
    EXPECT_EQ(filter.Classify(Ham(1002)).judgement, Judgement::Ham);
    // Half the words of each kind: neither cut-off is reached.
    Classification mixed = filter.Classify(
        Mail("m1", "meeting notes offer", "buy viagra cheap now the build passed, see the review notes release"));
    EXPECT_EQ(mixed.judgement, Judgement::Unsure) << mixed.indicator;
}

TEST(LearningFilter, RetrainingCountsOnceAndMovingTakesTheOldCountOut)
{
    TempDir dir;
    CLearningFilter filter;
    ASSERT_TRUE(filter.Open(dir.File("learn.db")));
    const std::string mail = Spam(1);
    EXPECT_EQ(filter.Train(mail, Label::Spam), TrainOutcome::Trained);
    EXPECT_EQ(filter.Train(mail, Label::Spam), TrainOutcome::Already);
    StoreFigures once = filter.Figures();
    EXPECT_EQ(once.spamMessages, 1);
    Classification before = filter.ClassifyTokens({"viagra"});

    // The spam box's copy carries a footer; the digest still finds the message, and the
    // token list kept takes out exactly what was put in.
    const std::string stored = mail + "footer words added by the store\r\n";
    EXPECT_EQ(filter.Train(stored, Label::Ham), TrainOutcome::Moved);
    StoreFigures moved = filter.Figures();
    EXPECT_EQ(moved.spamMessages, 0);
    EXPECT_EQ(moved.hamMessages, 1);
    Classification after = filter.ClassifyTokens({"viagra"});
    ASSERT_EQ(after.strongest.size(), 1u);
    EXPECT_EQ(after.strongest[0].spam, 0);
    EXPECT_EQ(after.strongest[0].ham, 1);
    EXPECT_TRUE(filter.Consistent());
    EXPECT_TRUE(filter.Untrain(stored));
    EXPECT_FALSE(filter.Untrain(stored));
    EXPECT_EQ(filter.Figures().tokens, 0);
    EXPECT_EQ(filter.Figures().hamMessages, 0);
    ASSERT_EQ(before.strongest.size(), 1u);
    EXPECT_EQ(before.strongest[0].spam, 1);
    EXPECT_GT(once.tokens, 10);
}

TEST(LearningFilter, PassedMailBecomesHamAfterTheDelayUnlessFiledAsSpam)
{
    TempDir dir;
    CLearningFilter filter;
    ASSERT_TRUE(filter.Open(dir.File("learn.db")));
    filter.SetToday(1000);
    EXPECT_TRUE(filter.RememberPassed(Ham(1)));
    EXPECT_TRUE(filter.RememberPassed(Spam(2)));
    EXPECT_EQ(filter.Figures().pending, 2);
    // The user files the second one into the spam box.
    EXPECT_EQ(filter.Train(Spam(2), Label::Spam), TrainOutcome::Trained);
    EXPECT_EQ(filter.Figures().pending, 1);

    filter.SetToday(1000 + CLearningFilter::kHamDelayDays - 1);
    EXPECT_EQ(filter.TrainMatured(), 0);
    filter.SetToday(1000 + CLearningFilter::kHamDelayDays);
    EXPECT_EQ(filter.TrainMatured(), 1);
    StoreFigures f = filter.Figures();
    EXPECT_EQ(f.hamMessages, 1);
    EXPECT_EQ(f.spamMessages, 1);
    EXPECT_EQ(f.pending, 0);
    EXPECT_EQ(filter.TrainedAs(Ham(1)), Label::Ham);
    // A message trained already is not kept for later.
    EXPECT_FALSE(filter.RememberPassed(Ham(1)));
}

TEST(TokenStore, PrunesOldTokensSeenOnceAndKeepsTheRest)
{
    TempDir dir;
    CTokenStore store;
    ASSERT_TRUE(store.Open(dir.File("learn.db")));
    store.SetToday(100);
    ASSERT_EQ(store.Learn(1, {11, 12}, Label::Spam), TrainOutcome::Trained);
    ASSERT_EQ(store.Learn(2, {12}, Label::Ham), TrainOutcome::Trained);
    store.SetToday(100 + CTokenStore::kPruneDays - 1);
    ASSERT_TRUE(store.Prune());
    EXPECT_EQ(store.Figures().tokens, 2);
    store.SetToday(100 + CTokenStore::kPruneDays + 1);
    ASSERT_TRUE(store.Prune());
    std::vector<TokenCounts> counts;
    store.Lookup({11, 12}, &counts);
    EXPECT_EQ(counts[0].spam, 0);  // seen once, long ago: gone
    EXPECT_EQ(counts[1].spam, 1);  // seen twice: kept
    EXPECT_EQ(counts[1].ham, 1);
    // Reopened, the store shows the same.
    store.Close();
    ASSERT_TRUE(store.Open(dir.File("learn.db")));
    EXPECT_EQ(store.SpamMessages(), 1);
    EXPECT_EQ(store.HamMessages(), 1);
    EXPECT_EQ(store.Figures().tokens, 1);
}

TEST(TokenStore, KilledWhileTrainingLeavesAConsistentStore)
{
    TempDir dir;
    const std::string path = dir.File("learn.db");
    for (int round = 0; round < 3; ++round) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            CLearningFilter filter;
            if (!filter.Open(path))
                _exit(2);
            // Single messages and batches, until killed.
            for (int i = 0;; ++i) {
                if (i % 50 == 0)
                    filter.BeginBatch();
                filter.Train(i % 2 ? Spam(round * 100000 + i) : Ham(round * 100000 + i),
                             i % 3 ? Label::Spam : Label::Ham);
                if (i % 50 == 49)
                    filter.EndBatch();
            }
        }
        usleep(300000 + round * 100000);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));

        CLearningFilter filter;
        ASSERT_TRUE(filter.Open(path));
        EXPECT_TRUE(filter.Consistent()) << "round " << round;
        StoreFigures f = filter.Figures();
        EXPECT_GT(f.spamMessages + f.hamMessages, 0) << "round " << round;
        EXPECT_NE(filter.Train(Spam(999999), Label::Spam), TrainOutcome::Failed);
        EXPECT_TRUE(filter.Untrain(Spam(999999)));
    }
}

}  // namespace
