#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "parsewick/mail_header.h"

// One node of a parsed MIME tree: its header, its raw (undecoded) content and its children.
// A node owns its content and its children; deleting the root frees the whole tree.
class CMimeMessage {
public:
    explicit CMimeMessage(bool multipart);
    ~CMimeMessage();
    CMimeMessage(const CMimeMessage&) = delete;
    CMimeMessage& operator=(const CMimeMessage&) = delete;

    // The node's header becomes a copy of header.
    void SetHeader(CMailHeader header);
    CMailHeader* GetHeader();

    bool IsMultiPart() const;
    void SetHasBody(bool hasBody);
    bool HasBody() const;

    // Replaces the content with size bytes taken from text + offset (when text is not null;
    // the copy stops at a zero byte) or else read from the file at offset. The content is
    // terminated and its size recorded.
    void SetMesgContent(FILE* file, const char* text, long offset, long size);
    // The raw content, or null when none was set.
    char* GetContent();
    // Length of the content up to its first zero byte; 0 when there is none.
    long GetContentSize() const;
    // The content decoded by the header's transfer encoding (7bit, 8bit, quoted-printable,
    // base64; any other gives null), in a malloc'd buffer the caller frees. Null when the
    // recorded content size is 0.
    char* GetDecodingMesg();

    // Appends a child; the node takes ownership.
    void AddList(CMimeMessage* child);
    // Inserts a child before the one at index (at the end when index is past the last,
    // at the front when it is negative); the node takes ownership.
    void InsertList(int index, CMimeMessage* child);
    // The child at i, or null when i is out of range.
    CMimeMessage* GetChild(int i);
    int GetListSize() const;

    // Appends, depth first, the content of every node that is not multipart.
    void PrintMail(std::string* out);
    // Debugging aid: writes the content to standard error.
    void PrintAll();

private:
    bool m_multipart;
    bool m_hasBody = false;
    CMailHeader m_header;
    char* m_content = nullptr;
    char* m_decoded = nullptr;  // last GetDecodingMesg result; owned by that caller
    long m_contentSize = 0;
    std::vector<CMimeMessage*> m_children;
};
