#include "winnow/html_text.h"

#include <cstdint>
#include <cstdlib>

#include "winnow/utf8.h"

namespace winnow {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsNoCase(std::string_view text, size_t at, std::string_view prefix)
{
    if (text.size() - at < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (Lower(text[at + i]) != prefix[i])
            return false;
    return true;
}

// Position of the first case-insensitive `needle` at or after `from`, or npos.
size_t FindNoCase(std::string_view text, size_t from, std::string_view needle)
{
    for (size_t i = from; i + needle.size() <= text.size(); ++i)
        if (StartsNoCase(text, i, needle))
            return i;
    return std::string_view::npos;
}

// The values of the attributes inside one tag that name a link target.
void TagLinks(std::string_view tag, std::vector<std::string>& hosts)
{
    for (std::string_view name : {"href", "src", "action", "background"}) {
        size_t at = 0;
        while ((at = FindNoCase(tag, at, name)) != std::string_view::npos) {
            size_t p = at + name.size();
            at = p;
            while (p < tag.size() && (tag[p] == ' ' || tag[p] == '\t' || tag[p] == '\r' || tag[p] == '\n'))
                ++p;
            if (p >= tag.size() || tag[p] != '=')
                continue;
            ++p;
            while (p < tag.size() && (tag[p] == ' ' || tag[p] == '\t'))
                ++p;
            char quote = p < tag.size() && (tag[p] == '"' || tag[p] == '\'') ? tag[p++] : '\0';
            size_t end = p;
            while (end < tag.size() && (quote ? tag[end] != quote : tag[end] != ' ' && tag[end] != '>'))
                ++end;
            std::string host = UrlHost(tag.substr(p, end - p));
            if (!host.empty())
                hosts.push_back(std::move(host));
        }
    }
}

// A character reference at text[at] == '&': appends its character and returns the bytes it
// took, or 0 when it is none of the forms known here.
size_t Reference(std::string_view text, size_t at, std::string& out)
{
    size_t semi = text.find(';', at);
    if (semi == std::string_view::npos || semi - at > 10)
        return 0;
    std::string_view name = text.substr(at + 1, semi - at - 1);
    uint32_t code = 0;
    if (name.size() > 1 && name[0] == '#') {
        const bool hex = name[1] == 'x' || name[1] == 'X';
        std::string digits(name.substr(hex ? 2 : 1));
        char* end = nullptr;
        unsigned long value = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
        if (digits.empty() || *end != '\0' || value == 0 || value > 0x10FFFF)
            return 0;
        code = static_cast<uint32_t>(value);
    } else if (name == "amp") {
        code = '&';
    } else if (name == "lt") {
        code = '<';
    } else if (name == "gt") {
        code = '>';
    } else if (name == "quot") {
        code = '"';
    } else if (name == "apos") {
        code = '\'';
    } else if (name == "nbsp") {
        code = ' ';
    } else {
        return 0;
    }
    AppendUtf8(code, out);
    return semi - at + 1;
}

}  // namespace

std::string UrlHost(std::string_view url)
{
    size_t scheme = url.find("://");
    if (scheme == std::string_view::npos || scheme == 0 || scheme > 10)
        return "";
    size_t start = scheme + 3;
    size_t end = start;
    while (end < url.size() && url[end] != '/' && url[end] != '?' && url[end] != '#' && url[end] != '"' &&
           url[end] != '\'' && url[end] != ' ' && url[end] != '>' && url[end] != '\\')
        ++end;
    std::string_view authority = url.substr(start, end - start);
    size_t at = authority.rfind('@');
    if (at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    size_t colon = authority.find(':');
    if (colon != std::string_view::npos)
        authority = authority.substr(0, colon);
    std::string host;
    for (char c : authority)
        host.push_back(Lower(c));
    while (!host.empty() && host.back() == '.')
        host.pop_back();
    return host.size() > 255 ? "" : host;
}

HtmlText ReduceHtml(std::string_view html)
{
    HtmlText result;
    result.text.reserve(html.size());
    size_t i = 0;
    while (i < html.size()) {
        char c = html[i];
        if (c == '<') {
            if (StartsNoCase(html, i, "<!--")) {
                size_t end = html.find("-->", i + 4);
                i = end == std::string_view::npos ? html.size() : end + 3;
                continue;
            }
            size_t end = html.find('>', i + 1);
            if (end == std::string_view::npos)
                end = html.size();
            std::string_view tag = html.substr(i + 1, end - i - 1);
            TagLinks(tag, result.hosts);
            i = end + 1;
            for (std::string_view skipped : {"script", "style"}) {
                if (StartsNoCase(tag, 0, skipped)) {
                    size_t close = FindNoCase(html, i, skipped == "script" ? "</script" : "</style");
                    i = close == std::string_view::npos ? html.size() : close;
                }
            }
            result.text.push_back(' ');
            continue;
        }
        if (c == '&') {
            size_t used = Reference(html, i, result.text);
            if (used > 0) {
                i += used;
                continue;
            }
        }
        result.text.push_back(c);
        ++i;
    }
    return result;
}

}  // namespace winnow
