// An Aho-Corasick automaton over the words, with its transitions laid out as a dense table
// over the byte classes the words use.
#include "sievelet/word_index.h"

#include <deque>
#include <stdexcept>

namespace sievelet {

WordIndex::WordIndex(std::vector<std::string> words) : m_words(std::move(words))
{
    for (const std::string& w : m_words)
        for (unsigned char c : w)
            if (!m_class[c])
                m_class[c] = static_cast<uint16_t>(m_columns++);

    // The trie; transitions of state s are m_next[s * m_columns + column], 0 meaning none
    // until the failure pass below completes the table (state 0 is the root).
    m_next.assign(m_columns, 0);
    m_firstOutput.assign(1, -1);
    for (size_t i = 0; i < m_words.size(); ++i) {
        const std::string& w = m_words[i];
        if (w.empty())
            continue;
        uint32_t state = 0;
        for (unsigned char c : w) {
            uint32_t& slot = m_next[state * m_columns + m_class[c]];
            if (!slot) {
                slot = static_cast<uint32_t>(m_firstOutput.size());
                m_firstOutput.push_back(-1);
                m_next.resize(m_next.size() + m_columns, 0);
            }
            state = m_next[state * m_columns + m_class[c]];
        }
        m_outputs.push_back(static_cast<int32_t>(i));
        m_outputs.push_back(m_firstOutput[state]);
        m_firstOutput[state] = static_cast<int32_t>(m_outputs.size() - 2);
    }

    // Breadth first: each state's failure link is the longest proper suffix that is also a
    // trie state; missing transitions take the failure state's, and outputs are chained to
    // the failure state's outputs.
    std::vector<uint32_t> fail(m_firstOutput.size(), 0);
    std::deque<uint32_t> queue;
    for (size_t col = 0; col < m_columns; ++col)
        if (uint32_t child = m_next[col])
            queue.push_back(child);
    while (!queue.empty()) {
        uint32_t state = queue.front();
        queue.pop_front();
        // Append the failure state's outputs after this state's own (copying the chain keeps
        // Scan a single walk per state).
        if (int32_t inherited = m_firstOutput[fail[state]]; inherited >= 0) {
            if (m_firstOutput[state] < 0) {
                m_firstOutput[state] = inherited;
            } else {
                int32_t last = m_firstOutput[state];
                while (m_outputs[last + 1] >= 0 && m_outputs[last + 1] != inherited)
                    last = m_outputs[last + 1];
                m_outputs[last + 1] = inherited;
            }
        }
        for (size_t col = 0; col < m_columns; ++col) {
            uint32_t& slot = m_next[state * m_columns + col];
            uint32_t viaFail = m_next[fail[state] * m_columns + col];
            if (slot) {
                fail[slot] = viaFail;
                queue.push_back(slot);
            } else {
                slot = viaFail;
            }
        }
    }

    // For the scan, each transition holds the start of its target's row, and its top bit tells
    // whether the target ends a word: one dependent load per byte, no multiplication.
    if (m_firstOutput.size() * m_columns >= kEndsWord)
        throw std::length_error("word index too large");
    for (uint32_t& target : m_next)
        target = static_cast<uint32_t>(target * m_columns) | (m_firstOutput[target] >= 0 ? kEndsWord : 0);
    for (int c = 0; c < 256; ++c)
        m_staysAtRoot[c] = m_next[m_class[c]] == 0;
}

void WordIndex::Scan(const char* text, size_t length, std::vector<uint8_t>& found) const
{
    if (m_firstOutput.size() <= 1)
        return;
    const uint32_t* next = m_next.data();
    uint32_t row = 0;
    for (size_t i = 0; i < length; ++i) {
        // Outside every word, bytes that begin none are passed over without a transition.
        if (row == 0) {
            while (i < length && m_staysAtRoot[static_cast<unsigned char>(text[i])])
                ++i;
            if (i == length)
                break;
        }
        uint32_t t = next[row + m_class[static_cast<unsigned char>(text[i])]];
        row = t & ~kEndsWord;
        if (t & kEndsWord)
            for (int32_t o = m_firstOutput[row / m_columns]; o >= 0; o = m_outputs[o + 1])
                found[static_cast<size_t>(m_outputs[o])] = 1;
    }
}

}  // namespace sievelet
