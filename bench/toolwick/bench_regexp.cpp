// CRegExp against patterns that make a backtracking matcher take exponential time, with
// std::regex (a backtracking matcher) as the peer. std::regex gets a much smaller input, the
// largest on which it still finishes in reasonable time; CRegExp runs on both sizes so the
// two can be compared on the same input.
#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

#include <benchmark/benchmark.h>

#include "components/toolwick/reg_exp.h"

namespace {

constexpr size_t kLargeInput = 100 * 1024;

// std::regex's time grows exponentially with the number of 'a's: (a|aa)*b by about 1.6 per
// byte, (a+)+b by about 2; these sizes keep each of its runs well below a second.
struct Pathological {
    const char* pattern;
    size_t peerInput;
};
constexpr Pathological kPathological[] = {{"(a|aa)*b", 24}, {"(a+)+b", 20}};

void CRegExpFind(benchmark::State& state, const char* pattern, const std::string& text)
{
    CRegExp re;
    if (!re.RegComp(pattern)) {
        state.SkipWithError("pattern does not compile");
        return;
    }
    for (auto _ : state) {
        int at = re.RegFind(text.c_str());
        benchmark::DoNotOptimize(at);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void StdRegexFind(benchmark::State& state, const char* pattern, const std::string& text)
{
    std::regex re(pattern);
    for (auto _ : state) {
        bool found = std::regex_search(text, re);
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

const std::string& As(size_t n)
{
    static std::map<size_t, std::string> cache;
    auto it = cache.find(n);
    if (it == cache.end())
        it = cache.emplace(n, std::string(n, 'a')).first;
    return it->second;
}

// Mail-like text without a hit: the ordinary case, for comparison.
const std::string& MailText()
{
    static const std::string text = [] {
        std::string t;
        while (t.size() < kLargeInput)
            t += "dear customer, please verify your account via the attached very short form. ";
        t.resize(kLargeInput);
        return t;
    }();
    return text;
}

// Captures each run's time per iteration (ns) so the ratios can be printed afterwards.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal, so that logs of `make bench` stay readable.
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_None) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (!run.error_occurred)
                times[run.benchmark_name()] = run.GetAdjustedRealTime() * UnitToNs(run.time_unit);
    }
    std::map<std::string, double> times;

private:
    static double UnitToNs(benchmark::TimeUnit unit)
    {
        switch (unit) {
        case benchmark::kSecond: return 1e9;
        case benchmark::kMillisecond: return 1e6;
        case benchmark::kMicrosecond: return 1e3;
        default: return 1;
        }
    }
};

}  // namespace

int main(int argc, char** argv)
{
    const std::string large = As(kLargeInput);
    auto bytes = [](size_t n) { return std::to_string(n) + "B"; };

    struct Case {
        std::string name;
        void (*fn)(benchmark::State&, const char*, const std::string&);
        const char* pattern;
        const std::string* text;
    };
    std::vector<Case> cases;
    for (const Pathological& p : kPathological) {
        const std::string* small = &As(p.peerInput);
        cases.push_back({std::string("CRegExp ") + p.pattern + " 100KB", CRegExpFind, p.pattern, &large});
        cases.push_back(
            {std::string("CRegExp ") + p.pattern + " " + bytes(p.peerInput), CRegExpFind, p.pattern, small});
        cases.push_back(
            {std::string("std::regex ") + p.pattern + " " + bytes(p.peerInput), StdRegexFind, p.pattern, small});
    }
    cases.push_back({"CRegExp v(i|1)agr(a|@) mail 100KB", CRegExpFind, "v(i|1)agr(a|@)", &MailText()});
    cases.push_back({"std::regex v(i|1)agr(a|@) mail 100KB", StdRegexFind, "v(i|1)agr(a|@)", &MailText()});

    for (const Case& c : cases) {
        auto fn = c.fn;
        const char* pattern = c.pattern;
        const std::string* text = c.text;
        benchmark::RegisterBenchmark(c.name.c_str(), [fn, pattern, text](benchmark::State& s) {
            fn(s, pattern, *text);
        })->Unit(benchmark::kMicrosecond);
    }

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    auto t = [&](const std::string& name) {
        auto it = reporter.times.find(name);
        return it == reporter.times.end() ? -1.0 : it->second;
    };
    std::printf("\nTime per match (one RegFind over the whole text, no match found):\n");
    for (const Pathological& p : kPathological) {
        std::string pat = p.pattern;
        double big = t("CRegExp " + pat + " 100KB");
        double ours = t("CRegExp " + pat + " " + bytes(p.peerInput));
        double peer = t("std::regex " + pat + " " + bytes(p.peerInput));
        auto line = [&](const char* who, const std::string& size, double ns) {
            if (ns > 0)  // left out when a --benchmark_filter skipped the run
                std::printf("  %-9s %-10s on %9s: %14.3f us per match\n", p.pattern, who, size.c_str(), ns / 1e3);
        };
        line("CRegExp", "100 KB", big);
        line("CRegExp", std::to_string(p.peerInput) + " bytes", ours);
        line("std::regex", std::to_string(p.peerInput) + " bytes", peer);
        if (ours > 0 && peer > 0)
            std::printf("  %-9s ratio std::regex / CRegExp on the same %zu bytes: %.0fx\n", p.pattern, p.peerInput,
                        peer / ours);
        if (big > 0 && peer > 0)
            std::printf("  %-9s ratio std::regex on %zu bytes / CRegExp on 100 KB: %.1fx\n", p.pattern, p.peerInput,
                        peer / big);
    }
    double mailOurs = t("CRegExp v(i|1)agr(a|@) mail 100KB");
    double mailPeer = t("std::regex v(i|1)agr(a|@) mail 100KB");
    if (mailOurs > 0 && mailPeer > 0)
        std::printf("  v(i|1)agr(a|@) on 100 KB of mail text (ordinary case): CRegExp %.1f us, "
                    "std::regex %.1f us, ratio std::regex / CRegExp %.1fx\n",
                    mailOurs / 1e3, mailPeer / 1e3, mailPeer / mailOurs);
    benchmark::Shutdown();
    return 0;
}
