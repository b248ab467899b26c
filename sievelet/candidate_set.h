#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Candidate sets of the worm signatures, built once and then only read, so any number of
// threads may test messages against them and no test allocates.
namespace sievelet {

// Texts of which any one occurring in a subject satisfies a test. Kept as a trie, so a
// subject is walked once per starting byte however many candidates there are (one signature
// has 2695 of them).
class SubjectSet {
public:
    SubjectSet() = default;
    explicit SubjectSet(const std::vector<std::string>& texts);

    // Adds a candidate carrying the given (non-zero) mark; marks of a text added twice
    // are combined.
    void Add(std::string_view text, uint64_t mark);

    bool Empty() const { return m_count == 0; }
    size_t Count() const { return m_count; }
    // Any candidate occurs in text[0..length) (byte-wise).
    bool OccursIn(const char* text, size_t length) const;
    // text equals one of the candidates, whole.
    bool EqualsOne(const char* text, size_t length) const;
    // The marks of every candidate occurring in text[0..length), combined.
    uint64_t Marks(const char* text, size_t length) const;

private:
    struct Node {
        uint32_t firstChild = 0;  // 0: none (node 0 is the root and never a child)
        uint32_t nextSibling = 0;
        unsigned char byte = 0;
        uint64_t mark = 0;  // non-zero where a candidate ends
    };
    uint32_t Child(uint32_t node, unsigned char byte) const;

    std::vector<Node> m_nodes{Node()};  // node 0: the root
    uint32_t m_rootChild[256] = {};     // the root's children by byte, for the first step
    uint64_t m_emptyMark = 0;           // the mark of the empty candidate, if there is one
    size_t m_count = 0;
};

// Attachment names compared whole and without regard to ASCII case.
class FileNameSet {
public:
    FileNameSet() = default;
    explicit FileNameSet(const std::vector<std::string>& names);

    bool Empty() const { return m_names.empty(); }
    size_t Count() const { return m_names.size(); }
    bool Contains(const char* name) const;

private:
    std::vector<std::string> m_names;  // lower-cased, sorted, unique
    size_t m_longest = 0;
};

// Every W + X + ... formed by taking one text of each part in turn, in order.
std::vector<std::string> Combine(const std::vector<std::vector<std::string>>& parts);

}  // namespace sievelet
