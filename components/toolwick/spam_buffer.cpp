#include "components/toolwick/spam_buffer.h"

void CSpamBuffer::Append(const char* text)
{
    if (text)
        m_text.append(text);
}

void CSpamBuffer::Append(const char* data, long length)
{
    if (data && length > 0)
        m_text.append(data, static_cast<size_t>(length));
}

long CSpamBuffer::Size() const { return static_cast<long>(m_text.size()); }

const char* CSpamBuffer::c_str() const { return m_text.c_str(); }

void CSpamBuffer::Clear() { m_text.clear(); }
