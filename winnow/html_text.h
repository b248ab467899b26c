#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace winnow {

// The readable text of an HTML document and the host names its links and images point to.
// Tags are dropped (a tag ends a word), the text of <script> and <style> is dropped, the
// common character references are turned into their characters, and any other markup is
// left to the word splitter: an HTML part then yields the same words as its plain twin.
struct HtmlText {
    std::string text;
    std::vector<std::string> hosts;  // lower-cased, in order of appearance, repeats included
};

HtmlText ReduceHtml(std::string_view html);

// The host of a URL ("http://User@Www.Example.com:80/x" gives "www.example.com"); empty
// when the text is no URL with a host.
std::string UrlHost(std::string_view url);

}  // namespace winnow
