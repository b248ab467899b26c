// The filters over real mail: every message of the SpamAssassin corpus, parsed by Parsewick.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "components/toolwick/spam_util.h"
#include "sievelet/sievelet.h"
#include "tests/sievelet/corpus.h"

using namespace sievelet_test;

namespace {

struct Rates {
    int ham = 0, spam = 0, hamHits = 0, spamHits = 0;
    void Add(bool isSpam, bool hit)
    {
        (isSpam ? spam : ham)++;
        if (hit)
            (isSpam ? spamHits : hamHits)++;
    }
    double Ham() const { return ham ? double(hamHits) / ham : 0; }
    double Spam() const { return spam ? double(spamHits) / spam : 0; }
};

class Corpus : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::string dir = CorpusDirectory(ORVANTA_CORPUS_SCRIPT);
        if (!dir.empty())
            s_messages = new std::vector<CorpusMessage>(LoadCorpus(dir));
    }
    static void TearDownTestSuite()
    {
        delete s_messages;
        s_messages = nullptr;
    }
    void SetUp() override
    {
        if (!s_messages || s_messages->empty())
            GTEST_SKIP() << "the SpamAssassin corpus could not be fetched";
    }
    static std::vector<CorpusMessage>* s_messages;
};

std::vector<CorpusMessage>* Corpus::s_messages = nullptr;

}  // namespace

TEST_F(Corpus, EveryMessageGoesThroughEveryFilter)
{
    TempDir dir;
    CSpamFilter rules(dir.File("private.flt").c_str());
    // Typical user rules, some of them regular expressions.
    rules.AddSpamFilter(true, 0, 2, 0, 0, "free", "Spam", "", 0);
    rules.AddSpamFilter(true, 0, 2, 1, 0, "\\$[0-9]+", "Spam", "", 0);
    rules.AddSpamFilter(true, 0, 3, 0, 0, "click here", "Spam", "", 0);
    rules.AddSpamFilter(true, 0, 3, 1, 0, "remove(d)? from (this|our|the) (mailing )?list", "Spam", "", 0);
    rules.AddSpamFilter(true, 0, 4, 0, 0, "100% guaranteed", "Spam", "", 0);
    rules.AddSpamFilter(true, 0, 5, 1, 0, "viagra|mortgage|credit card", "Spam", "", 0);
    rules.AddSpamFilter(true, 0, 6, 0, 0, "setup.exe", "Spam", "", 1);
    rules.AddSpamFilter(true, 0, 3, 1, 0, "([a-", "Spam", "does not compile", 0);
    CPassFilter pass(dir.File("pass.flt").c_str());
    pass.AddPassFilter("spamassassin", "");
    CProgramFilter program;

    Rates ruleRates, builtIn, worms, passed;
    size_t attachments = 0;
    for (const CorpusMessage& m : *s_messages) {
        std::vector<CMailHeader> headers = PartHeaders(m.text);
        ASSERT_FALSE(headers.empty());
        SPAM_FILTER result{};
        char folder[256] = "INBOX";
        int action = 0;

        passed.Add(m.IsSpam(), pass.DoPassFiltering(&headers[0]));

        // Header pass with only the built-in judgements deciding (no header rules hit a
        // message whose subject lacks the words).
        bool header = rules.DoSpamFiltering(result, &headers[0], folder, &action, 2, true, true, true, true);
        bool judgement = header && result.word[0] == '-' && result.word[1] == '\0';
        builtIn.Add(m.IsSpam(), judgement);

        std::string lowered = m.text;
        char* p = lowered.data();
        CSpamUtil::ToLower(p);
        bool content = rules.DoSpamContentFiltering(result, lowered.c_str(), folder, &action, 2, true, true, true);
        for (CMailHeader& h : headers) {
            if (h.IsAttachFile()) {
                ++attachments;
                rules.DoFileFiltering(result, h.GetFileName(), folder, &action);
            }
        }
        ruleRates.Add(m.IsSpam(), (header && !judgement) || content);

        strcpy(folder, "INBOX");
        bool worm = program.DoSpamFiltering(result, headers.data(), static_cast<int>(headers.size()), folder, &action);
        worms.Add(m.IsSpam(), worm);

        // The detector's short cuts give the answer of running every member in order.
        std::string subject = headers[0].GetSubject();
        for (char& c : subject)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        SPAM_FILTER all{};
        CMailHeader* parts = headers.data();
        bool allHit = false;
        for (int i = 0; i < CProgramFilter::GetSignatureCount() && !allHit; ++i)
            allHit = (program.*CProgramFilter::GetSignature(i))(all, subject.c_str(), parts,
                                                                static_cast<int>(headers.size()));
        EXPECT_EQ(worm, allHit);
        EXPECT_STREQ(result.description, all.description);
        if (worm) {
            EXPECT_EQ(action, 1);
            printf("worm in %s: %s (subject \"%.60s\")\n", m.group.c_str(), result.description,
                   headers[0].GetSubject());
        }
        EXPECT_STREQ(folder, "INBOX");
    }
    printf("messages: %d ham, %d spam, %zu attachments\n", ruleRates.ham, ruleRates.spam, attachments);
    printf("rules:     ham %.3f  spam %.3f\n", ruleRates.Ham(), ruleRates.Spam());
    printf("built-in:  ham %.3f  spam %.3f\n", builtIn.Ham(), builtIn.Spam());
    printf("worms:     ham %.4f  spam %.4f\n", worms.Ham(), worms.Spam());
    printf("pass:      ham %.3f  spam %.3f\n", passed.Ham(), passed.Spam());

    EXPECT_GT(ruleRates.ham, 1000);
    EXPECT_GT(ruleRates.spam, 500);
    // Spam words catch far more spam than ham.
    EXPECT_GT(ruleRates.Spam(), 2 * ruleRates.Ham());
    EXPECT_GT(ruleRates.Spam(), 0.3);
    // Most ham has a sender, a recipient and a subject.
    EXPECT_LT(builtIn.Ham(), 0.2);
    // Worms of this vintage are rare in the corpus; ham must almost never be taken for one.
    EXPECT_LT(worms.Ham(), 0.005);
    // The rule that does not compile never hits.
    EXPECT_EQ(rules.GetSpamFilter(7)->hit, 0);
    // Hit counts add up to the messages the list caught.
    long total = 0;
    for (int i = 0; i < rules.GetSize(); ++i)
        total += rules.GetSpamFilter(i)->hit;
    EXPECT_GE(total, ruleRates.hamHits + ruleRates.spamHits);
}
