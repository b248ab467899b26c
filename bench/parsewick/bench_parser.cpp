// Parse throughput over the SpamAssassin corpus: Parsewick (from memory, and from files as the
// IMAP server reads them) and GMime 3 on the same messages in the same run. Each side parses
// every message with its body and reads the decoded subject and sender; the best of several
// rounds counts.
#include <gmime/gmime.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "parsewick/parsewick.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string CorpusDir()
{
    std::string cmd = std::string("bash ") + ORVANTA_CORPUS_SCRIPT + " 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return "";
    std::string out;
    char buf[512];
    while (fgets(buf, sizeof buf, p))
        out += buf;
    if (pclose(p) != 0)
        return "";
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    size_t nl = out.rfind('\n');
    return nl == std::string::npos ? out : out.substr(nl + 1);
}

struct Message {
    fs::path path;
    std::string text;
};

volatile size_t g_sink;  // keeps the reads from being optimised away

double ParsewickRound(const std::vector<Message>& msgs)
{
    auto t0 = Clock::now();
    size_t sink = 0;
    for (const Message& m : msgs) {
        CMimeMessage* tree = CMailParser::ParsingMail(m.text.c_str(), true);
        CMailHeader* h = tree->GetHeader();
        sink += strlen(h->GetSubject()) + strlen(h->GetFromMail()) + static_cast<size_t>(tree->GetListSize());
        delete tree;
    }
    g_sink = sink;
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

double ParsewickFileRound(const std::vector<Message>& msgs)
{
    auto t0 = Clock::now();
    size_t sink = 0;
    for (const Message& m : msgs) {
        FILE* f = fopen(m.path.c_str(), "rb");
        if (!f)
            continue;
        CMimeMessage* tree = CMailParser::ParsingMailFromFile(f, static_cast<int>(m.text.size()), true);
        sink += strlen(tree->GetHeader()->GetSubject()) + static_cast<size_t>(tree->GetListSize());
        delete tree;
        fclose(f);
    }
    g_sink = sink;
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

double GMimeRound(const std::vector<Message>& msgs)
{
    auto t0 = Clock::now();
    size_t sink = 0;
    for (const Message& m : msgs) {
        GMimeStream* stream = g_mime_stream_mem_new_with_buffer(m.text.data(), m.text.size());
        GMimeParser* parser = g_mime_parser_new_with_stream(stream);
        GMimeMessage* msg = g_mime_parser_construct_message(parser, nullptr);
        if (msg) {
            const char* subject = g_mime_message_get_subject(msg);
            InternetAddressList* from = g_mime_message_get_from(msg);
            sink +=
                (subject ? strlen(subject) : 0) + static_cast<size_t>(from ? internet_address_list_length(from) : 0);
            GMimeObject* body = g_mime_message_get_mime_part(msg);
            if (body && GMIME_IS_MULTIPART(body))
                sink += static_cast<size_t>(g_mime_multipart_get_count(GMIME_MULTIPART(body)));
            g_object_unref(msg);
        }
        g_object_unref(parser);
        g_object_unref(stream);
    }
    g_sink = sink;
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    std::string dir = CorpusDir();
    if (dir.empty()) {
        fprintf(stderr, "bench_parser: corpus not available\n");
        return 1;
    }
    std::vector<Message> msgs;
    size_t bytes = 0;
    for (auto& e : fs::recursive_directory_iterator(dir)) {
        if (!e.is_regular_file() || e.path().extension() != ".eml")
            continue;
        std::ifstream in(e.path(), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        msgs.push_back({e.path(), s.str()});
        bytes += msgs.back().text.size();
    }
    std::sort(msgs.begin(), msgs.end(), [](const Message& a, const Message& b) { return a.path < b.path; });

    g_mime_init();
    double best_pw = 1e9, best_pwf = 1e9, best_gm = 1e9;
    for (int r = 0; r < rounds; ++r) {
        best_pw = std::min(best_pw, ParsewickRound(msgs));
        best_gm = std::min(best_gm, GMimeRound(msgs));
        best_pwf = std::min(best_pwf, ParsewickFileRound(msgs));
    }
    g_mime_shutdown();

    double mb = static_cast<double>(bytes) / (1024.0 * 1024.0);
    printf("corpus: %zu messages, %.1f MB, best of %d rounds\n", msgs.size(), mb, rounds);
    printf("Parsewick ParsingMail:         %8.1f MB/s  (%.3f s)\n", mb / best_pw, best_pw);
    printf("Parsewick ParsingMailFromFile: %8.1f MB/s  (%.3f s)\n", mb / best_pwf, best_pwf);
    printf("GMime 3 parser:                %8.1f MB/s  (%.3f s)\n", mb / best_gm, best_gm);
    printf("ratio Parsewick / GMime:       %8.2f\n", best_gm / best_pw);
    return 0;
}
