#pragma once

#include <cstdio>

// Static string helpers over fixed-size, NUL-terminated char buffers.
class CSpamUtil {
public:
    // Bounded copy into a buffer of `size` bytes; the result is always terminated, a long
    // source is cut. A size below 1 writes nothing.
    static void STRNCPY(char* dest, const char* src, long size);

    // Appends `count` bytes of `src` at `dest`, never more than `room` bytes (the room left in
    // the caller's large buffer). Returns the number of bytes copied. Callers keep track of
    // their length themselves; copying "\r\n" with count 3 also copies the terminator.
    static long STRNCPY(char* dest, const char* src, long count, long room);

    // Number of occurrences of `c` in the text.
    static long CountChar(const char* text, char c);

    // Copies src to dest with a backslash before every double quote. dest must hold
    // strlen(src) + CountChar(src, '"') + 1 bytes.
    static void AddSlashes(const char* src, char* dest);

    // Copies the line that starts at `pos` of text[0..end) into `line` (terminated, without its
    // line end, cut to size - 1 bytes) and returns the position after the line end, or a
    // negative value when no line is left (pos >= end).
    static long GetLine(char* line, long size, const char* text, long pos, long end);

    // The same over an open file; positions are file offsets and `end` is the offset where
    // reading stops.
    static long GetFileLine(char* line, long size, FILE* file, long pos, long end);

    // Lower-cases the text in place (ASCII only).
    static void ToLower(char*& text);
};
