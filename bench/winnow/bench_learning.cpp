// Accuracy and speed of the learning filter against bogofilter (the Debian package, run as a
// program) on the same SpamAssassin corpus messages, in the same run:
//
//   10-fold cross-validation: a fixed shuffle splits the corpus into ten folds; each filter is
//   trained from empty on nine and scores the tenth, for each fold in turn.
//   Online: one store per filter, the messages in corpus order (by their numbers in the data
//   set, its groups interleaved); each message is scored, then trained on its true label.
//   Built-in judgements: a 2,000-message sample with no rules, judged by the block list alone,
//   then with the learning filter trained on the rest of the corpus.
//
// For both filters it prints ham judged spam, spam missed (judged ham or unsure: both pass),
// unsure (of all messages), messages per second for training and for scoring, and the store's
// size, then our figures over bogofilter's. bogofilter runs with its built-in defaults (-C);
// in cross-validation it trains and scores in bulk mode (one process per fold and kind), in
// the online run it is one process per message and step, as a mail system would run it.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "parsewick/parsewick.h"
#include "sievelet/sievelet.h"
#include "tests/sievelet/corpus.h"
#include "winnow/winnow.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Message {
    std::string path;
    std::string text;
    bool spam = false;
    long number = 0;  // its number in the data set ("00042.<checksum>.eml")
    std::string group;
};

// Tallies of one filter over one set of scored messages.
struct Tally {
    long ham = 0, spam = 0;
    long hamAsSpam = 0, spamMissed = 0, unsure = 0;
    long trained = 0, scored = 0;
    double trainSeconds = 0, scoreSeconds = 0;
    uintmax_t storeBytes = 0;  // summed over the stores measured
    int stores = 0;

    void Count(bool spamTruth, char verdict)  // 'S', 'H' or 'U'
    {
        (spamTruth ? spam : ham)++;
        if (!spamTruth && verdict == 'S')
            ++hamAsSpam;
        if (spamTruth && verdict != 'S')
            ++spamMissed;
        if (verdict == 'U')
            ++unsure;
    }
};

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double Percent(long part, long whole) { return whole > 0 ? 100.0 * static_cast<double>(part) / whole : 0.0; }

std::vector<Message> Load(const std::string& dir)
{
    std::vector<Message> messages;
    for (const auto& group : fs::directory_iterator(dir)) {
        if (!group.is_directory())
            continue;
        for (const auto& file : fs::directory_iterator(group.path())) {
            if (file.path().extension() != ".eml")
                continue;
            Message m;
            m.path = file.path().string();
            m.text = sievelet_test::ReadBytes(m.path);
            m.group = group.path().filename().string();
            m.spam = m.group.rfind("spam", 0) == 0;
            m.number = std::atol(file.path().filename().string().c_str());
            messages.push_back(std::move(m));
        }
    }
    std::sort(messages.begin(), messages.end(), [](const Message& a, const Message& b) {
        return a.number != b.number ? a.number < b.number : a.group < b.group;
    });
    return messages;
}

// A Fisher-Yates shuffle on mt19937's own output, so the folds are the same with every
// standard library.
std::vector<size_t> Shuffled(size_t count, uint32_t seed)
{
    std::vector<size_t> order(count);
    for (size_t i = 0; i < count; ++i)
        order[i] = i;
    std::mt19937 random(seed);
    for (size_t i = count; i > 1; --i)
        std::swap(order[i - 1], order[random() % i]);
    return order;
}

char Letter(winnow::Judgement j)
{
    return j == winnow::Judgement::Spam ? 'S' : j == winnow::Judgement::Ham ? 'H' : 'U';
}

std::string Run(const std::string& command)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    pclose(pipe);
    return out;
}

std::string Bogofilter(const std::string& dir) { return "bogofilter -C -d '" + dir + "' "; }

void WriteList(const std::string& path, const std::vector<const Message*>& messages)
{
    std::ofstream out(path);
    for (const Message* m : messages)
        out << m->path << "\n";
}

uintmax_t DirectoryBytes(const std::string& dir)
{
    uintmax_t total = 0;
    std::error_code ec;
    for (const auto& f : fs::directory_iterator(dir, ec))
        if (f.is_regular_file(ec))
            total += f.file_size(ec);
    return total;
}

class Scratch {
public:
    Scratch()
    {
        std::string pattern = (fs::temp_directory_path() / "bench-learning-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            path_ = pattern;
    }
    ~Scratch()
    {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string Sub(const std::string& name) const
    {
        fs::create_directories(path_ / name);
        return (path_ / name).string();
    }

private:
    fs::path path_;
};

void OursFold(const std::vector<const Message*>& train, const std::vector<const Message*>& test, const std::string& dir,
              Tally& t)
{
    winnow::CLearningFilter filter;
    if (!filter.Open(dir + "/learn.db")) {
        std::fprintf(stderr, "cannot open the store in %s\n", dir.c_str());
        return;
    }
    auto start = Clock::now();
    filter.BeginBatch();
    for (const Message* m : train)
        filter.Train(m->text, m->spam ? winnow::Label::Spam : winnow::Label::Ham);
    filter.EndBatch();
    t.trainSeconds += Seconds(start);
    t.trained += static_cast<long>(train.size());
    start = Clock::now();
    std::vector<char> verdicts;
    verdicts.reserve(test.size());
    for (const Message* m : test)
        verdicts.push_back(Letter(filter.Classify(m->text).judgement));
    t.scoreSeconds += Seconds(start);
    t.scored += static_cast<long>(test.size());
    for (size_t i = 0; i < test.size(); ++i)
        t.Count(test[i]->spam, verdicts[i]);
    t.storeBytes += filter.Figures().fileBytes;
    ++t.stores;
}

void BogoFold(const std::vector<const Message*>& train, const std::vector<const Message*>& test, const std::string& dir,
              Tally& t)
{
    std::vector<const Message*> spam, ham;
    for (const Message* m : train)
        (m->spam ? spam : ham).push_back(m);
    WriteList(dir + "/spam.list", spam);
    WriteList(dir + "/ham.list", ham);
    WriteList(dir + "/test.list", test);
    const std::string db = dir + "/db";
    fs::create_directories(db);
    auto start = Clock::now();
    Run(Bogofilter(db) + "-s -b < '" + dir + "/spam.list'");
    Run(Bogofilter(db) + "-n -b < '" + dir + "/ham.list'");
    t.trainSeconds += Seconds(start);
    t.trained += static_cast<long>(train.size());
    start = Clock::now();
    const std::string out = Run(Bogofilter(db) + "-T -b < '" + dir + "/test.list'");
    t.scoreSeconds += Seconds(start);
    t.scored += static_cast<long>(test.size());
    std::map<std::string, char> verdicts;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        std::string line = out.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? out.size() : end + 1;
        size_t space = line.find(' ');
        if (space != std::string::npos && space + 1 < line.size())
            verdicts[line.substr(0, space)] = line[space + 1];
    }
    for (const Message* m : test) {
        auto v = verdicts.find(m->path);
        t.Count(m->spam, v == verdicts.end() ? 'U' : v->second);
    }
    t.storeBytes += DirectoryBytes(db);
    ++t.stores;
}

void PrintRow(const char* name, const Tally& t)
{
    std::printf("  %-12s %8.2f %% %9.2f %% %7.2f %% %12.0f %12.0f %12ju\n", name, Percent(t.hamAsSpam, t.ham),
                Percent(t.spamMissed, t.spam), Percent(t.unsure, t.ham + t.spam),
                t.trainSeconds > 0 ? t.trained / t.trainSeconds : 0.0,
                t.scoreSeconds > 0 ? t.scored / t.scoreSeconds : 0.0, t.stores > 0 ? t.storeBytes / t.stores : 0);
}

double Ratio(double a, double b) { return b > 0 ? a / b : 0.0; }

void PrintTable(const char* title, const Tally& ours, const Tally& bogo)
{
    std::printf("%s\n", title);
    std::printf("  %-12s %10s %11s %9s %12s %12s %12s\n", "filter", "ham>spam", "spam missed", "unsure", "train msg/s",
                "score msg/s", "store bytes");
    PrintRow("winnow", ours);
    PrintRow("bogofilter", bogo);
    std::printf(
        "  ham judged spam: %ld of %ld (winnow), %ld of %ld (bogofilter); spam missed: %ld of %ld, %ld of %ld\n",
        ours.hamAsSpam, ours.ham, bogo.hamAsSpam, bogo.ham, ours.spamMissed, ours.spam, bogo.spamMissed, bogo.spam);
    std::printf(
        "  ratio winnow/bogofilter: training speed %.2f, scoring speed %.2f, store size %.2f\n",
        Ratio(ours.trained / std::max(ours.trainSeconds, 1e-9), bogo.trained / std::max(bogo.trainSeconds, 1e-9)),
        Ratio(ours.scored / std::max(ours.scoreSeconds, 1e-9), bogo.scored / std::max(bogo.scoreSeconds, 1e-9)),
        Ratio(static_cast<double>(ours.storeBytes), static_cast<double>(bogo.storeBytes)));
}

void CrossValidation(const std::vector<Message>& corpus, const Scratch& scratch)
{
    const std::vector<size_t> order = Shuffled(corpus.size(), 20021209);
    Tally ours, bogo;
    for (int fold = 0; fold < 10; ++fold) {
        std::vector<const Message*> train, test;
        for (size_t p = 0; p < order.size(); ++p)
            (static_cast<int>(p % 10) == fold ? test : train).push_back(&corpus[order[p]]);
        OursFold(train, test, scratch.Sub("ours-" + std::to_string(fold)), ours);
        BogoFold(train, test, scratch.Sub("bogo-" + std::to_string(fold)), bogo);
    }
    PrintTable("10-fold cross-validation (fixed shuffle), the ten test folds together:", ours, bogo);
}

void Online(const std::vector<Message>& corpus, const Scratch& scratch)
{
    Tally ours, bogo;
    winnow::CLearningFilter filter;
    filter.Open(scratch.Sub("online-ours") + "/learn.db");
    const std::string db = scratch.Sub("online-bogo");
    for (const Message& m : corpus) {
        auto start = Clock::now();
        char verdict = Letter(filter.Classify(m.text).judgement);
        ours.scoreSeconds += Seconds(start);
        ours.Count(m.spam, verdict);
        start = Clock::now();
        filter.Train(m.text, m.spam ? winnow::Label::Spam : winnow::Label::Ham);
        ours.trainSeconds += Seconds(start);

        start = Clock::now();
        std::string out = Run(Bogofilter(db) + "-T -I '" + m.path + "' 2>/dev/null");
        bogo.scoreSeconds += Seconds(start);
        bogo.Count(m.spam, out.empty() ? 'U' : out[0]);
        start = Clock::now();
        Run(Bogofilter(db) + (m.spam ? "-s" : "-n") + " -I '" + m.path + "'");
        bogo.trainSeconds += Seconds(start);
    }
    ours.trained = ours.scored = bogo.trained = bogo.scored = static_cast<long>(corpus.size());
    ours.storeBytes = filter.Figures().fileBytes;
    bogo.storeBytes = DirectoryBytes(db);
    ours.stores = bogo.stores = 1;
    PrintTable("Online, corpus order, scored then trained on the true label (bogofilter: a process per step):", ours,
               bogo);
}

// The block list's built-in judgements with no rules, alone and with the trained filter.
void BuiltIns(const std::vector<Message>& corpus, const Scratch& scratch)
{
    const std::vector<size_t> order = Shuffled(corpus.size(), 4242);
    const size_t sampleSize = std::min<size_t>(2000, corpus.size());
    winnow::CLearningFilter filter;
    filter.Open(scratch.Sub("builtins") + "/learn.db");
    filter.BeginBatch();
    for (size_t p = sampleSize; p < order.size(); ++p)
        filter.Train(corpus[order[p]].text, corpus[order[p]].spam ? winnow::Label::Spam : winnow::Label::Ham);
    filter.EndBatch();

    CSpamFilter rules((scratch.Sub("rules") + "/none.flt").c_str());
    long ham = 0, spam = 0, hamBefore = 0, spamBefore = 0, hamAfter = 0, spamAfter = 0, overruled = 0;
    std::map<std::string, long> hamByJudgement;
    for (size_t p = 0; p < sampleSize; ++p) {
        const Message& m = corpus[order[p]];
        (m.spam ? spam : ham)++;
        CMailHeader header;
        CMailParser::CheckHeader(nullptr, m.text.c_str(), 0, static_cast<int>(m.text.size()), header);
        SPAM_FILTER rule{};
        char folder[SPAM_FOLDER_SIZE] = "INBOX";
        int action = 0;
        const bool builtIn = rules.DoSpamFiltering(rule, &header, folder, &action, 2, true, true, true, true);
        if (builtIn) {
            (m.spam ? spamBefore : hamBefore)++;
            if (!m.spam)
                hamByJudgement[rule.description]++;
        }
        winnow::Classification c = filter.Classify(m.text);
        bool out =
            builtIn ? !(c.trained && c.judgement == winnow::Judgement::Ham) : c.judgement == winnow::Judgement::Spam;
        if (builtIn && !out)
            ++overruled;
        if (out)
            (m.spam ? spamAfter : hamAfter)++;
    }
    std::printf("Built-in judgements, %zu-message sample, no rules (the default configuration):\n", sampleSize);
    std::printf("  before (learning filter untrained): ham taken out %ld of %ld (%.2f %%), spam taken out %ld of %ld "
                "(%.2f %%)\n",
                hamBefore, ham, Percent(hamBefore, ham), spamBefore, spam, Percent(spamBefore, spam));
    for (const auto& [name, count] : hamByJudgement)
        std::printf("    ham by \"%s\": %ld\n", name.c_str(), count);
    std::printf(
        "  after (trained on the other %zu messages): ham taken out %ld of %ld (%.2f %%), spam taken out %ld of "
        "%ld (%.2f %%); %ld built-in judgement(s) overruled\n",
        order.size() - sampleSize, hamAfter, ham, Percent(hamAfter, ham), spamAfter, spam, Percent(spamAfter, spam),
        overruled);
}

}  // namespace

int main()
{
    const std::string dir = sievelet_test::CorpusDirectory(ORVANTA_CORPUS_SCRIPT);
    if (dir.empty()) {
        std::fprintf(stderr, "bench_learning: the corpus cannot be fetched\n");
        return 1;
    }
    if (Run("bogofilter -V 2>&1").find("bogofilter") == std::string::npos) {
        std::fprintf(stderr, "bench_learning: bogofilter is not installed (Debian package bogofilter)\n");
        return 1;
    }
    const std::vector<Message> corpus = Load(dir);
    long spam = 0;
    for (const Message& m : corpus)
        spam += m.spam ? 1 : 0;
    std::string version = Run("bogofilter -V 2>&1");
    version = version.substr(0, version.find('\n'));
    std::printf("Learning filter against %s, SpamAssassin corpus: %zu ham, %ld spam\n", version.c_str(),
                corpus.size() - spam, spam);
    Scratch scratch;
    const char* only = std::getenv("BENCH_LEARNING_ONLY");  // "cv", "online" or "builtins"
    if (!only || std::string(only) == "cv")
        CrossValidation(corpus, scratch);
    if (!only || std::string(only) == "online")
        Online(corpus, scratch);
    if (!only || std::string(only) == "builtins")
        BuiltIns(corpus, scratch);
    return 0;
}
