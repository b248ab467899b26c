// Throughput of the block-rule passes and of the worm detector over the SpamAssassin corpus.
//
// Rule passes: DoSpamFiltering + DoSpamContentFiltering per message with 250 to 2000 rules,
// a third of them regular expressions, most of them missing (so every message walks the
// whole list, the worst case). The peer is the same walk compiling each pattern per test
// instead of once per word.
// Worm detector: CProgramFilter::DoSpamFiltering per message; the peer is a plain detector
// that forms the composite candidates per message and searches each with strstr.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "components/toolwick/reg_exp.h"
#include "components/toolwick/spam_util.h"
#include "sievelet/sievelet.h"
#include "sievelet/worm_signatures.h"
#include "tests/sievelet/corpus.h"

using namespace sievelet_test;
using Clock = std::chrono::steady_clock;

namespace {

struct Prepared {
    std::vector<CMailHeader> headers;
    std::string lowered;  // the whole text, lower-cased, as the pipeline hands it over
};

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

void AddRules(CSpamFilter& list, int count)
{
    // Every third rule is a regular expression on a subject, body or whole-message rule;
    // the others are substring rules of every kind but file names.
    static const int kTextProperties[] = {2, 3, 5, 4};
    static const int kAllProperties[] = {0, 2, 3, 5, 4, 1};
    char word[81];
    for (int i = 0; i < count; ++i) {
        bool regex = i % 3 == 0;
        int property = regex ? kTextProperties[(i / 3) % 4] : kAllProperties[i % 6];
        if (regex)
            snprintf(word, sizeof word, "zq%d(x|y)+[0-9]k", i);
        else
            snprintf(word, sizeof word, "qzv%dword", i);
        list.AddSpamFilter(true, 0, static_cast<unsigned char>(property), regex ? 1 : 0, 0, word, "Spam", "", 0);
    }
}

int RegexRules(CSpamFilter& list)
{
    int n = 0;
    for (int i = 0; i < list.GetSize(); ++i)
        n += list.GetSpamFilter(i)->match == 1;
    return n;
}

// Both passes per message; returns messages per second.
double RunRules(CSpamFilter& list, std::vector<Prepared>& messages, int* hits)
{
    SPAM_FILTER result{};
    char folder[256];
    int action = 0;
    *hits = 0;
    auto start = Clock::now();
    for (Prepared& m : messages) {
        strcpy(folder, "INBOX");
        bool spam = list.DoSpamFiltering(result, &m.headers[0], folder, &action, 2, true, true, true, true);
        // The built-in judgements decide some messages; the content pass still runs so every
        // message costs the same walk.
        spam = list.DoSpamContentFiltering(result, m.lowered.c_str(), folder, &action, 2, true, true, true) || spam;
        *hits += spam;
    }
    return messages.size() / Seconds(start);
}

// The peer: the content pass with each pattern compiled for every test.
double RunRulesCompilingPerTest(CSpamFilter& list, std::vector<Prepared>& messages)
{
    auto start = Clock::now();
    size_t sink = 0;
    for (Prepared& m : messages) {
        for (int i = 0; i < list.GetSize(); ++i) {
            SPAM_FILTER* rule = list.GetSpamFilter(i);
            if (rule->property != 3 && rule->property != 4 && rule->property != 5)
                continue;
            if (rule->match == 1) {
                CRegExp re;
                if (re.RegComp(rule->word) && re.RegFind(m.lowered.c_str()) != -1)
                    ++sink;
            } else if (strstr(m.lowered.c_str(), rule->word)) {
                ++sink;
            }
        }
    }
    if (sink == size_t(-1))
        puts("");
    return messages.size() / Seconds(start);
}

// The peer detector: candidates formed per message and searched one by one.
bool NaiveWorms(const char* subject, std::vector<CMailHeader>& headers)
{
    const sievelet::WormTables& t = sievelet::Worms();
    (void)t;
    static const std::vector<std::vector<std::string>> updatr = {
        {"have you ", "you should ", "just ", "why not you ", "how to ", "re: ", "fwd: "},
        {"check ", "check out ", "watch out ", "open ", "look at "},
        {"this ", "my ", "for this ", "the ", "subject ", "picture ", "program "},
        {"patch", "nude pic", "report", "documment", "quotation", "transaction", "bank account", "wtc tragedy",
         "bertrand vs okafor", "account", "private pic"}};
    for (const auto& w : updatr[0])
        for (const auto& x : updatr[1])
            for (const auto& y : updatr[2])
                for (const auto& z : updatr[3])
                    if (strstr(subject, (w + x + y + z).c_str()))
                        return true;
    static const std::vector<std::vector<std::string>> yaha = {
        {"loveletter", "resume", "biodata", "dailyreport", "mountan", "goldfish", "weeklyreport", "report", "love"},
        {".doc", ".mp3", ".xls", ".wav", ".txt", ".jpg", ".gif", ".dat", ".bmp", ".htm", ".mpg", ".mdb", ".zip"},
        {".pif", ".bat", ".scr"}};
    for (CMailHeader& h : headers) {
        if (!h.IsAttachFile())
            continue;
        for (const auto& x : yaha[0])
            for (const auto& y : yaha[1])
                for (const auto& z : yaha[2])
                    if (strcasecmp(h.GetFileName(), (x + y + z).c_str()) == 0)
                        return true;
    }
    return false;
}

}  // namespace

int main()
{
    std::string dir = CorpusDirectory(ORVANTA_CORPUS_SCRIPT);
    if (dir.empty()) {
        fprintf(stderr, "bench_filter: the SpamAssassin corpus could not be fetched\n");
        return 1;
    }
    std::vector<CorpusMessage> corpus = LoadCorpus(dir);
    std::vector<Prepared> messages;
    size_t bytes = 0;
    for (const CorpusMessage& m : corpus) {
        Prepared p;
        p.headers = PartHeaders(m.text);
        p.lowered = m.text;
        char* text = p.lowered.data();
        CSpamUtil::ToLower(text);
        bytes += m.text.size();
        messages.push_back(std::move(p));
    }
    printf("corpus: %zu messages, %.1f MB\n", messages.size(), bytes / 1e6);

    TempDir tmp;
    printf("\nrule passes (DoSpamFiltering + DoSpamContentFiltering), level 2, all switches on\n");
    double perRuleAt1000 = 0;
    for (int count : {250, 500, 1000, 2000}) {
        CSpamFilter list(tmp.File("bench.flt").c_str());
        AddRules(list, count);
        int hits;
        RunRules(list, messages, &hits);  // warm-up: compiles every pattern once
        double rate = RunRules(list, messages, &hits);
        double usPerMessage = 1e6 / rate;
        printf("  %4d rules (%3d regex): %8.0f messages/s  %8.1f us/message  %.3f us/rule  "
               "(%d judged spam)\n",
               count, RegexRules(list), rate, usPerMessage, usPerMessage / count, hits);
        if (count == 1000)
            perRuleAt1000 = usPerMessage;
    }
    {
        CSpamFilter list(tmp.File("bench.flt").c_str());
        AddRules(list, 1000);
        int hits;
        RunRules(list, messages, &hits);
        std::vector<Prepared> sample(messages.begin(), messages.begin() + messages.size() / 10);
        double ours = RunRules(list, sample, &hits);
        double peer = RunRulesCompilingPerTest(list, sample);
        printf("  1000 rules, %zu messages: compiled once %.0f messages/s, compiled per test "
               "(content pass only) %.0f messages/s, ratio %.1fx\n",
               sample.size(), ours, peer, ours / peer);
        (void)perRuleAt1000;
    }

    printf("\nworm detector (CProgramFilter::DoSpamFiltering)\n");
    CProgramFilter program;
    SPAM_FILTER result{};
    char folder[256] = "INBOX";
    int action = 0;
    int rounds = 20, worms = 0;
    program.DoSpamFiltering(result, messages[0].headers.data(), 1, folder, &action);  // build sets
    auto start = Clock::now();
    for (int r = 0; r < rounds; ++r)
        for (Prepared& m : messages)
            worms +=
                program.DoSpamFiltering(result, m.headers.data(), static_cast<int>(m.headers.size()), folder, &action);
    double ours = Seconds(start) * 1e6 / (rounds * messages.size());
    printf("  corpus: %.3f us/message (%d hits over %d rounds; target under 5 us)\n", ours, worms, rounds);

    // Messages with attachments, so the attachment tests run too.
    std::vector<std::vector<CMailHeader>> attached;
    const char* subjects[] = {"re: your order", "hello friend", "monthly report", "hi there"};
    const char* files[] = {"report.pdf", "photo.jpg", "setup.exe", "invoice.doc.zip"};
    for (int i = 0; i < 400; ++i)
        attached.push_back(PartHeaders(MessageWithAttachments(subjects[i % 4], {files[i % 4], files[(i + 1) % 4]})));
    start = Clock::now();
    int attachedRounds = 200;
    for (int r = 0; r < attachedRounds; ++r)
        for (auto& h : attached)
            worms += program.DoSpamFiltering(result, h.data(), static_cast<int>(h.size()), folder, &action);
    double withFiles = Seconds(start) * 1e6 / (attachedRounds * attached.size());
    printf("  three-part messages with two attachments: %.3f us/message\n", withFiles);

    start = Clock::now();
    int naiveHits = 0;
    char subject[10240];
    for (Prepared& m : messages) {
        CSpamUtil::STRNCPY(subject, m.headers[0].GetSubject(), sizeof subject);
        char* s = subject;
        CSpamUtil::ToLower(s);
        naiveHits += NaiveWorms(subject, m.headers);
    }
    double naive = Seconds(start) * 1e6 / messages.size();
    printf("  peer (candidates formed per message, two composite members only): %.3f us/message, "
           "ratio %.1fx\n",
           naive, naive / ours);
    return 0;
}
