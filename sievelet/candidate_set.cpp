#include "sievelet/candidate_set.h"

#include <algorithm>
#include <cstring>

#include "sievelet/text_match.h"

namespace sievelet {

SubjectSet::SubjectSet(const std::vector<std::string>& texts)
{
    for (const std::string& text : texts)
        Add(text, 1);
}

void SubjectSet::Add(std::string_view text, uint64_t mark)
{
    ++m_count;
    if (text.empty()) {
        m_emptyMark |= mark;
        return;
    }
    uint32_t node = 0;
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        uint32_t child = Child(node, byte);
        if (!child) {
            child = static_cast<uint32_t>(m_nodes.size());
            Node fresh;
            fresh.byte = byte;
            fresh.nextSibling = m_nodes[node].firstChild;
            m_nodes.push_back(fresh);
            m_nodes[node].firstChild = child;
            if (node == 0)
                m_rootChild[byte] = child;
        }
        node = child;
    }
    m_nodes[node].mark |= mark;
}

uint32_t SubjectSet::Child(uint32_t node, unsigned char byte) const
{
    if (node == 0)
        return m_rootChild[byte];
    for (uint32_t c = m_nodes[node].firstChild; c; c = m_nodes[c].nextSibling)
        if (m_nodes[c].byte == byte)
            return c;
    return 0;
}

bool SubjectSet::OccursIn(const char* text, size_t length) const
{
    if (m_emptyMark)
        return true;
    if (m_count == 0 || !text)
        return false;
    for (size_t start = 0; start < length; ++start) {
        uint32_t node = m_rootChild[static_cast<unsigned char>(text[start])];
        for (size_t i = start + 1; node; ++i) {
            if (m_nodes[node].mark)
                return true;
            if (i >= length)
                break;
            node = Child(node, static_cast<unsigned char>(text[i]));
        }
    }
    return false;
}

uint64_t SubjectSet::Marks(const char* text, size_t length) const
{
    uint64_t marks = m_emptyMark;
    if (m_count == 0 || !text)
        return marks;
    for (size_t start = 0; start < length; ++start) {
        uint32_t node = m_rootChild[static_cast<unsigned char>(text[start])];
        for (size_t i = start + 1; node; ++i) {
            marks |= m_nodes[node].mark;
            if (i >= length)
                break;
            node = Child(node, static_cast<unsigned char>(text[i]));
        }
    }
    return marks;
}

bool SubjectSet::EqualsOne(const char* text, size_t length) const
{
    if (!text)
        return false;
    if (length == 0)
        return m_emptyMark != 0;
    uint32_t node = 0;
    for (size_t i = 0; i < length && (node || i == 0); ++i)
        node = Child(node, static_cast<unsigned char>(text[i]));
    return node && m_nodes[node].mark;
}

FileNameSet::FileNameSet(const std::vector<std::string>& names)
{
    for (std::string name : names) {
        for (char& c : name)
            c = LowerByte(c);
        m_longest = std::max(m_longest, name.size());
        m_names.push_back(std::move(name));
    }
    std::sort(m_names.begin(), m_names.end());
    m_names.erase(std::unique(m_names.begin(), m_names.end()), m_names.end());
}

bool FileNameSet::Contains(const char* name) const
{
    if (!name || m_names.empty())
        return false;
    size_t length = strnlen(name, m_longest + 1);
    if (length > m_longest)
        return false;  // longer than every candidate
    char lowered[256];
    std::string_view key;
    std::string spill;  // only for candidate lists with names over 255 bytes
    if (length < sizeof lowered) {
        LowerCopy(lowered, sizeof lowered, name);
        key = std::string_view(lowered, length);
    } else {
        spill.assign(name, length);
        for (char& c : spill)
            c = LowerByte(c);
        key = spill;
    }
    return std::binary_search(m_names.begin(), m_names.end(), key,
                              [](std::string_view a, std::string_view b) { return a < b; });
}

std::vector<std::string> Combine(const std::vector<std::vector<std::string>>& parts)
{
    std::vector<std::string> result{std::string()};
    for (const auto& part : parts) {
        std::vector<std::string> next;
        next.reserve(result.size() * part.size());
        for (const std::string& head : result)
            for (const std::string& tail : part)
                next.push_back(head + tail);
        result = std::move(next);
    }
    return result;
}

}  // namespace sievelet
