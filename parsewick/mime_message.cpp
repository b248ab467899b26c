#include "parsewick/mime_message.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "parsewick/base64.h"
#include "parsewick/quoted_printable.h"

CMimeMessage::CMimeMessage(bool multipart) : m_multipart(multipart) {}

CMimeMessage::~CMimeMessage()
{
    free(m_content);
    for (CMimeMessage* child : m_children)
        delete child;
}

void CMimeMessage::SetHeader(CMailHeader header) { m_header = std::move(header); }

CMailHeader* CMimeMessage::GetHeader() { return &m_header; }

bool CMimeMessage::IsMultiPart() const { return m_multipart; }

void CMimeMessage::SetHasBody(bool hasBody) { m_hasBody = hasBody; }

bool CMimeMessage::HasBody() const { return m_hasBody; }

void CMimeMessage::SetMesgContent(FILE* file, const char* text, long offset, long size)
{
    free(m_content);
    m_content = nullptr;
    if (size < 0)
        size = 0;
    if (offset < 0)
        offset = 0;
    m_content = static_cast<char*>(malloc(static_cast<size_t>(size) + 1));
    if (!m_content) {
        m_contentSize = 0;
        return;
    }
    size_t got = 0;
    if (text) {
        // A zero byte ends the text: nothing after it is copied.
        got = strnlen(text + offset, static_cast<size_t>(size));
        memcpy(m_content, text + offset, got);
    } else if (file && fseek(file, offset, SEEK_SET) == 0) {
        got = fread(m_content, 1, static_cast<size_t>(size), file);
    }
    // Bytes a short text or file did not supply read as zeros.
    memset(m_content + got, 0, static_cast<size_t>(size) + 1 - got);
    m_contentSize = size;
}

char* CMimeMessage::GetContent() { return m_content; }

long CMimeMessage::GetContentSize() const { return m_content ? static_cast<long>(strlen(m_content)) : 0; }

char* CMimeMessage::GetDecodingMesg()
{
    if (m_contentSize == 0 || !m_content)
        return nullptr;
    const char* encoding = m_header.GetEncoding();
    enum { kCopy, kQuoted, kBase64 } how;
    if (strcasecmp(encoding, "7bit") == 0 || strcasecmp(encoding, "8bit") == 0)
        how = kCopy;
    else if (strcasecmp(encoding, "quoted-printable") == 0)
        how = kQuoted;
    else if (strcasecmp(encoding, "base64") == 0)
        how = kBase64;
    else
        return nullptr;

    char* out = static_cast<char*>(malloc(static_cast<size_t>(m_contentSize) + 1));
    if (!out)
        return nullptr;
    switch (how) {
    case kCopy:
        memcpy(out, m_content, static_cast<size_t>(m_contentSize));
        out[m_contentSize] = '\0';
        break;
    case kQuoted: CQuotedPrintable::Decode(m_content, out); break;
    case kBase64: CBase64::Decode(m_content, out); break;
    }
    m_decoded = out;
    return out;
}

void CMimeMessage::AddList(CMimeMessage* child)
{
    if (child)
        m_children.push_back(child);
}

void CMimeMessage::InsertList(int index, CMimeMessage* child)
{
    if (!child)
        return;
    if (index < 0)
        index = 0;
    if (static_cast<size_t>(index) >= m_children.size())
        m_children.push_back(child);
    else
        m_children.insert(m_children.begin() + index, child);
}

CMimeMessage* CMimeMessage::GetChild(int i)
{
    if (i < 0 || static_cast<size_t>(i) >= m_children.size())
        return nullptr;
    return m_children[static_cast<size_t>(i)];
}

int CMimeMessage::GetListSize() const { return static_cast<int>(m_children.size()); }

void CMimeMessage::PrintMail(std::string* out)
{
    if (!out)
        return;
    for (CMimeMessage* child : m_children)
        child->PrintMail(out);
    if (!m_multipart && m_content)
        out->append(m_content);
}

void CMimeMessage::PrintAll() { fprintf(stderr, "%s\n", m_content ? m_content : ""); }
