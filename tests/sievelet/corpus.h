#pragma once

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/sievelet/test_support.h"

namespace sievelet_test {

struct CorpusMessage {
    std::string group;  // easy-ham-1, spam-2, ...
    std::string text;
    bool IsSpam() const { return group.rfind("spam", 0) == 0; }
};

// Fetches the SpamAssassin corpus (once per machine) and returns the directory of its
// messages, or "" when it cannot be had.
inline std::string CorpusDirectory(const char* script)
{
    std::string command = std::string("bash '") + script + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return "";
    std::string out;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe))
        out += buffer;
    if (pclose(pipe) != 0)
        return "";
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    size_t line = out.rfind('\n');
    if (line != std::string::npos)
        out = out.substr(line + 1);
    return std::filesystem::is_directory(out) ? out : "";
}

// Every message of every group, in name order; at most `limit` per group when limit > 0.
inline std::vector<CorpusMessage> LoadCorpus(const std::string& dir, size_t limit = 0)
{
    std::vector<CorpusMessage> messages;
    std::vector<std::filesystem::path> groups;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.is_directory())
            groups.push_back(entry.path());
    std::sort(groups.begin(), groups.end());
    for (const auto& group : groups) {
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(group))
            if (entry.path().extension() == ".eml")
                files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        if (limit > 0 && files.size() > limit)
            files.resize(limit);
        for (const auto& f : files)
            messages.push_back({group.filename().string(), ReadBytes(f.string())});
    }
    return messages;
}

}  // namespace sievelet_test
