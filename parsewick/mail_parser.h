#pragma once

#include <cstdio>

#include "parsewick/mail_header.h"
#include "parsewick/mime_message.h"

// Reads a message from a memory text or an open file into a tree of CMimeMessage nodes, reads
// a header block alone, and writes a tree back out as message text. Parsing never fails:
// malformed input gives fewer fields, fewer parts or empty contents.
class CMailParser {
public:
    // Line buffer of every read: a line is cut to kLineSize - 1 bytes.
    static constexpr int kLineSize = 2048;
    // Nesting depth beyond which a multipart part is kept whole as one leaf (its content
    // being the raw body), so a hostile message cannot exhaust the stack.
    static constexpr int kMaxDepth = 64;

    // Parses the terminated text; the root's has-body flag becomes loadBody. The caller
    // deletes the returned root.
    static CMimeMessage* ParsingMail(const char* text, bool loadBody);
    // Parses bytes [0, size) of the file, a line at a time; null when file is null.
    static CMimeMessage* ParsingMailFromFile(FILE* file, int size, bool loadBody);
    // Builds the tree of [start, end) of text (when not null) or else of the file.
    static CMimeMessage* ParsingMailRecursive(FILE* file, const char* text, int start, int end, bool loadBody);

    // Reads and parses one header block from pos into header. Returns the position of the
    // first body byte, or a negative value when the data ended before the blank line (or
    // pos == end).
    static int CheckHeader(FILE* file, const char* text, int pos, int end, CMailHeader& header);
    // Splits one header line. True for a field line (name and value filled; name is at most
    // 90 bytes), false for a continuation (value = the trimmed line) or anything else.
    // value must hold strlen(line) + 1 bytes, name 91 bytes.
    static bool ParsingHeader(const char* line, char* name, char* value);
    // First position in [from, to) that is neither blank nor tab, or from when none.
    static int LeftTrimPos(const char* s, int from, int to);
    // Last position in (from, to - 1] that is neither blank nor tab, or to - 1 when none.
    static int RightTrimPos(const char* s, int from, int to);

    // An upper bound of the bytes GetMimeTotalMesg writes for node (boundary = the node's own).
    static long GetMimeTotalLength(CMimeMessage* node, const char* boundary);
    // Writes node as message text into out (not terminated); returns the bytes written.
    // out must hold GetMimeTotalLength(node, boundary) bytes.
    static int GetMimeTotalMesg(CMimeMessage* node, char* out, const char* boundary);
    // The whole tree as terminated message text, malloc'd; the caller frees it.
    static char* MimeToMailSrc(CMimeMessage* node);
};
