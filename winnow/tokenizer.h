#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace winnow {

// Turns a message (as it stands in a file: header, blank line, body) into the distinct tokens
// the classifier weighs. Selected header fields give words prefixed with the field's name
// ("subject:free"); the text parts give their words after transfer decoding, conversion of
// their character set to UTF-8 and, for HTML, reduction to text, with the hosts of links as
// "url:" tokens; attachments give their names and types. Korean, Chinese and Japanese text,
// which does not put spaces between all words, gives the pairs of neighbouring characters of
// each run.
//
// Work per message is bounded: only the first kMaxMessageBytes of a message are parsed and
// only kMaxTextBytes of decoded text are split into words.
class CTokenizer {
public:
    static constexpr size_t kMaxMessageBytes = 1 << 21;
    static constexpr size_t kMaxTextBytes = 1 << 19;
    static constexpr size_t kMaxWordBytes = 40;

    // The distinct tokens of the message, sorted.
    static std::vector<std::string> Tokenize(std::string_view message);

    // A header value with its RFC 2047 encoded words decoded, as UTF-8. Bytes outside encoded
    // words that are not UTF-8 are read as CP949, the local code page.
    static std::string DecodeHeaderText(std::string_view value);

    // Appends the words of UTF-8 text, each prefixed by `prefix`, to `out` (repeats included).
    static void SplitWords(std::string_view text, std::string_view prefix, std::vector<std::string>& out);
};

}  // namespace winnow
