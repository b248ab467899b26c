#pragma once

#include <string>

// A growable text buffer: empty on construction, always terminated. Size() counts the bytes
// held, without the terminator.
class CSpamBuffer {
public:
    void Append(const char* text);
    void Append(const char* data, long length);
    long Size() const;
    const char* c_str() const;
    void Clear();

private:
    std::string m_text;
};
