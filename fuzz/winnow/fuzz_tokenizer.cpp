// Whole messages through the tokenizer, and header values and HTML through their decoders:
// every token is well-formed UTF-8 of bounded length, the list is sorted without repeats.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "winnow/utf8.h"
#include "winnow/winnow.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> tokens = winnow::CTokenizer::Tokenize(text);
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].empty() || tokens[i].size() > 400 || !winnow::IsUtf8(tokens[i]))
            abort();
        if (i > 0 && !(tokens[i - 1] < tokens[i]))
            abort();
    }
    if (!winnow::IsUtf8(winnow::CTokenizer::DecodeHeaderText(text)))
        abort();
    winnow::HtmlText html = winnow::ReduceHtml(text);
    if (html.text.size() > text.size())
        abort();
    return 0;
}
