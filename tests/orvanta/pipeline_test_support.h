#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "orvanta/pipeline/message_reader.h"

namespace pipeline_test {

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "pipeline-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            path_ = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    // The directory with a trailing slash, as the program keeps its data directory.
    std::string Dir() const { return path_.string() + "/"; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// POP3 transmission of a message: every line that starts with "." gets another one, then
// the terminating "." line.
inline std::string DotStuff(const std::string& message)
{
    std::string out;
    size_t pos = 0;
    while (pos < message.size()) {
        size_t lf = message.find('\n', pos);
        size_t end = lf == std::string::npos ? message.size() : lf + 1;
        if (message[pos] == '.')
            out += '.';
        out.append(message, pos, end - pos);
        pos = end;
    }
    return out + ".\r\n";
}

// Hands out the lines of a byte string as CClientSocket::ReadLine does: without the line
// end, a line longer than the caller's buffer in pieces; -1 at the end of the data.
class StringSource : public orvanta::pipeline::LineSource {
public:
    explicit StringSource(std::string data) : data_(std::move(data)) {}
    int ReadLine(char* dest, int size) override
    {
        size_t lf = data_.find('\n', pos_);
        if (lf == std::string::npos)
            return -1;  // an unfinished line is dropped, as by the socket
        size_t end = lf;
        while (end > pos_ && data_[end - 1] == '\r')
            --end;
        size_t content = end - pos_;
        size_t copy = std::min(content, static_cast<size_t>(size - 1));
        data_.copy(dest, copy, pos_);
        dest[copy] = '\0';
        if (copy == content) {
            pos_ = lf + 1;
            ended_ = true;
        } else {
            pos_ += copy;
            ended_ = false;
        }
        return static_cast<int>(copy);
    }
    bool LastLineEnded() const override { return ended_; }
    bool AtEnd() const { return pos_ >= data_.size(); }

private:
    std::string data_;
    size_t pos_ = 0;
    bool ended_ = false;
};

}  // namespace pipeline_test
