#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "components/toolwick/reg_exp.h"

// Finds, in one pass over a text, which of many literal words occur in it (byte-wise, case
// as given). A rule list checks hundreds of words against every message; scanning the text
// once per word made the content pass the dearest part of an examination.
//
// Its memory grows with the total length of the distinct words, not with the number of words
// times the alphabet: an online list of a hundred thousand rules must fit beside the program.
// A word given many times is held once, with the numbers of all its copies.
namespace sievelet {

class WordIndex {
public:
    // Word `number` is `word`; numbers of the index not given are empty words.
    struct Entry {
        uint32_t number;
        std::string_view word;
    };

    WordIndex() = default;
    // words[i] is looked for as word i; empty words are never found.
    explicit WordIndex(const std::vector<std::string>& words);
    // An index of `count` words, those not empty given by entries (numbers below count; the
    // texts need live only while the index is built). Throws std::invalid_argument for a
    // number out of range, std::length_error when the words are too long in all to index.
    // rowBytes caps the full rows (the root has one whatever it says); by default they take
    // a few bytes per byte of the words.
    static constexpr size_t kAutomaticRows = SIZE_MAX;
    WordIndex(size_t count, const std::vector<Entry>& entries, size_t rowBytes = kAutomaticRows);

    size_t Size() const { return m_size; }

    // Sets found[i] to 1 for every word i occurring in text[0..length); entries of words
    // not found are left as they were, so several texts may be scanned into one result.
    // Entries are only ever set, a word's copies all together: a word whose first copy's
    // entry is already set counts as reported and costs nothing more. found must hold
    // Size() entries.
    void Scan(const char* text, size_t length, std::vector<uint8_t>& found) const;

    // The bytes the index holds.
    size_t Bytes() const;
    // At most what an index of `words` words of `totalLength` bytes in all holds, and
    // allocates while it is built, beside the words it is given.
    static size_t BytesBound(size_t words, size_t totalLength);

private:
    uint32_t Transition(uint32_t state, unsigned char byte) const;
    uint32_t SparseTransition(uint32_t state, unsigned char byte) const;
    void Report(uint32_t state, std::vector<uint8_t>& found) const;

    size_t m_size = 0;
    uint16_t m_class[256] = {};  // byte -> column; 0 for bytes no word contains
    uint32_t m_columns = 1;
    // States are numbered breadth first. The first m_dense states (the shallow ones, where a
    // scan spends nearly all its time) have a full row of transitions; each holds either the
    // target's row start or kSparse and the target's number, kEndsWord set when the target
    // ends a word (itself or through its failure chain). Deeper states keep only their trie
    // children and follow their failure link when none fits.
    uint32_t m_dense = 0;
    std::vector<uint32_t> m_rows;
    bool m_staysAtRoot[256] = {};  // byte -> whether the root's transition on it is the root
    // Per state: its children are states m_firstChild[s] .. m_firstChild[s + 1], their bytes
    // in m_label (ascending); m_fail its failure link; m_output the first distinct word ending
    // at it or on its failure chain (-1 for none).
    std::vector<uint32_t> m_firstChild;
    std::vector<uint8_t> m_label;
    std::vector<uint32_t> m_fail;
    std::vector<int32_t> m_output;
    // Per distinct word: the next distinct word on its failure chain (-1 for none), and its
    // copies, m_numbers[m_copies[w] .. m_copies[w + 1]] (ascending).
    std::vector<int32_t> m_nextOutput;
    std::vector<uint32_t> m_copies;
    std::vector<uint32_t> m_numbers;
};

// The words of one rule list, indexed by the texts each kind of rule is matched against.
// Every index holds one entry per rule (empty for rules it does not serve), and the rule as
// it was when the index was built, so a rule edited since is noticed and checked directly.
struct RuleIndex {
    struct Key {
        unsigned char property = 0;
        unsigned char match = 0;
        std::string word;
    };
    std::vector<Key> keys;
    WordIndex sender;   // sender and receiver rules: always substrings
    WordIndex subject;  // literal subject rules
    WordIndex content;  // literal body, subject+body and whole-message rules
    // Pattern rules of the text properties, matched together; -1 for every other rule.
    std::unique_ptr<CRegExpSet> patterns;
    std::vector<int> patternNumber;
    bool stale = false;

    // At most what the index of a list of `rules` rules, whose words are `wordBytes` long in
    // all, takes, while it is built and after.
    static size_t BytesBound(size_t rules, size_t wordBytes);
};

}  // namespace sievelet
