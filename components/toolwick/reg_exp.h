#pragma once

#include <memory>
#include <vector>

// Henry Spencer's classic regular expressions over bytes, matched in linear time.
// Dialect: alternation `|`, grouping `( )`, `*` `+` `?`, `.` (any byte, newline included),
// `[...]` with ranges and leading `^` for negation (a `]` or `-` first in the brackets is
// literal, a backslash in brackets is literal), `^` and `$` anchored at the ends of the text,
// `\c` for a literal c. Every other byte, those of 0x80 and above included, matches itself;
// matching is case-sensitive. Patterns the classic syntax rejects do not compile: `*`, `+`
// or `?` following nothing (a leading `*`, `(*a)`, `a|*b`), a repeated repetition (`a**`,
// `a+?`), `*` or `+` applied to something that can match empty (`(a*)*`, `^*`), unbalanced
// parentheses or brackets, a reversed range (`[z-a]`), a trailing backslash and more than
// nine groups.
class CRegExp {
public:
    CRegExp();
    ~CRegExp();
    CRegExp(const CRegExp&) = delete;
    CRegExp& operator=(const CRegExp&) = delete;

    // Compiles the pattern, replacing any earlier one; returns this object, or null when the
    // pattern does not compile (the object then matches nothing).
    CRegExp* RegComp(const char* pattern);

    // Offset of the first (leftmost) match in the text, or -1 when there is none or nothing
    // is compiled.
    int RegFind(const char* text);

    // Length of the match found by the last RegFind; 0 after a failed one.
    int GetFindLen() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    int m_findLen = 0;
};

// Many patterns of the CRegExp dialect matched in one pass over a text: which of them occur.
// A pattern that does not compile is in no answer, as a CRegExp of it matches nothing.
class CRegExpSet {
public:
    CRegExpSet();
    ~CRegExpSet();
    CRegExpSet(const CRegExpSet&) = delete;
    CRegExpSet& operator=(const CRegExpSet&) = delete;

    // Adds a pattern before Compile; its number in Match's answers, or -1 when it does not
    // compile.
    int Add(const char* pattern);
    // False when the set cannot be built; Match then always fails.
    bool Compile();
    // The numbers of the patterns that occur in the text (up to its first NUL, as RegFind
    // reads it), in *found (one flag per number). False when the set could not decide (not
    // compiled, or out of memory on this text): the caller matches the patterns one by one.
    bool Match(const char* text, std::vector<char>* found) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
