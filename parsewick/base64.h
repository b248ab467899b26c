#pragma once

// Base64 codec over caller-owned, NUL-terminated byte buffers (RFC 2045 alphabet, '=' pad).
// Stateless: every operation is static and nothing is allocated.
class CBase64 {
public:
    CBase64() = default;
    ~CBase64() = default;
    CBase64(const CBase64&) = default;
    CBase64& operator=(const CBase64&) = default;

    // Encodes src[0..last] (last = length - 1; a negative value encodes nothing) into dst and
    // terminates it. lineLen is rounded down to a multiple of 4 and a CR LF follows every line
    // that reaches it; -1 means no line breaks. Returns the characters written, line breaks
    // included. dst must hold the whole result plus the terminator (twice the input is enough
    // for lineLen 76).
    static int Encode(const char* src, int last, char* dst, int lineLen);

    // Decodes src[0..count-1] into dst, skipping every character outside the alphabet (line
    // ends, blanks, '=' padding). Terminates dst and returns the bytes produced; dst needs
    // count + 1 bytes at most. The output may hold zero bytes of its own.
    static int Decode(const char* src, int count, char* dst);
    static int Decode(const char* src, char* dst);

    // Alphabet value of a character, or -1 (0xFF) outside the alphabet ('=' included).
    static char AsciiToValue(char c);
    // Alphabet character of a value 0..63, or -1 (0xFF) for anything else.
    static char ValueToAscii(char value);
    // Skips from pos to the first character inside the alphabet before end (exclusive);
    // returns its value and leaves pos just after it, or -1 when none is left.
    static char GetCorrectChar(const char* src, int& pos, int end);
};
