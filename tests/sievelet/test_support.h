#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "parsewick/parsewick.h"

namespace sievelet_test {

// A fresh directory under the system's temporary directory, removed with the object.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "sievelet-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ec);
    }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

inline std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

inline void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The header block of a message text, parsed by Parsewick's header reader.
inline CMailHeader HeaderOf(const std::string& text)
{
    CMailHeader header;
    CMailParser::CheckHeader(nullptr, text.c_str(), 0, static_cast<int>(text.size()), header);
    return header;
}

// The headers of every MIME part, the message's own first, in depth-first order: what the
// pipeline hands to the program filter.
inline void CollectHeaders(CMimeMessage* node, std::vector<CMailHeader>& out)
{
    if (!node)
        return;
    out.push_back(*node->GetHeader());
    for (int i = 0; i < node->GetListSize(); ++i)
        CollectHeaders(node->GetChild(i), out);
}

inline std::vector<CMailHeader> PartHeaders(const std::string& text)
{
    std::vector<CMailHeader> headers;
    CMimeMessage* root = CMailParser::ParsingMail(text.c_str(), true);
    CollectHeaders(root, headers);
    delete root;
    return headers;
}

// A multipart/mixed message with the given subject and one attachment per file name.
inline std::string MessageWithAttachments(const std::string& subject, const std::vector<std::string>& files)
{
    std::string text = "From: Kim <kim@example.com>\r\n"
                       "To: lee@example.net\r\n"
                       "Subject: " +
                       subject +
                       "\r\n"
                       "MIME-Version: 1.0\r\n"
                       "Content-Type: multipart/mixed; boundary=\"XYZ\"\r\n"
                       "\r\n"
                       "preamble\r\n"
                       "--XYZ\r\n"
                       "Content-Type: text/plain\r\n"
                       "\r\n"
                       "hello\r\n";
    for (const std::string& f : files)
        text += "--XYZ\r\n"
                "Content-Type: application/octet-stream; name=\"" +
                f +
                "\"\r\n"
                "Content-Transfer-Encoding: base64\r\n"
                "\r\n"
                "TVqQAAMAAAAEAAAA\r\n";
    text += "--XYZ--\r\n";
    return text;
}

}  // namespace sievelet_test
