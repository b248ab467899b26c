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

// States past the full rows keep only their children and follow failure links, also into
// states that have rows; with no rows but the root's every transition takes that path.
TEST(WordIndex, StatesWithoutFullRowsAgreeWithAPlainSearch)
{
    std::mt19937 random(20261209);
    auto make = [&](size_t length) {
        std::string s;
        for (size_t i = 0; i < length; ++i)
            s += "abcab\xe0"[random() % 6];
        return s;
    };
    for (int round = 0; round < 100; ++round) {
        std::vector<std::string> words;
        for (int i = 0, n = 1 + random() % 60; i < n; ++i)
            words.push_back(make(random() % 12));
        std::vector<sievelet::WordIndex::Entry> entries;
        for (size_t i = 0; i < words.size(); ++i)
            entries.push_back({static_cast<uint32_t>(i), words[i]});
        for (size_t rowBytes : {0, 100, 1000}) {
            sievelet::WordIndex index(words.size(), entries, rowBytes);
            for (int t = 0; t < 10; ++t) {
                std::string text = make(random() % 100);
                ASSERT_EQ(Found(index, text), Expected(words, text))
                    << "round " << round << " rows " << rowBytes << " text " << text;
            }
        }
    }
}

// 20,000 words of 80 random bytes took some 2 GB as full rows over the bytes they use.
TEST(WordIndex, ManyLongWordsTakeMemoryInProportionToTheirLength)
{
    std::mt19937 random(5);
    std::vector<std::string> words(20000);
    size_t total = 0;
    for (std::string& w : words) {
        for (int i = 0; i < 80; ++i)
            w += static_cast<char>(1 + random() % 255);
        total += w.size();
    }
    sievelet::WordIndex index(words);
    EXPECT_LE(index.Bytes(), 32 * total);
    EXPECT_LE(index.Bytes(), sievelet::WordIndex::BytesBound(words.size(), total));

    std::string text;
    for (size_t k : {0, 1, 777, 19999, 777}) {
        for (int i = 0; i < 1000; ++i)
            text += static_cast<char>(random() % 256);
        text += words[k];
        text += words[k + 1 < words.size() ? k + 1 : 0].substr(0, 79);  // all but its end
    }
    std::vector<uint8_t> found = Found(index, text);
    EXPECT_EQ(found, Expected(words, text));
    EXPECT_TRUE(found[0] && found[1] && found[777] && found[19999]);
}

// A word in 10,000 rules is held once; every rule with it is still reported.
TEST(WordIndex, CopiesOfAWordAreHeldOnceAndAllFound)
{
    std::vector<std::string> words;
    for (int i = 0; i < 10000; ++i)
        words.push_back(i % 5 == 4 ? (i % 2 ? "reef" : "fre") : "free");
    sievelet::WordIndex index(words);
    EXPECT_LT(index.Bytes(), 16 * words.size() + 4096);
    for (const std::string text : {"a freefree reef", "fre", "refree", "reefre"})
        EXPECT_EQ(Found(index, text), Expected(words, text)) << text;
    // Scanned into one result, a word found again costs nothing and changes nothing.
    std::vector<uint8_t> found(words.size(), 0);
    index.Scan("free", 4, found);
    index.Scan("free reef", 9, found);
    EXPECT_EQ(found, Expected(words, "free reef"));
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
