#include "sievelet/text_match.h"

namespace sievelet {

size_t LowerCopy(char* dst, size_t size, const char* src)
{
    if (size == 0)
        return 0;
    size_t n = 0;
    if (src)
        for (; n + 1 < size && src[n]; ++n)
            dst[n] = LowerByte(src[n]);
    dst[n] = '\0';
    return n;
}

bool EqualsNoCase(const char* a, const char* b)
{
    if (!a || !b)
        return false;
    for (; *a && *b; ++a, ++b)
        if (LowerByte(*a) != LowerByte(*b))
            return false;
    return *a == *b;
}

}  // namespace sievelet
