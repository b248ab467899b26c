#pragma once

#include <memory>

// Henry Spencer's classic regular expressions over bytes, matched in linear time.
// Dialect: alternation `|`, grouping `( )`, `*` `+` `?`, `.` (any byte, newline included),
// `[...]` with ranges and leading `^` for negation, `^` and `$` anchored at the ends of the
// text, `\c` for a literal c. Patterns the classic syntax rejects (a leading `*`, `a**`,
// unbalanced parentheses or brackets) do not compile.
class CRegExp {
public:
    CRegExp();
    ~CRegExp();
    CRegExp(const CRegExp&) = delete;
    CRegExp& operator=(const CRegExp&) = delete;

    // Compiles the pattern; returns this object, or null when the pattern does not compile
    // (the object then matches nothing).
    CRegExp* RegComp(const char* pattern);

    // Position of the first match in the text, or -1.
    int RegFind(const char* text);

    // Length of the last match found by RegFind.
    int GetFindLen() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    int m_findLen = 0;
};
