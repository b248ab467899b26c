#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "components/toolwick/reg_exp.h"

// Finds, in one pass over a text, which of many literal words occur in it (byte-wise, case
// as given). A rule list checks hundreds of words against every message; scanning the text
// once per word made the content pass the dearest part of an examination.
namespace sievelet {

class WordIndex {
public:
    WordIndex() = default;
    // words[i] is looked for as word i; empty words are never found.
    explicit WordIndex(std::vector<std::string> words);

    size_t Size() const { return m_words.size(); }
    const std::string& Word(size_t i) const { return m_words[i]; }

    // Sets found[i] to 1 for every word i occurring in text[0..length); entries of words
    // not found are left as they were, so several texts may be scanned into one result.
    // found must hold Size() entries.
    void Scan(const char* text, size_t length, std::vector<uint8_t>& found) const;

private:
    std::vector<std::string> m_words;
    uint16_t m_class[256] = {};  // byte -> column; 0 for bytes no word contains
    size_t m_columns = 1;
    static constexpr uint32_t kEndsWord = 0x80000000u;
    // Row start (state * m_columns) + column -> the target's row start, kEndsWord set when
    // the target ends a word.
    std::vector<uint32_t> m_next;
    bool m_staysAtRoot[256] = {};        // byte -> whether the root's transition on it is the root
    std::vector<int32_t> m_firstOutput;  // state -> first entry in m_outputs, -1 for none
    std::vector<int32_t> m_outputs;      // pairs (word, next entry or -1)
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
};

}  // namespace sievelet
