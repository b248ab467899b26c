#pragma once

#include <cstdio>

// Static string helpers over fixed-size, NUL-terminated char buffers. Sources are taken as
// const char* so that callers may pass either their own buffers or constant texts.
class CSpamUtil {
public:
    // Bounded copy into a buffer of `size` bytes; the result is always terminated, a long
    // source is cut to size - 1 bytes. A size below 1 writes nothing.
    static void STRNCPY(char* dest, const char* src, long size);

    // Appends a piece of `count` bytes of `src` at `dest`, where `room` bytes are left in the
    // caller's large buffer. The copy stops after the source's terminator, so "\r\n" with
    // count 3 copies the line end and the terminator. When count exceeds the room the piece is
    // cut to room - 1 bytes and terminated, so nothing is written past the room.
    // Returns the number of bytes written, terminator included.
    static long STRNCPY(char* dest, const char* src, long count, long room);

    // Number of occurrences of `c` in the text.
    static long CountChar(const char* text, char c);

    // Copies src to dest with a backslash before every double quote. dest must hold
    // strlen(src) + CountChar(src, '"') + 1 bytes.
    static void AddSlashes(const char* src, char* dest);

    // Copies the line that starts at `pos` of text[0..end) into `line` without its line end
    // ("\n" or "\r\n"; a lone CR stays part of the line), terminated and cut to size - 1
    // bytes, and returns the position after the line end (or `end` for a last line without
    // one). Returns -1 when no line is left (pos < 0 or pos >= end); `line` is then empty.
    static long GetLine(char* line, long size, const char* text, long pos, long end);

    // The same over an open file; positions are file offsets and reading stops at the offset
    // `end` or at the end of the file, whichever comes first.
    static long GetFileLine(char* line, long size, FILE* file, long pos, long end);

    // Lower-cases the text in place ('A'-'Z' only; other bytes, CP949 included, are kept).
    static void ToLower(char*& text);
};
