// The encoded-word decoder and the codecs, plus the header handlers that feed values
// through fixed work areas (address, Content-Type, date, subject).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "parsewick/parsewick.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    const char* s = text.c_str();
    size_t len = strlen(s);

    std::vector<char> dst(len + 1);
    if (CMailHeader::CheckEncoding(s, dst.data()) && strlen(dst.data()) > len)
        abort();
    char small[16];
    CMailHeader::CheckEncoding(s, small, sizeof small);

    // Base64: decoding its own encoding gives the input back.
    std::vector<char> enc(size * 2 + 8);
    int n = CBase64::Encode(text.data(), static_cast<int>(size) - 1, enc.data(), size % 2 ? 76 : -1);
    std::vector<char> back(static_cast<size_t>(n) + 1);
    int m = CBase64::Decode(enc.data(), n, back.data());
    if (m != static_cast<int>(size) || memcmp(back.data(), text.data(), size) != 0)
        abort();
    CBase64::Decode(s, dst.data());
    CQuotedPrintable::Decode(s, dst.data());

    CMailHeader h;
    h.ParsingFrom("from", s);
    h.ParsingTo("to", s);
    h.ParsingContent_Type("content-type", s);
    h.ParsingDate("date", s);
    h.ParsingSubject("subject", s);
    (void)h.IsMultiPart();
    (void)h.GetFileName();
    return 0;
}
