#include "components/ledgerly/update_sites.h"

#include <cstdio>
#include <memory>

namespace ledgerly {

namespace {

constexpr size_t kLineBuffer = 100;    // 99 bytes and the terminator
constexpr size_t kShortestLine = 4;    // a shorter line ends the list
constexpr size_t kLongestSplit = 500;  // lines this long are not split

struct FileClose {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// One line as a 100-byte buffer holds it, without the line end; false at the end of the file.
// The list is a text file written on the original platform, so a CR LF counts as one line end,
// as that platform's text mode reads it.
bool ReadLine(std::FILE* file, std::string* line)
{
    line->clear();
    int c = 0;
    while (line->size() < kLineBuffer - 1 && (c = std::fgetc(file)) != EOF) {
        if (c == '\n')
            return true;
        if (c == '\r') {
            int next = std::fgetc(file);
            if (next == '\n')
                return true;
            if (next != EOF)
                std::ungetc(next, file);
        }
        line->push_back(static_cast<char>(c));
    }
    return !line->empty() || c != EOF;
}

}  // namespace

std::vector<std::string> SplitFields(std::string_view line)
{
    std::vector<std::string> fields;
    if (line.size() >= kLongestSplit)
        return fields;
    std::string field;
    bool quoted = false;
    for (char c : line) {
        if (c == '"')
            quoted = !quoted;
        if (c == ' ' && !quoted) {
            if (!field.empty())
                fields.push_back(std::move(field));
            field.clear();
            continue;
        }
        field.push_back(c);
    }
    if (!field.empty())
        fields.push_back(std::move(field));
    return fields;
}

std::vector<UpdateSite> LoadUpdateSites(const std::string& path, const std::string& defaultName,
                                        const std::string& defaultUrl)
{
    std::vector<UpdateSite> sites;
    if (std::unique_ptr<std::FILE, FileClose> file{std::fopen(path.c_str(), "rb")}) {
        std::string line;
        while (ReadLine(file.get(), &line) && line.size() >= kShortestLine) {
            std::vector<std::string> fields = SplitFields(line);
            if (fields.size() < 2)
                continue;
            // Without their quotes; a field of one byte has nothing between them.
            auto unquote = [](const std::string& f) {
                return f.size() < 2 ? std::string() : f.substr(1, f.size() - 2);
            };
            sites.push_back({unquote(fields[0]), unquote(fields[1])});
        }
    }
    if (sites.empty())
        sites.push_back({defaultName, defaultUrl});
    return sites;
}

}  // namespace ledgerly
