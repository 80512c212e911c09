#include "rewrite/search.h"

#include <algorithm>
#include <random>

#include <gtest/gtest.h>

#include "text/text.h"

namespace vorrel {
namespace {

// findEvery against a plain search of the upper-cased text: texts short and
// long of a few letters in both cases, the bytes that end patterns, zero
// bytes and bytes above 127; patterns of one to three bytes and longer, cut
// from the text so that most occur, some sharing their first eight bytes,
// and twenty of one letter, which share every four bytes and a filter cell.
TEST(FindEvery, AgreesWithAPlainSearch) {
    std::mt19937_64 random(25);
    const std::string alphabet = std::string("aAbB .(=\xe4") + '\0';
    for (int round = 0; round < 240; ++round) {
        std::string text;
        for (std::size_t i = random() % 2 ? random() % 20 : random() % 3000; i > 0; --i) {
            text +=
                random() % 4 ? std::string(1, alphabet[random() % alphabet.size()]) : std::string(random() % 30, 'a');
        }
        std::vector<std::string> patterns;
        for (int p = 0; p < 40 && !text.empty(); ++p) {
            patterns.push_back(toUpper(text.substr(random() % text.size(), 1 + random() % (p % 3 == 0 ? 3 : 12))));
            if (p % 5 == 0) patterns.back() += "B";
            if (p % 7 == 0 && text.size() > 8) patterns.back() = toUpper(text.substr(0, 8)) + patterns.back();
        }
        for (std::size_t length = 4; length < 24; ++length) patterns.push_back(std::string(length, 'A'));
        // Without patterns of one or two bytes, those of three are filed under anchors; with one in 64
        // below five bytes, under two anchors each, the text read at even offsets only.
        const std::size_t least = round % 3 == 0 ? 1 : round % 3 == 1 ? 3 : 5;
        const auto shorter = [&](const std::string& pattern) { return pattern.size() < least; };
        patterns.erase(std::remove_if(patterns.begin(), patterns.end(), shorter), patterns.end());
        while (least == 5 && text.size() > 5 && patterns.size() < 240)
            patterns.push_back(toUpper(text.substr(random() % (text.size() - 5), 5 + random() % 8)));
        if (least == 5 && !text.empty())
            patterns.push_back(toUpper(text.substr(random() % text.size(), 3 + round % 2)));
        std::sort(patterns.begin(), patterns.end());
        patterns.erase(std::unique(patterns.begin(), patterns.end()), patterns.end());
        const auto hits =
            findEvery<std::uint32_t>(text, std::vector<std::string_view>(patterns.begin(), patterns.end()));
        const std::string upper = toUpper(text);
        for (std::size_t i = 0; i < patterns.size(); ++i) {
            std::vector<std::uint32_t> expected;
            for (auto at = upper.find(patterns[i]); at != std::string::npos; at = upper.find(patterns[i], at + 1))
                expected.push_back(at);
            EXPECT_EQ(hits[i], expected) << "pattern " << patterns[i];
        }
    }
}

}  // namespace
}  // namespace vorrel
