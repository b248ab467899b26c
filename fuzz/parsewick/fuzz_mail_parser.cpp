// Whole messages through the parser from memory and from a file, the decoders of every part,
// and the writer, whose output must fit the size it estimates.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "parsewick/parsewick.h"

namespace {

void Walk(CMimeMessage* m)
{
    CMailHeader* h = m->GetHeader();
    (void)h->GetFileName();
    (void)h->IsAttachFile();
    (void)h->GetDate();
    if (char* d = m->GetDecodingMesg())
        free(d);
    for (int i = 0; i < m->GetListSize(); ++i)
        Walk(m->GetChild(i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);

    CMimeMessage* m = CMailParser::ParsingMail(text.c_str(), true);
    Walk(m);
    std::string boundary = m->GetHeader()->GetBoundary();
    long total = CMailParser::GetMimeTotalLength(m, boundary.c_str());
    char* out = CMailParser::MimeToMailSrc(m);
    if (!out || static_cast<long>(strlen(out)) >= total)
        abort();
    CMimeMessage* again = CMailParser::ParsingMail(out, false);
    delete again;
    free(out);
    delete m;

    CMailHeader header;
    CMailParser::CheckHeader(nullptr, text.c_str(), 0, static_cast<int>(strlen(text.c_str())), header);

    if (size > 0) {
        FILE* f = fmemopen(const_cast<char*>(text.data()), size, "rb");
        if (f) {
            CMimeMessage* fm = CMailParser::ParsingMailFromFile(f, static_cast<int>(size), size % 2 == 0);
            Walk(fm);
            delete fm;
            fclose(f);
        }
    }
    return 0;
}
