#pragma once

// Quoted-printable decoder over caller-owned, NUL-terminated byte buffers. Stateless.
class CQuotedPrintable {
public:
    CQuotedPrintable() = default;
    ~CQuotedPrintable() = default;
    CQuotedPrintable(const CQuotedPrintable&) = default;
    CQuotedPrintable& operator=(const CQuotedPrintable&) = default;

    // Decodes src[0..last] (last = length - 1) into dst and terminates it; returns the bytes
    // produced (never more than last + 1). "=XY" with two hexadecimal digits becomes one byte;
    // any other '=' is dropped, so a soft break "=\r\n" keeps its CR LF; an '=' among the last
    // two positions is copied. A negative last gives an empty output and 0.
    static int Decode(const char* src, int last, char* dst);
    static int Decode(const char* src, char* dst);

    static bool Is16(char c);                          // '0'-'9', 'A'-'F', 'a'-'f'
    static unsigned char Get16Value(char c);           // 0..15, 0 for a non-digit
    static unsigned char Convert10(char hi, char lo);  // hi * 16 + lo

    // Kept for the interface; nothing in the system encodes quoted-printable. Does nothing.
    static void Encode(const char* src, char* dst);
};
