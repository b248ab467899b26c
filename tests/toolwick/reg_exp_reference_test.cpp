// CRegExp against a small backtracking matcher with the classic semantics (leftmost match;
// alternatives in order; greedy repetition), on many random patterns and texts. The two must
// agree on which patterns compile, on the offset of the first match and on its length.
#include "components/toolwick/reg_exp.h"

#include <bitset>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Node {
    enum Kind { Byte, Bol, Eol, Cat, Alt, Star, Plus, Opt } kind = Cat;
    std::bitset<256> set;  // for Byte
    std::vector<Node> kids;
};

// Parses the classic syntax into a tree; nothing for a rejected pattern.
class Parser {
public:
    explicit Parser(const std::string& p) : m_p(p) {}

    std::optional<Node> Parse()
    {
        bool width = false;
        auto n = Alternation(width);
        if (!n || m_i != m_p.size())
            return std::nullopt;
        return n;
    }

private:
    int Peek() const { return m_i < m_p.size() ? static_cast<unsigned char>(m_p[m_i]) : -1; }

    std::optional<Node> Alternation(bool& width)
    {
        Node alt{Node::Alt, {}, {}};
        width = true;
        for (;;) {
            Node cat{Node::Cat, {}, {}};
            bool catWidth = false;
            while (Peek() != -1 && Peek() != '|' && Peek() != ')') {
                bool w = false;
                auto piece = Piece(w);
                if (!piece)
                    return std::nullopt;
                catWidth |= w;
                cat.kids.push_back(*piece);
            }
            width &= catWidth;
            alt.kids.push_back(cat);
            if (Peek() != '|')
                return alt;
            ++m_i;
        }
    }

    std::optional<Node> Piece(bool& width)
    {
        auto atom = Atom(width);
        if (!atom)
            return std::nullopt;
        int op = Peek();
        if (op != '*' && op != '+' && op != '?')
            return atom;
        if (!width && op != '?')
            return std::nullopt;
        ++m_i;
        int next = Peek();
        if (next == '*' || next == '+' || next == '?')
            return std::nullopt;
        width = op == '+';
        Node rep{op == '*' ? Node::Star : op == '+' ? Node::Plus : Node::Opt, {}, {*atom}};
        return rep;
    }

    std::optional<Node> Atom(bool& width)
    {
        int c = Peek();
        width = true;
        Node n{Node::Byte, {}, {}};
        switch (c) {
        case '^':
            ++m_i;
            width = false;
            return Node{Node::Bol, {}, {}};
        case '$':
            ++m_i;
            width = false;
            return Node{Node::Eol, {}, {}};
        case '.':
            ++m_i;
            n.set.set();
            n.set.reset(0);
            return n;
        case '(': {
            ++m_i;
            if (++m_groups > 9)
                return std::nullopt;
            auto inner = Alternation(width);
            if (!inner || Peek() != ')')
                return std::nullopt;
            ++m_i;
            return inner;
        }
        case '[': {
            ++m_i;
            bool neg = Peek() == '^';
            if (neg)
                ++m_i;
            int prev = -1;
            if (Peek() == ']' || Peek() == '-') {
                prev = Peek();
                n.set.set(static_cast<size_t>(prev));
                ++m_i;
            }
            while (Peek() != -1 && Peek() != ']') {
                int ch = Peek();
                ++m_i;
                if (ch == '-' && Peek() != ']' && Peek() != -1) {
                    int last = Peek();
                    ++m_i;
                    if (prev > last)
                        return std::nullopt;
                    for (int b = prev; b <= last; ++b)
                        n.set.set(static_cast<size_t>(b));
                    prev = last;
                } else {
                    n.set.set(static_cast<size_t>(ch));
                    prev = ch;
                }
            }
            if (Peek() != ']')
                return std::nullopt;
            ++m_i;
            if (neg) {
                n.set.flip();
                n.set.reset(0);
            }
            return n;
        }
        case -1:
        case '|':
        case ')':
        case '*':
        case '+':
        case '?': return std::nullopt;
        case '\\':
            ++m_i;
            if (Peek() == -1)
                return std::nullopt;
            c = Peek();
            [[fallthrough]];
        default:
            ++m_i;
            n.set.set(static_cast<size_t>(c));
            return n;
        }
    }

    std::string m_p;
    size_t m_i = 0;
    int m_groups = 0;
};

using Cont = std::function<bool(size_t)>;

class Matcher {
public:
    explicit Matcher(const std::string& text) : m_t(text) {}

    bool M(const Node& n, size_t i, const Cont& k) const
    {
        switch (n.kind) {
        case Node::Byte: return i < m_t.size() && n.set.test(static_cast<unsigned char>(m_t[i])) && k(i + 1);
        case Node::Bol: return i == 0 && k(i);
        case Node::Eol: return i == m_t.size() && k(i);
        case Node::Cat: return Seq(n, 0, i, k);
        case Node::Alt:
            for (const Node& kid : n.kids)
                if (M(kid, i, k))
                    return true;
            return false;
        case Node::Star: return Star(n.kids[0], i, k);
        case Node::Plus: return M(n.kids[0], i, [&](size_t j) { return Star(n.kids[0], j, k); });
        case Node::Opt: return M(n.kids[0], i, k) || k(i);
        }
        return false;
    }

private:
    bool Seq(const Node& n, size_t at, size_t i, const Cont& k) const
    {
        if (at == n.kids.size())
            return k(i);
        return M(n.kids[at], i, [&](size_t j) { return Seq(n, at + 1, j, k); });
    }

    bool Star(const Node& child, size_t i, const Cont& k) const
    {
        return M(child, i, [&](size_t j) { return j > i && Star(child, j, k); }) || k(i);
    }

    const std::string& m_t;
};

std::pair<int, int> ReferenceFind(const Node& root, const std::string& text)
{
    Matcher m(text);
    for (size_t start = 0; start <= text.size(); ++start) {
        size_t end = 0;
        if (m.M(root, start, [&](size_t j) {
                end = j;
                return true;
            }))
            return {static_cast<int>(start), static_cast<int>(end - start)};
    }
    return {-1, 0};
}

}  // namespace

TEST(RegExpReference, AgreesWithABacktrackingMatcherOnRandomPatterns)
{
    // "\xB1\xA4" and "\xB1\xA4\xC1" are CP949 syllables sharing a lead byte, as Korean words
    // in alternatives often do.
    const char* tokens[] = {"a",
                            "b",
                            "\xB1",
                            "\xB1\xA4",
                            "\xB1\xA4\xC1",
                            ".",
                            "[ab]",
                            "[^a]",
                            "[a-b]",
                            "[]-a]",
                            "[\xA4-\xC1]",
                            "(",
                            ")",
                            "|",
                            "|",
                            "*",
                            "+",
                            "?",
                            "^",
                            "$",
                            "\\*",
                            "\\",
                            "[",
                            "]",
                            "-",
                            "{"};
    const char alphabet[] = {'a', 'b', '\n', '\xB1', '\xA4', '\xC1', '*', ']', '-', '{'};
    std::mt19937 rng(20261207);
    int compiled = 0, matched = 0;
    for (int round = 0; round < 30000; ++round) {
        std::string pattern;
        int length = 1 + static_cast<int>(rng() % 8);
        for (int i = 0; i < length; ++i)
            pattern += tokens[rng() % std::size(tokens)];

        auto tree = Parser(pattern).Parse();
        CRegExp re;
        bool ok = re.RegComp(pattern.c_str()) != nullptr;
        ASSERT_EQ(ok, tree.has_value()) << "pattern: " << pattern;
        if (!ok)
            continue;
        ++compiled;
        for (int t = 0; t < 4; ++t) {
            std::string text;
            int n = static_cast<int>(rng() % 10);
            for (int i = 0; i < n; ++i)
                text += alphabet[rng() % std::size(alphabet)];
            auto expected = ReferenceFind(*tree, text);
            int at = re.RegFind(text.c_str());
            ASSERT_EQ(std::make_pair(at, re.GetFindLen()), expected) << "pattern: " << pattern << " text: " << text;
            if (at >= 0 && expected.second > 0)
                ++matched;
        }
    }
    // The comparison is only worth something when enough patterns compiled and matched.
    EXPECT_GT(compiled, 3000);
    EXPECT_GT(matched, 3000);
}

// Many patterns matched together must answer as each one matched alone, for patterns that
// compile and those that do not, CP949 alternatives included.
TEST(RegExpReference, SetAgreesWithSinglePatterns)
{
    const char* tokens[] = {"a", "b", "\xB1", "\xB1\xA4", "\xB1\xA4\xC1", ".", "[ab]", "[^a]", "(", ")", "|", "*",
                            "+", "?", "^",    "$",        "\\*",          "["};
    const char alphabet[] = {'a', 'b', '\n', '\xB1', '\xA4', '\xC1', '*'};
    std::mt19937 rng(20261208);
    int hits = 0, misses = 0;
    for (int round = 0; round < 300; ++round) {
        std::vector<std::string> patterns(1 + rng() % 40);
        for (std::string& p : patterns)
            for (int i = 0, n = 1 + static_cast<int>(rng() % 6); i < n; ++i)
                p += tokens[rng() % std::size(tokens)];
        CRegExpSet set;
        std::vector<int> number;
        for (const std::string& p : patterns)
            number.push_back(set.Add(p.c_str()));
        ASSERT_TRUE(set.Compile());
        for (int t = 0; t < 10; ++t) {
            std::string text;
            for (int i = 0, n = static_cast<int>(rng() % 12); i < n; ++i)
                text += alphabet[rng() % std::size(alphabet)];
            std::vector<char> found;
            ASSERT_TRUE(set.Match(text.c_str(), &found));
            for (size_t k = 0; k < patterns.size(); ++k) {
                CRegExp re;
                bool alone = re.RegComp(patterns[k].c_str()) && re.RegFind(text.c_str()) >= 0;
                ASSERT_EQ(number[k] >= 0, re.RegComp(patterns[k].c_str()) != nullptr) << patterns[k];
                bool together = number[k] >= 0 && found[static_cast<size_t>(number[k])];
                ASSERT_EQ(together, alone) << "pattern: " << patterns[k] << " text: " << text;
                (alone ? hits : misses)++;
            }
        }
    }
    EXPECT_GT(hits, 5000);
    EXPECT_GT(misses, 5000);
}
