// A filter file as the block lists and the pass list load it, then every matching pass over a
// fixed message (the word index and the patterns are built from the file's rules), and a save
// and a second load that must give the same list.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "parsewick/parsewick.h"
#include "sievelet/pass_filter.h"
#include "sievelet/spam_filter.h"

namespace {

std::string g_directory;

const char kMessage[] = "From: \"Kim Lee\" <kim@example.org>\r\n"
                        "To: box@example.net\r\n"
                        "Subject: cheap pills and a loan offer\r\n"
                        "Content-Type: text/plain\r\n"
                        "\r\n"
                        "buy now, free money, click here: http://spam.example.com/\r\n";

void Write(const std::string& path, const uint8_t* data, size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

bool SameRules(CSpamFilter& a, CSpamFilter& b)
{
    if (a.GetSize() != b.GetSize())
        return false;
    for (int i = 0; i < a.GetSize(); ++i) {
        const SPAM_FILTER* x = a.GetSpamFilter(i);
        const SPAM_FILTER* y = b.GetSpamFilter(i);
        if (x->fid != y->fid || x->hit != y->hit || std::strcmp(x->word, y->word) != 0 ||
            std::strcmp(x->folder, y->folder) != 0 || std::strcmp(x->description, y->description) != 0 ||
            x->match != y->match || x->property != y->property || x->sign != y->sign)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::filesystem::path base =
        std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    std::filesystem::path dir = base / ("orvanta-fuzz-filter-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    g_directory = dir.string();
    std::atexit([] { std::filesystem::remove_all(g_directory); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string blockPath = g_directory + "/private.flt";
    const std::string passPath = g_directory + "/pass.flt";
    Write(blockPath, data, size);
    Write(passPath, data, size);

    static CMailHeader* header = [] {
        auto* h = new CMailHeader;
        CMailParser::CheckHeader(nullptr, kMessage, 0, static_cast<int>(std::strlen(kMessage)), *h);
        return h;
    }();
    {
        CSpamFilter block(blockPath.c_str());
        SPAM_FILTER result;
        char folder[256] = {};
        int action = 0;
        for (int level = 0; level < 3; ++level) {
            block.DoSpamFiltering(result, header, folder, &action, level, true, true, true, true);
            std::string text = kMessage;
            for (char& c : text)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            block.DoSpamContentFiltering(result, text.c_str(), folder, &action, level, true, true, true);
        }
        block.DoFileFiltering(result, "invoice.pdf.exe", folder, &action);
        if (block.GetRefusal().empty() && block.SaveSpamFilter()) {
            CSpamFilter again(blockPath.c_str());
            if (!SameRules(block, again))
                abort();
        }
    }
    {
        CPassFilter pass(passPath.c_str());
        pass.DoPassFiltering(header);
        int before = pass.GetSize();
        pass.SavePassFilter();
        CPassFilter again(passPath.c_str());
        if (again.GetSize() != before)
            abort();
    }
    return 0;
}
