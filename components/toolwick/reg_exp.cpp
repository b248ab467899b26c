#include "components/toolwick/reg_exp.h"

#include <cstring>
#include <re2/re2.h>
#include <re2/set.h>

#include "components/toolwick/spencer_syntax.h"

struct CRegExp::Impl {
    std::unique_ptr<re2::RE2> re;
};

namespace {

bool HasHighByte(const char* text)
{
    for (; *text; ++text)
        if (static_cast<unsigned char>(*text) >= 0x80)
            return true;
    return false;
}

}  // namespace

CRegExp::CRegExp() : m_impl(std::make_unique<Impl>()) {}

CRegExp::~CRegExp() = default;

namespace {

// The RE2 form of a pattern, or nothing when it does not compile in the classic syntax.
std::optional<std::string> Prepared(const char* pattern)
{
    std::optional<std::string> translated = toolwick::TranslateSpencer(pattern);
    if (!translated)
        return std::nullopt;
    // RE2 2022-06 (Debian 12's) drops the Latin-1 flag from the common leading text it
    // factors out of alternatives ("\xb1\xa4\xb0\xed|\xb1\xa4\xc1\xd6") and then looks for
    // that text in its UTF-8 form before searching, so an unanchored search misses every
    // match. An empty group in front keeps that text from being the pattern's required
    // prefix; the price is only that search shortcut, so only patterns that can hit the fault
    // (an alternation and a byte above 0x7F) get it.
    if (strchr(pattern, '|') && HasHighByte(pattern))
        translated->insert(0, "()");
    return translated;
}

// Latin-1: every byte of text and pattern is one character, so CP949 words match CP949
// text byte for byte. Leftmost-first semantics give the match a backtracking matcher
// would report, without its exponential worst case.
re2::RE2::Options PatternOptions()
{
    re2::RE2::Options options;
    options.set_encoding(re2::RE2::Options::EncodingLatin1);
    options.set_case_sensitive(true);
    options.set_dot_nl(true);
    options.set_log_errors(false);
    return options;
}

}  // namespace

CRegExp* CRegExp::RegComp(const char* pattern)
{
    m_impl->re.reset();
    m_findLen = 0;
    std::optional<std::string> translated = Prepared(pattern);
    if (!translated)
        return nullptr;
    auto re = std::make_unique<re2::RE2>(*translated, PatternOptions());
    if (!re->ok())
        return nullptr;
    m_impl->re = std::move(re);
    return this;
}

int CRegExp::RegFind(const char* text)
{
    m_findLen = 0;
    if (!text || !m_impl->re)
        return -1;
    re2::StringPiece input(text, strlen(text));
    re2::StringPiece match;
    if (!m_impl->re->Match(input, 0, input.size(), re2::RE2::UNANCHORED, &match, 1))
        return -1;
    m_findLen = static_cast<int>(match.size());
    return static_cast<int>(match.data() - text);
}

int CRegExp::GetFindLen() const { return m_findLen; }

struct CRegExpSet::Impl {
    re2::RE2::Set set{PatternOptions(), re2::RE2::UNANCHORED};
    int count = 0;  // patterns added; RE2 numbers them as we do
    bool compiled = false;
};

CRegExpSet::CRegExpSet() : m_impl(std::make_unique<Impl>()) {}

CRegExpSet::~CRegExpSet() = default;

int CRegExpSet::Add(const char* pattern)
{
    if (!pattern || m_impl->compiled)
        return -1;
    std::optional<std::string> translated = Prepared(pattern);
    // A pattern RE2 refuses on its own does not go in either: RegComp fails on it.
    if (!translated || !re2::RE2(*translated, PatternOptions()).ok())
        return -1;
    if (m_impl->set.Add(*translated, nullptr) < 0)
        return -1;
    return m_impl->count++;
}

bool CRegExpSet::Compile()
{
    m_impl->compiled = m_impl->set.Compile();
    return m_impl->compiled;
}

bool CRegExpSet::Match(const char* text, std::vector<char>* found) const
{
    found->assign(static_cast<size_t>(m_impl->count), 0);
    if (!m_impl->compiled || !text)
        return false;
    std::vector<int> hits;
    re2::RE2::Set::ErrorInfo error{};
    if (!m_impl->set.Match(re2::StringPiece(text, strlen(text)), &hits, &error))
        return error.kind == re2::RE2::Set::kNoError;  // no pattern occurs, or undecided
    for (int h : hits)
        if (h >= 0 && h < m_impl->count)
            (*found)[static_cast<size_t>(h)] = 1;
    return true;
}
