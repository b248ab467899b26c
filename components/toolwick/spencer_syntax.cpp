#include "components/toolwick/spencer_syntax.h"

#include <bitset>

namespace toolwick {
namespace {

// The classic parser's limit: group numbers 1-9.
constexpr int kMaxGroups = 9;

// Set on a piece, branch or group that cannot match the empty text; `*` and `+` need it.
constexpr int kHasWidth = 1;

bool IsRepeat(unsigned char c) { return c == '*' || c == '+' || c == '?'; }

// A recursive-descent parser with the structure of the classic compiler (reg, branch, piece,
// atom), so that it accepts and rejects exactly what that compiler does. It writes the RE2
// form as it goes: every literal byte as itself (letters, digits) or as \xHH, groups as
// (?:...), classes as explicit byte ranges.
class Translator {
public:
    explicit Translator(const char* pattern) : m_p(reinterpret_cast<const unsigned char*>(pattern)) {}

    std::optional<std::string> Run()
    {
        int flags = 0;
        if (!Reg(false, flags))
            return std::nullopt;
        return std::move(m_out);
    }

private:
    bool Reg(bool paren, int& flags)
    {
        flags = kHasWidth;
        if (paren) {
            if (m_groups >= kMaxGroups)
                return false;
            ++m_groups;
            m_out += "(?:";
        }
        int branchFlags = 0;
        if (!Branch(branchFlags))
            return false;
        if (!(branchFlags & kHasWidth))
            flags &= ~kHasWidth;
        while (*m_p == '|') {
            ++m_p;
            m_out += '|';
            if (!Branch(branchFlags))
                return false;
            if (!(branchFlags & kHasWidth))
                flags &= ~kHasWidth;
        }
        if (paren) {
            if (*m_p != ')')
                return false;  // unmatched (
            ++m_p;
            m_out += ')';
        } else if (*m_p != '\0') {
            return false;  // unmatched ) or trailing junk
        }
        return true;
    }

    bool Branch(int& flags)
    {
        flags = 0;
        bool empty = true;
        while (*m_p != '\0' && *m_p != '|' && *m_p != ')') {
            int pieceFlags = 0;
            if (!Piece(pieceFlags))
                return false;
            flags |= pieceFlags & kHasWidth;
            empty = false;
        }
        if (empty)
            m_out += "(?:)";
        return true;
    }

    bool Piece(int& flags)
    {
        int atomFlags = 0;
        if (!Atom(atomFlags))
            return false;
        unsigned char op = *m_p;
        if (!IsRepeat(op)) {
            flags = atomFlags;
            return true;
        }
        if (!(atomFlags & kHasWidth) && op != '?')
            return false;  // * or + on something that may match empty
        m_out += static_cast<char>(op);
        ++m_p;
        flags = op == '+' ? kHasWidth : 0;
        return !IsRepeat(*m_p);  // a** and the like
    }

    bool Atom(int& flags)
    {
        unsigned char c = *m_p;
        switch (c) {
        case '^':
            ++m_p;
            m_out += "(?:\\A)";
            flags = 0;
            return true;
        case '$':
            ++m_p;
            m_out += "(?:\\z)";
            flags = 0;
            return true;
        case '.':
            ++m_p;
            m_out += "(?s:.)";
            flags = kHasWidth;
            return true;
        case '[':
            ++m_p;
            flags = kHasWidth;
            return Class();
        case '(': {
            ++m_p;
            int groupFlags = 0;
            if (!Reg(true, groupFlags))
                return false;
            flags = groupFlags & kHasWidth;
            return true;
        }
        case '\0':
        case '|':
        case ')':
        case '?':
        case '+':
        case '*': return false;  // repetition following nothing
        case '\\':
            ++m_p;
            if (*m_p == '\0')
                return false;  // trailing backslash
            Literal(*m_p++);
            flags = kHasWidth;
            return true;
        default:
            Literal(*m_p++);
            flags = kHasWidth;
            return true;
        }
    }

    // After the opening bracket. A leading ^ negates; a ] or - right after [ or [^ is
    // literal; a - before ] is literal; a backslash is literal; a range runs from the byte
    // before the - (which may be the end of an earlier range) to the byte after it.
    bool Class()
    {
        std::bitset<256> set;
        bool negate = false;
        if (*m_p == '^') {
            negate = true;
            ++m_p;
        }
        unsigned prev = 0;
        if (*m_p == ']' || *m_p == '-') {
            prev = *m_p++;
            set.set(prev);
        }
        while (*m_p != '\0' && *m_p != ']') {
            if (*m_p == '-') {
                ++m_p;
                if (*m_p == ']' || *m_p == '\0') {
                    prev = '-';
                    set.set(prev);
                } else {
                    unsigned last = *m_p++;
                    if (prev > last)
                        return false;  // reversed range
                    for (unsigned b = prev; b <= last; ++b)
                        set.set(b);
                    prev = last;
                }
            } else {
                prev = *m_p++;
                set.set(prev);
            }
        }
        if (*m_p != ']')
            return false;  // unmatched [
        ++m_p;

        if (negate) {
            set.flip();
            set.reset(0);  // the end of the text is never matched
        }
        EmitClass(set);
        return true;
    }

    void EmitClass(const std::bitset<256>& set)
    {
        if (set.none()) {
            m_out += "[^\\x00-\\xff]";  // matches no byte
            return;
        }
        m_out += '[';
        for (unsigned b = 0; b < 256;) {
            if (!set.test(b)) {
                ++b;
                continue;
            }
            unsigned e = b;
            while (e + 1 < 256 && set.test(e + 1))
                ++e;
            Hex(b);
            if (e != b) {
                m_out += '-';
                Hex(e);
            }
            b = e + 1;
        }
        m_out += ']';
    }

    void Literal(unsigned char c)
    {
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
            m_out += static_cast<char>(c);
        else
            Hex(c);
    }

    void Hex(unsigned b)
    {
        static const char digits[] = "0123456789abcdef";
        m_out += "\\x";
        m_out += digits[(b >> 4) & 0xF];
        m_out += digits[b & 0xF];
    }

    const unsigned char* m_p;
    int m_groups = 0;
    std::string m_out;
};

}  // namespace

std::optional<std::string> TranslateSpencer(const char* pattern)
{
    if (!pattern)
        return std::nullopt;
    return Translator(pattern).Run();
}

}  // namespace toolwick
