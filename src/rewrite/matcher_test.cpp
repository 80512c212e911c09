#include "rewrite/matcher.h"

#include <random>

#include <gtest/gtest.h>

#include "text/text.h"

namespace vorrel {
namespace {

// Every occurrence, found one start position at a time.
Occurrences naiveOccurrences(std::string_view text, const std::string& pattern) {
    Occurrences found;
    const std::string upper = toUpper(text);
    for (std::int64_t at = findText(1, upper, pattern); at != 0 && !pattern.empty(); at = findText(at + 1, upper, pattern)) {
        found.push_back(static_cast<std::uint64_t>(at - 1));
    }
    return found;
}

TEST(FindOccurrences, FindsEveryKindOfPattern) {
    const std::string text = "DIM t as Timer\r\nw = widget(1) + myWidget(2)\r\naaaa ((";
    const std::vector<std::string> patterns = {"WIDGET(", " AS TIMER", " AS ", "AA", "(", "T", "", "w", "\r\n"};
    const std::vector<Occurrences> found = findOccurrences(text, patterns);
    ASSERT_EQ(found.size(), patterns.size());
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        EXPECT_EQ(found[i], naiveOccurrences(text, patterns[i])) << "pattern " << i;
    }
    EXPECT_EQ(found[0], (Occurrences{20, 34}));
    EXPECT_EQ(found[3], (Occurrences{45, 46, 47}));
    EXPECT_TRUE(found[7].empty());
}

TEST(FindOccurrences, AgreesWithAPlainSearchOnRandomTexts) {
    std::mt19937 random(7);
    const std::string alphabet = "aAbB (.=\r\n\0\xe4S";
    auto pick = [&](std::size_t length) {
        std::string s;
        for (std::size_t i = 0; i < length; ++i) s.push_back(alphabet[random() % alphabet.size()]);
        return s;
    };
    for (int round = 0; round < 300; ++round) {
        const std::string text = pick(random() % 200);
        std::vector<std::string> patterns;
        for (int p = 0; p < 12; ++p) {
            std::string pattern = toUpper(pick(1 + random() % 5));
            if (p % 4 == 0) pattern = " AS " + pattern.substr(0, random() % 3);
            if (p % 5 == 0 && text.size() > 4) {
                const std::size_t from = random() % (text.size() - 3);
                pattern = toUpper(text.substr(from, 1 + random() % 3));
            }
            patterns.push_back(pattern);
        }
        const std::vector<Occurrences> found = findOccurrences(text, patterns);
        for (std::size_t i = 0; i < patterns.size(); ++i) {
            ASSERT_EQ(found[i], naiveOccurrences(text, patterns[i])) << "round " << round << " pattern " << i << " [" << patterns[i] << "] in [" << text << "]";
        }
    }
}

}  // namespace
}  // namespace vorrel
