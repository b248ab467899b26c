#pragma once

#include <cstddef>

namespace harborage {

// A decimal number of `n` bytes as the original atol read it: blanks, a sign, then leading
// digits only. Reads the index's counter and UIDs and the number in a message file's name.
// By hand and inline: a rescan reads one for every record.
inline long ParseNumber(const char* p, size_t n)
{
    size_t i = 0;
    while (i < n && (p[i] == ' ' || (p[i] >= '\t' && p[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < n && (p[i] == '+' || p[i] == '-'))
        negative = p[i++] == '-';
    long value = 0;
    for (size_t digits = 0; i < n && digits < 15 && p[i] >= '0' && p[i] <= '9'; ++i, ++digits)
        value = value * 10 + (p[i] - '0');
    return negative ? -value : value;
}

}  // namespace harborage
