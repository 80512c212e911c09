#include "rewrite/search.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "text/text.h"

namespace vorrel {
namespace {

// Every occurrence, overlapping ones included, the plain way.
std::vector<std::uint32_t> plainSearch(const std::string& upperText, const std::string& pattern) {
    std::vector<std::uint32_t> found;
    for (std::size_t at = upperText.find(pattern); at != std::string::npos; at = upperText.find(pattern, at + 1)) {
        found.push_back(static_cast<std::uint32_t>(at));
    }
    return found;
}

// Texts of a few letters in both cases, the bytes that end patterns, zero
// bytes and bytes above 127; patterns cut from them, so that most occur,
// sharing anchors: 1 to 3 bytes (the short ones), around 8, and dozens made
// of one letter (more than are compared one by one).
TEST(FindEvery, AgreesWithAPlainSearch) {
    std::mt19937_64 random(25);
    const std::string alphabet = std::string("aAbB .(=\xe4") + '\0';
    for (int round = 0; round < 150; ++round) {
        std::string text;
        const std::size_t size = random() % 2 ? random() % 20 : random() % 3000;
        for (std::size_t i = 0; i < size; ++i) {
            text += random() % 4 ? std::string(1, alphabet[random() % alphabet.size()]) : std::string(random() % 30, 'a');
        }
        const std::string upperText = toUpper(text);
        std::vector<std::string> patterns;
        for (int p = 0; p < 40 && !upperText.empty(); ++p) {
            const std::size_t at = random() % upperText.size();
            const std::size_t length = 1 + random() % (p % 3 == 0 ? 3 : 12);
            std::string pattern = upperText.substr(at, length);
            if (p % 5 == 0) pattern += "B";  // may occur nowhere
            if (p % 7 == 0 && upperText.size() > 8) pattern = upperText.substr(0, 8) + pattern;  // a shared anchor
            patterns.push_back(pattern);
        }
        // Every four bytes of these are AAAA: one anchor, whose patterns are found by hash.
        for (std::size_t length = 4; length < 24; ++length) patterns.push_back(std::string(length, 'A'));
        std::sort(patterns.begin(), patterns.end());
        patterns.erase(std::unique(patterns.begin(), patterns.end()), patterns.end());
        const std::vector<std::string_view> views(patterns.begin(), patterns.end());
        const auto hits = findEvery<std::uint32_t>(text, views);
        const auto wideHits = findEvery<std::uint64_t>(text, views);
        for (std::size_t i = 0; i < patterns.size(); ++i) {
            const std::vector<std::uint32_t> expected = plainSearch(upperText, patterns[i]);
            ASSERT_EQ(hits[i], expected) << "round " << round << ", pattern " << patterns[i];
            ASSERT_EQ(wideHits[i].size(), expected.size()) << "round " << round;
        }
    }
}

// Twenty patterns ZZZZ, ZZZZB, ZZZZBB, ...: every four bytes of them are
// shared by more patterns than are compared one by one, and in a text full
// of B the rarest four are ZZZZ, so all are filed under it and found by
// hash, each length looked up in turn.
TEST(FindEvery, ManyPatternsUnderOneAnchor) {
    std::string text;
    for (int i = 0; i < 400; ++i) text += i % 7 == 0 ? "zzzz" + std::string(i % 23, 'b') + "." : std::string(30, 'b');
    std::vector<std::string> patterns;
    for (std::size_t k = 0; k < 20; ++k) patterns.push_back("ZZZZ" + std::string(k, 'B'));
    const std::vector<std::string_view> views(patterns.begin(), patterns.end());
    const auto hits = findEvery<std::uint32_t>(text, views);
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        EXPECT_EQ(hits[i], plainSearch(toUpper(text), patterns[i])) << patterns[i];
        EXPECT_FALSE(hits[i].empty()) << patterns[i];
    }
}

// A pattern's anchor may stand at the very start of the text, where the
// pattern, beginning before it, cannot; and patterns may end at its last byte.
TEST(FindEvery, FindsPatternsAtEitherEndOfTheText) {
    const std::string text = "get(" + std::string(20, ' ') + "widget(a";  // on the heap, as a source is
    // XGET( is filed under GET(, which fewer patterns share than XGET.
    const std::vector<std::string_view> patterns = {"A", "(A", "T(A", "GET(A", "WIDGET(A", "GET(", "XGET(", "XGETA", "XGETB", "XGETC"};
    const auto hits = findEvery<std::uint32_t>(text, patterns);
    EXPECT_EQ(hits[0], (std::vector<std::uint32_t>{31}));
    EXPECT_EQ(hits[1], (std::vector<std::uint32_t>{30}));
    EXPECT_EQ(hits[2], (std::vector<std::uint32_t>{29}));
    EXPECT_EQ(hits[3], (std::vector<std::uint32_t>{27}));
    EXPECT_EQ(hits[4], (std::vector<std::uint32_t>{24}));
    EXPECT_EQ(hits[5], (std::vector<std::uint32_t>{0, 27}));
    EXPECT_TRUE(hits[6].empty());
}

}  // namespace
}  // namespace vorrel
