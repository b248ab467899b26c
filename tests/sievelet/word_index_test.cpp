// The one-pass word finder behind the block lists, checked against a plain search.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "sievelet/word_index.h"

namespace {

std::vector<uint8_t> Found(const sievelet::WordIndex& index, const std::string& text)
{
    std::vector<uint8_t> found(index.Size(), 0);
    index.Scan(text.data(), text.size(), found);
    return found;
}

std::vector<uint8_t> Expected(const std::vector<std::string>& words, const std::string& text)
{
    std::vector<uint8_t> found(words.size(), 0);
    for (size_t i = 0; i < words.size(); ++i)
        found[i] = !words[i].empty() && text.find(words[i]) != std::string::npos;
    return found;
}

TEST(WordIndex, OverlappingSuffixAndRepeatedWords)
{
    // "he" ends inside "she" and "hers"; "his" needs a failure link back from "hi" of "hers"'s
    // neighbourhood; the same word twice is found at both places; the empty word never.
    std::vector<std::string> words = {"he", "she", "his", "hers", "", "she", "e", "ushers!"};
    sievelet::WordIndex index(words);
    for (const std::string text : {"ushers", "ushers!", "this", "shis", "h", "", "hhhhe", "sh e"})
        EXPECT_EQ(Found(index, text), Expected(words, text)) << text;
}

TEST(WordIndex, FoundEntriesAccumulateOverTexts)
{
    sievelet::WordIndex index({"abc", "xyz"});
    std::vector<uint8_t> found(2, 0);
    index.Scan("--abc--", 7, found);
    index.Scan("nothing", 7, found);
    EXPECT_EQ(found, (std::vector<uint8_t>{1, 0}));
    index.Scan("xy", 2, found);
    index.Scan("z", 1, found);  // a word split across two texts is not in either
    EXPECT_EQ(found, (std::vector<uint8_t>{1, 0}));
}

TEST(WordIndex, EveryByteValueAndTextsWithNulBytes)
{
    std::vector<std::string> words;
    for (int c = 1; c < 256; c += 17)
        words.push_back(std::string(1, static_cast<char>(c)) + static_cast<char>(255 - c));
    words.push_back("\xb1\xa4\xb0\xed");  // a CP949 word
    sievelet::WordIndex index(words);
    std::string text;
    for (int c = 0; c < 256; ++c)
        text += static_cast<char>(c);
    text += std::string("\0\xb1\xa4\xb0\xed\0", 6);
    for (int c = 1; c < 256; c += 34)
        text += std::string(1, static_cast<char>(c)) + static_cast<char>(255 - c);
    EXPECT_EQ(Found(index, text), Expected(words, text));
}

TEST(WordIndex, AgreesWithAPlainSearchOnRandomWordsAndTexts)
{
    std::mt19937 random(20261208);
    // A small alphabet makes overlaps, shared prefixes and suffix matches common.
    auto make = [&](size_t length) {
        std::string s;
        for (size_t i = 0; i < length; ++i)
            s += "abcab\xe0"[random() % 6];
        return s;
    };
    for (int round = 0; round < 200; ++round) {
        std::vector<std::string> words;
        for (int i = 0, n = 1 + random() % 40; i < n; ++i)
            words.push_back(make(random() % 6));
        sievelet::WordIndex index(words);
        for (int t = 0; t < 10; ++t) {
            std::string text = make(random() % 80);
            ASSERT_EQ(Found(index, text), Expected(words, text)) << "round " << round << " text " << text;
        }
        // Texts mostly of bytes that begin no word, which the scan passes over at the root.
        std::string text;
        for (size_t i = 0, n = random() % 120; i < n; ++i)
            text += random() % 4 ? "xyz \x7f"[random() % 5] : "abcab\xe0"[random() % 6];
        ASSERT_EQ(Found(index, text), Expected(words, text)) << "round " << round << " sparse text " << text;
    }
}

TEST(WordIndex, EmptyIndexFindsNothing)
{
    sievelet::WordIndex none;
    std::vector<uint8_t> found;
    none.Scan("text", 4, found);
    EXPECT_TRUE(found.empty());
    sievelet::WordIndex blanks({"", ""});
    EXPECT_EQ(Found(blanks, "anything"), (std::vector<uint8_t>{0, 0}));
}

}  // namespace
