// Runs every message of the SpamAssassin public corpus through the parser and checks what must
// hold for any message: no crash (under AddressSanitizer), header fields found, part contents
// inside the message, text parts decoding to text, and a round trip through MimeToMailSrc
// that reproduces header, preamble and parts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "parsewick/parsewick.h"

namespace fs = std::filesystem;

namespace {

struct TreeDeleter {
    void operator()(CMimeMessage* m) const { delete m; }
};
using Tree = std::unique_ptr<CMimeMessage, TreeDeleter>;

// Fetches the corpus (the script prints the messages directory) and lists its files.
std::vector<fs::path> CorpusFiles()
{
    std::string cmd = std::string("bash ") + ORVANTA_CORPUS_SCRIPT + " 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return {};
    std::string out;
    char buf[512];
    while (fgets(buf, sizeof buf, p))
        out += buf;
    if (pclose(p) != 0)
        return {};
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    std::string dir = out.substr(out.rfind('\n') == std::string::npos ? 0 : out.rfind('\n') + 1);
    std::vector<fs::path> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (it->is_regular_file() && it->path().extension() == ".eml")
            files.push_back(it->path());
    std::sort(files.begin(), files.end());
    return files;
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string ContentOf(CMimeMessage* m) { return m->GetContent() ? m->GetContent() : ""; }

// Header source, content and shape of two trees agree; returns the first difference.
std::string Compare(CMimeMessage* a, CMimeMessage* b, const std::string& where)
{
    if (*a->GetHeader()->GetHeaderSrc() != *b->GetHeader()->GetHeaderSrc())
        return where + ": header";
    if (ContentOf(a) != ContentOf(b))
        return where + ": content";
    if (a->IsMultiPart() != b->IsMultiPart() || a->GetListSize() != b->GetListSize())
        return where + ": shape";
    for (int i = 0; i < a->GetListSize(); ++i) {
        std::string d = Compare(a->GetChild(i), b->GetChild(i), where + "/" + std::to_string(i));
        if (!d.empty())
            return d;
    }
    return "";
}

struct Stats {
    int nodes = 0;
    int textParts = 0;
    int multipart = 0;
};

// Checks every node; the contents of all parts lie inside the message text.
void CheckNode(CMimeMessage* m, const std::string& text, Stats& st, std::vector<std::string>& errors,
               const std::string& name)
{
    ++st.nodes;
    CMailHeader* h = m->GetHeader();
    long size = m->GetContentSize();
    if (size > static_cast<long>(text.size()))
        errors.push_back(name + ": content larger than the message");
    if (m->GetContent() && size > 0 &&
        text.find(std::string(m->GetContent(), std::min<long>(size, 64))) == std::string::npos)
        errors.push_back(name + ": content not found in the message");
    if (m->IsMultiPart()) {
        ++st.multipart;
        if (!h->IsMultiPart())
            errors.push_back(name + ": multipart node without a multipart header");
        if (*h->GetBoundary() == '\0' && m->GetListSize() != 0)
            errors.push_back(name + ": children without a boundary");
    }
    std::string type = h->GetContentType();
    bool text_part = !m->IsMultiPart() && (type.empty() || strncasecmp(type.c_str(), "text/", 5) == 0);
    if (text_part && size > 0) {
        std::string enc = h->GetEncoding();
        bool known = strcasecmp(enc.c_str(), "7bit") == 0 || strcasecmp(enc.c_str(), "8bit") == 0 ||
                     strcasecmp(enc.c_str(), "quoted-printable") == 0 || strcasecmp(enc.c_str(), "base64") == 0;
        const char* c = m->GetContent();
        bool visible = std::any_of(c, c + size, [](char ch) { return ch > ' ' && ch != '='; });
        if (known && visible) {
            ++st.textParts;
            char* d = m->GetDecodingMesg();
            if (!d || !*d)
                errors.push_back(name + ": text part decodes to nothing");
            free(d);
        }
    }
    for (int i = 0; i < m->GetListSize(); ++i)
        CheckNode(m->GetChild(i), text, st, errors, name);
}

}  // namespace

TEST(Corpus, EveryMessageParsesAndRoundTrips)
{
    std::vector<fs::path> files = CorpusFiles();
    ASSERT_GT(files.size(), 5000u) << "corpus not available";

    Stats st;
    std::vector<std::string> errors;
    int withFrom = 0, withSubject = 0, withDate = 0, exact = 0, exactCandidates = 0;
    int fromFile = 0;
    for (size_t idx = 0; idx < files.size(); ++idx) {
        const fs::path& path = files[idx];
        std::string name = path.filename().string();
        std::string text = ReadFile(path);
        Tree t(CMailParser::ParsingMail(text.c_str(), true));
        ASSERT_NE(t, nullptr);
        CMailHeader* h = t->GetHeader();
        if (*h->GetFromMail())
            ++withFrom;
        if (h->GetHeaderMap().count("subject"))
            ++withSubject;
        if (h->GetDate().GetStatus() == COleDateTime::valid)
            ++withDate;

        // The header reader alone finds the same body start the tree was built from.
        CMailHeader alone;
        int body = CMailParser::CheckHeader(nullptr, text.c_str(), 0, static_cast<int>(text.size()), alone);
        if (*alone.GetHeaderSrc() != *h->GetHeaderSrc())
            errors.push_back(name + ": CheckHeader differs from the tree's header");
        if (body >= 0 && !t->IsMultiPart() && ContentOf(t.get()) != text.substr(static_cast<size_t>(body)))
            errors.push_back(name + ": body is not the rest of the message");

        CheckNode(t.get(), text, st, errors, name);

        // Writing the tree out and parsing it again gives the same tree.
        std::string boundary = h->GetBoundary();
        long total = CMailParser::GetMimeTotalLength(t.get(), boundary.c_str());
        char* out = CMailParser::MimeToMailSrc(t.get());
        ASSERT_NE(out, nullptr);
        std::string written = out;
        free(out);
        if (static_cast<long>(written.size()) >= total)
            errors.push_back(name + ": output larger than its estimate");
        Tree again(CMailParser::ParsingMail(written.c_str(), true));
        std::string diff = Compare(t.get(), again.get(), name);
        if (!diff.empty())
            errors.push_back(diff + " (round trip)");
        // A message with short header lines and no parts comes back byte for byte.
        bool shortLines = std::all_of(h->GetHeaderSrc()->begin(), h->GetHeaderSrc()->end(),
                                      [](const std::string& l) { return l.size() < 2047; });
        if (!t->IsMultiPart() && body >= 0 && shortLines) {
            ++exactCandidates;
            if (written == text)
                ++exact;
            else
                errors.push_back(name + ": single-part round trip differs");
        }

        // Every tenth message also through the file reader, as the IMAP server reads it.
        if (idx % 10 == 0) {
            ++fromFile;
            FILE* f = fopen(path.c_str(), "rb");
            ASSERT_NE(f, nullptr);
            Tree ft(CMailParser::ParsingMailFromFile(f, static_cast<int>(text.size()), true));
            fclose(f);
            std::string fd = Compare(t.get(), ft.get(), name);
            if (!fd.empty())
                errors.push_back(fd + " (file)");
        }
    }

    for (size_t i = 0; i < errors.size() && i < 20; ++i)
        ADD_FAILURE() << errors[i];
    EXPECT_TRUE(errors.empty()) << errors.size() << " problems";
    // Nearly every message names a sender, a subject and a date that parses.
    double n = static_cast<double>(files.size());
    EXPECT_GT(withFrom / n, 0.99);
    EXPECT_GT(withSubject / n, 0.99);
    EXPECT_GT(withDate / n, 0.95);
    EXPECT_GT(st.multipart, 300);
    EXPECT_GT(st.textParts, 5000);
    EXPECT_EQ(exact, exactCandidates);
    RecordProperty("messages", static_cast<int>(files.size()));
    printf("messages %zu, nodes %d, multipart %d, text parts %d, exact round trips %d, file parses %d, "
           "from %d, subject %d, date %d\n",
           files.size(), st.nodes, st.multipart, st.textParts, exact, fromFile, withFrom, withSubject, withDate);
}
