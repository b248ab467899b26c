// An Aho-Corasick automaton over the distinct words. The trie is laid out breadth first from
// the sorted words, so each state's children are consecutive states in byte order and a
// state costs 13 bytes whatever the alphabet. The shallow states also get full rows of
// transitions, as many as a budget proportional to the words' length allows: a scan of mail
// text rarely leaves them, so it keeps to one load per byte there.
#include "sievelet/word_index.h"

#include <algorithm>
#include <stdexcept>

namespace sievelet {

namespace {

constexpr uint32_t kEndsWord = 0x80000000u;
constexpr uint32_t kSparse = 0x40000000u;
constexpr uint32_t kNumberMask = 0x3fffffffu;

// Full rows may take this many bytes per byte of distinct words, and at least kRowsFloor, so
// a small list is all rows.
constexpr size_t kRowBytesPerWordByte = 8;
constexpr size_t kRowsFloor = 256 * 1024;
// Up to this many children are searched one by one, more by bisection.
constexpr uint32_t kLinearChildren = 8;

size_t RowBudget(size_t totalLength) { return std::max(kRowsFloor, kRowBytesPerWordByte * totalLength); }

std::vector<WordIndex::Entry> EntriesOf(const std::vector<std::string>& words)
{
    std::vector<WordIndex::Entry> entries;
    for (size_t i = 0; i < words.size(); ++i)
        if (!words[i].empty())
            entries.push_back({static_cast<uint32_t>(i), words[i]});
    return entries;
}

}  // namespace

WordIndex::WordIndex(const std::vector<std::string>& words) : WordIndex(words.size(), EntriesOf(words)) {}

WordIndex::WordIndex(size_t count, const std::vector<Entry>& entries, size_t rowBytes) : m_size(count)
{
    // The copies of each word side by side, in word order, then by number.
    std::vector<uint32_t> order;
    order.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].number >= count)
            throw std::invalid_argument("word number out of range");
        if (!entries[i].word.empty())
            order.push_back(static_cast<uint32_t>(i));
    }
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        int c = entries[a].word.compare(entries[b].word);
        return c < 0 || (c == 0 && entries[a].number < entries[b].number);
    });

    // Distinct words, and the number of trie states: each word adds the bytes past the prefix
    // it shares with the word before it.
    size_t states = 1, distinctLength = 0;
    m_copies.reserve(order.size() + 1);
    for (size_t k = 0; k < order.size(); ++k) {
        std::string_view word = entries[order[k]].word;
        if (k > 0) {
            std::string_view before = entries[order[k - 1]].word;
            if (word == before)
                continue;
            size_t shared = std::mismatch(word.begin(), word.end(), before.begin(), before.end()).first - word.begin();
            states += word.size() - shared;
        } else {
            states += word.size();
        }
        distinctLength += word.size();
        m_copies.push_back(static_cast<uint32_t>(k));
    }
    if (states > kNumberMask)
        throw std::length_error("word index too large");
    const size_t distinct = m_copies.size();
    m_copies.push_back(static_cast<uint32_t>(order.size()));
    for (const Entry& e : entries)
        for (unsigned char c : e.word)
            if (!m_class[c])
                m_class[c] = static_cast<uint16_t>(m_columns++);

    // The trie, breadth first. State s covers the distinct words first[s] .. last[s], which
    // share its first `depth` bytes; the shortest of them (the first) may end at s.
    auto wordAt = [&](size_t w) { return entries[order[m_copies[w]]].word; };
    m_firstChild.resize(states + 1);
    m_label.resize(states);
    m_output.assign(states, -1);  // the word ending at each state, until the failure pass
    m_nextOutput.assign(distinct, -1);
    {
        std::vector<uint32_t> first(states), last(states);
        first[0] = 0;
        last[0] = static_cast<uint32_t>(distinct);
        uint32_t made = 1, levelEnd = 1;
        size_t depth = 0;
        for (uint32_t s = 0; s < states; ++s) {
            if (s == levelEnd) {
                ++depth;
                levelEnd = made;
            }
            m_firstChild[s] = made;
            uint32_t w = first[s];
            if (w < last[s] && wordAt(w).size() == depth)
                m_output[s] = static_cast<int32_t>(w++);
            while (w < last[s]) {
                unsigned char byte = static_cast<unsigned char>(wordAt(w)[depth]);
                uint32_t end = w + 1;
                while (end < last[s] && static_cast<unsigned char>(wordAt(end)[depth]) == byte)
                    ++end;
                m_label[made] = byte;
                first[made] = w;
                last[made] = end;
                ++made;
                w = end;
            }
        }
        m_firstChild[states] = made;
    }

    // Full rows for the first states, as many as the budget allows.
    m_dense = static_cast<uint32_t>(
        std::clamp<size_t>(std::min(rowBytes, RowBudget(distinctLength)) / (m_columns * sizeof(uint32_t)), 1, states));
    m_dense = std::min<uint32_t>(m_dense, kNumberMask / m_columns);
    m_rows.assign(size_t(m_dense) * m_columns, 0);

    // Failure links, breadth first: a child's link is its parent's link followed by the
    // child's byte. Each state's output becomes the first word on its chain; a word links to
    // the next word on its own chain. Rows are completed from the failure state's row.
    m_fail.assign(states, 0);
    auto encode = [&](uint32_t s) {
        uint32_t code = s < m_dense ? s * m_columns : (kSparse | s);
        return m_output[s] >= 0 ? (code | kEndsWord) : code;
    };
    for (uint32_t s = 0; s < states; ++s) {
        for (uint32_t k = m_firstChild[s]; k < m_firstChild[s + 1]; ++k) {
            uint32_t target = s == 0 ? 0 : Transition(m_fail[s], m_label[k]) & ~kEndsWord;
            uint32_t f = (target & kSparse) ? (target & kNumberMask) : target / m_columns;
            m_fail[k] = f;
            if (m_output[k] >= 0)
                m_nextOutput[static_cast<size_t>(m_output[k])] = m_output[f];
            else
                m_output[k] = m_output[f];
        }
        if (s < m_dense) {
            uint32_t* row = &m_rows[size_t(s) * m_columns];
            if (s != 0)
                std::copy_n(&m_rows[size_t(m_fail[s]) * m_columns], m_columns, row);
            for (uint32_t k = m_firstChild[s]; k < m_firstChild[s + 1]; ++k)
                row[m_class[m_label[k]]] = encode(k);
        }
    }
    for (int c = 0; c < 256; ++c)
        m_staysAtRoot[c] = m_rows[m_class[c]] == 0;

    m_numbers.resize(order.size());
    for (size_t k = 0; k < order.size(); ++k)
        m_numbers[k] = entries[order[k]].number;
}

uint32_t WordIndex::Transition(uint32_t state, unsigned char byte) const
{
    if (state < m_dense)
        return m_rows[size_t(state) * m_columns + m_class[byte]];
    return SparseTransition(state, byte);
}

uint32_t WordIndex::SparseTransition(uint32_t state, unsigned char byte) const
{
    for (;;) {
        const uint32_t begin = m_firstChild[state], end = m_firstChild[state + 1];
        uint32_t child = end;
        if (end - begin <= kLinearChildren) {
            for (uint32_t k = begin; k < end; ++k)
                if (m_label[k] == byte) {
                    child = k;
                    break;
                }
        } else {
            const uint8_t* at = std::lower_bound(m_label.data() + begin, m_label.data() + end, byte);
            if (at != m_label.data() + end && *at == byte)
                child = static_cast<uint32_t>(at - m_label.data());
        }
        // A child of a state without a row is deeper still, so it has none either.
        if (child != end)
            return (kSparse | child) | (m_output[child] >= 0 ? kEndsWord : 0);
        state = m_fail[state];
        if (state < m_dense)
            return m_rows[size_t(state) * m_columns + m_class[byte]];
    }
}

void WordIndex::Report(uint32_t state, std::vector<uint8_t>& found) const
{
    for (int32_t w = m_output[state]; w >= 0; w = m_nextOutput[static_cast<size_t>(w)]) {
        const uint32_t begin = m_copies[static_cast<size_t>(w)], end = m_copies[static_cast<size_t>(w) + 1];
        if (found[m_numbers[begin]])
            continue;
        for (uint32_t k = begin; k < end; ++k)
            found[m_numbers[k]] = 1;
    }
}

void WordIndex::Scan(const char* text, size_t length, std::vector<uint8_t>& found) const
{
    if (m_label.size() <= 1)
        return;
    const uint32_t* rows = m_rows.data();
    uint32_t at = 0;  // a row start, or kSparse and a state
    for (size_t i = 0; i < length; ++i) {
        // Outside every word, bytes that begin none are passed over without a transition.
        if (at == 0) {
            while (i < length && m_staysAtRoot[static_cast<unsigned char>(text[i])])
                ++i;
            if (i == length)
                break;
        }
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        uint32_t t = (at & kSparse) ? SparseTransition(at & kNumberMask, byte) : rows[at + m_class[byte]];
        at = t & ~kEndsWord;
        if (t & kEndsWord)
            Report((at & kSparse) ? (at & kNumberMask) : at / m_columns, found);
    }
}

size_t WordIndex::Bytes() const
{
    return m_rows.capacity() * sizeof(uint32_t) + m_firstChild.capacity() * sizeof(uint32_t) + m_label.capacity() +
           m_fail.capacity() * sizeof(uint32_t) + m_output.capacity() * sizeof(int32_t) +
           m_nextOutput.capacity() * sizeof(int32_t) + m_copies.capacity() * sizeof(uint32_t) +
           m_numbers.capacity() * sizeof(uint32_t);
}

size_t WordIndex::BytesBound(size_t words, size_t totalLength)
{
    // States: at most one per byte and the root. Held: 13 bytes per state and the rows; while
    // building, 8 more per state (the word ranges) and the sort order, 4 per word. Per word
    // (distinct or a copy): its number, its copy range and its next output, 12 bytes.
    const size_t states = totalLength + 1;
    return 21 * states + 4 + RowBudget(totalLength) + 16 * words + 8;
}

size_t RuleIndex::BytesBound(size_t rules, size_t wordBytes)
{
    // Per rule: its key (and the word's own block when it is longer than a short string
    // keeps inline, with the allocator's overhead), its entry while the indexes are built,
    // its pattern number and the four results of a match. The three word indexes share the
    // rules, each with its own floor of rows and root.
    const size_t perRule = sizeof(Key) + 32 + sizeof(WordIndex::Entry) + sizeof(int) + 4;
    return rules * perRule + wordBytes + WordIndex::BytesBound(rules, wordBytes) + 3 * WordIndex::BytesBound(0, 0);
}

}  // namespace sievelet
