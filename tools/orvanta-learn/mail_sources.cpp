#include "tools/orvanta-learn/mail_sources.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace orvanta::learn {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Every line end as CR LF.
std::string Crlf(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out.push_back('\r');
        out.push_back(text[i]);
    }
    return out;
}

void SplitMbox(const std::string& text, const std::function<void(const std::string&)>& each)
{
    std::string message;
    bool inMessage = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string_view line(text.data() + pos, end - pos);
        pos = end;
        if (line.substr(0, 5) == "From ") {
            if (inMessage)
                each(Crlf(message));
            message.clear();
            inMessage = true;
            continue;
        }
        // mboxrd and mboxo quote a body line that starts with "From " by one '>' more.
        size_t quotes = line.find_first_not_of('>');
        if (quotes != std::string_view::npos && quotes > 0 && line.substr(quotes, 5) == "From ")
            line.remove_prefix(1);
        message.append(line);
    }
    if (inMessage)
        each(Crlf(message));
}

bool IsMaildir(const fs::path& dir)
{
    std::error_code ec;
    return fs::is_directory(dir / "cur", ec) && fs::is_directory(dir / "new", ec);
}

void Files(const fs::path& dir, std::vector<fs::path>& out)
{
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(dir, fs::directory_options::skip_permission_denied, ec))
        // Hidden files are a mail program's own bookkeeping, not mail.
        if (entry.is_regular_file(ec) && entry.path().filename().string().rfind('.', 0) != 0)
            out.push_back(entry.path());
}

// A file holds an mbox when it starts like one, else one message.
void FileMessages(const std::string& text, const std::function<void(const std::string&)>& each)
{
    if (text.rfind("From ", 0) == 0)
        SplitMbox(text, each);
    else if (!text.empty())
        each(Crlf(text));
}

}  // namespace

bool ReadMailSource(const std::string& path, const std::function<void(const std::string& message)>& each)
{
    std::error_code ec;
    const fs::path source(path);
    if (fs::is_directory(source, ec)) {
        std::vector<fs::path> files;
        if (IsMaildir(source)) {
            Files(source / "cur", files);
            Files(source / "new", files);
        } else {
            Files(source, files);
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& f : files)
            FileMessages(ReadFile(f), each);
        return true;
    }
    std::ifstream probe(source, std::ios::binary);
    if (!probe)
        return false;
    FileMessages(ReadFile(source), each);
    return true;
}

}  // namespace orvanta::learn
