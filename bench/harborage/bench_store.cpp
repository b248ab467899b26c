// Mail store timings: a flag update of every message (a STORE over 1:*) and a rescan (NOOP,
// SELECT) in folders of 1,000 and 10,000 messages. The peer is the index update that scans
// from the first record for each message (FindMailInfo), which costs the square of the size.
#include "harborage/harborage.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kMessage = "From: a@example.com\r\nSubject: bench\r\n\r\nbody\r\n";

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A folder of `count` messages dropped in as files, adopted by one rescan.
std::string MakeFolder(const fs::path& root, int count)
{
    std::string name = "F" + std::to_string(count);
    fs::create_directory(root / name);
    char file[32];
    for (int i = 1; i <= count; ++i) {
        std::snprintf(file, sizeof file, "mesg%08d.msg", i);
        std::ofstream(root / name / file, std::ios::binary) << kMessage;
    }
    return name;
}

struct Figures {
    double update = 0, peerUpdate = 0, rescan = 0, adopt = 0;
};

Figures Measure(const std::string& rootText, const fs::path& root, int count, int rounds, int peerLimit)
{
    Figures fig;
    std::string folder = MakeFolder(root, count);
    CIMAPMail mail(rootText.c_str());

    std::vector<double> t;
    for (int r = 0; r < rounds; ++r) {
        fs::remove(root / folder / "mail.qlt");
        auto start = Clock::now();
        mail.FolderMailInit(folder.c_str());  // every file adopted with a fresh UID
        t.push_back(Ms(Clock::now() - start));
    }
    fig.adopt = Median(t);
    if (mail.Size() != count)
        std::fprintf(stderr, "folder of %d lists %d messages\n", count, mail.Size());

    t.clear();
    for (int r = 0; r < rounds; ++r) {
        auto start = Clock::now();
        mail.FolderMailInit(folder.c_str());  // the index knows every file
        t.push_back(Ms(Clock::now() - start));
    }
    fig.rescan = Median(t);

    t.clear();
    for (int r = 0; r < rounds; ++r) {
        auto start = Clock::now();
        for (int seq = 1; seq <= mail.Size(); ++seq) {
            MAILINFO* m = mail.GetMailInfo(seq);
            m->seen = !m->seen;
            mail.SaveUpdateMailInfo(m);
        }
        t.push_back(Ms(Clock::now() - start));
    }
    fig.update = Median(t);

    // The peer: open the index, scan from the first record to the UID, overwrite. Timed over
    // the first `peerLimit` messages and scaled to the folder, keeping the quadratic run short.
    const std::string index = (root / folder / "mail.qlt").string();
    int n = std::min(count, peerLimit);
    int step = count / n;
    auto start = Clock::now();
    for (int k = 0; k < n; ++k) {
        MAILINFO* m = mail.GetMailInfo(1 + k * step);
        FILE* f = std::fopen(index.c_str(), "r+b");
        if (f != nullptr && mail.FindMailInfo(f, m->uid)) {
            char rec[24];
            std::snprintf(rec, sizeof rec, "%06d%-16.16s", m->uid, m->name);
            rec[22] = m->seen ? 0x20 : 0;
            std::fwrite(rec, 1, 23, f);
        }
        if (f != nullptr)
            std::fclose(f);
    }
    fig.peerUpdate = Ms(Clock::now() - start) * count / n;
    return fig;
}

}  // namespace

int main()
{
    char tmpl[] = "/tmp/harborage-bench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr)
        return 2;
    fs::path root = tmpl;
    std::string rootText = root.string() + "/";

    Figures small = Measure(rootText, root, 1000, 5, 1000);
    Figures large = Measure(rootText, root, 10000, 3, 2000);
    std::error_code ec;
    fs::remove_all(root, ec);

    double updateRatio = large.update / small.update;
    double peerRatio = large.peerUpdate / small.peerUpdate;
    double rescanRatio = large.rescan / small.rescan;
    double adoptRatio = large.adopt / small.adopt;
    std::printf("flag update of every message      1,000: %9.2f ms   10,000: %9.2f ms   ratio %6.2f (target < 15)\n",
                small.update, large.update, updateRatio);
    std::printf("  peer, scan from the first record 1,000: %9.2f ms   10,000: %9.2f ms   ratio %6.2f "
                "(10,000 scaled from 2,000 updates)\n",
                small.peerUpdate, large.peerUpdate, peerRatio);
    std::printf("  ours vs peer at 10,000: %.1f times faster\n", large.peerUpdate / large.update);
    std::printf("rescan, index knows every file    1,000: %9.2f ms   10,000: %9.2f ms   ratio %6.2f (target < 10)\n",
                small.rescan, large.rescan, rescanRatio);
    std::printf("rescan, lost index (all adopted)  1,000: %9.2f ms   10,000: %9.2f ms   ratio %6.2f\n", small.adopt,
                large.adopt, adoptRatio);
    bool met = updateRatio < 15 && rescanRatio < 10;
    std::printf("%s\n", met ? "targets met" : "TARGET MISSED");
    return met ? 0 : 1;
}
