#include "rewrite/matcher.h"

#include <algorithm>
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

// The occurrences found, read back out of the form they are kept in.
std::vector<Occurrences> search(std::string_view text, const std::vector<std::string>& patterns,
                                const SearchLimits& limits = SearchLimits()) {
    std::vector<Occurrences> found;
    for (const Offsets& offsets : findOccurrences(text, patterns, limits)) found.emplace_back(offsets.begin(), offsets.end());
    return found;
}

TEST(FindOccurrences, FindsEveryKindOfPattern) {
    const std::string text = "DIM t as Timer\r\nw = widget(1) + myWidget(2)\r\naaaa ((";
    const std::vector<std::string> patterns = {"WIDGET(", " AS TIMER", " AS ", "AA", "(", "T", "", "w", "\r\n"};
    const std::vector<Occurrences> found = search(text, patterns);
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
        // Offsets kept in a few low bits and the rest by index, as in texts
        // over 4 GiB; in 16 bits only while very close together.
        SearchLimits limits;
        if (round % 2 == 0) limits.offsetLowBits = 1 + round % 8;
        if (round % 3 == 0) limits.narrowSpan = round % 5;
        const std::vector<Occurrences> found = search(text, patterns, limits);
        for (std::size_t i = 0; i < patterns.size(); ++i) {
            ASSERT_EQ(found[i], naiveOccurrences(text, patterns[i])) << "round " << round << " pattern " << i << " [" << patterns[i] << "] in [" << text << "], low bits " << limits.offsetLowBits;
        }
    }
}

TEST(FindOccurrences, LongTextsTakeTheVectorPathAndAgreeToo) {
    // Texts of hundreds of bytes are searched 64 bytes at a time; anchors in
    // the first and last bytes and across block edges must not be missed.
    std::mt19937 random(11);
    const std::vector<std::string> words = {"widget(", " as timer", "x.start ", "start=", "a(a(", " aS ", "((", "..", "=",
                                            "\r\n", "Obj.Count(", "count ", "_x(", "9(", "\xe4("};
    for (int round = 0; round < 200; ++round) {
        std::string text;
        const std::size_t size = 100 + random() % 1500;
        while (text.size() < size) {
            if (random() % 3 == 0) text += words[random() % words.size()];
            else text += static_cast<char>("aAbB xyz()=.\n"[random() % 13]);
        }
        std::vector<std::string> patterns = {"WIDGET(", " AS TIMER", ".START", "START ", "START=", "A(A(", " AS ",
                                             "((", "=", "COUNT ", "COUNT(", "X(", "9(", "\xe4(", "AA", "B"};
        if (round % 2 == 0) patterns.resize(8);  // fewer anchors: the vector compares take over
        SearchLimits limits;
        if (round % 3 == 0) limits.offsetLowBits = 4 + round % 7;
        if (round % 4 == 0) limits.narrowSpan = 1 + round % 50;
        const std::vector<Occurrences> found = search(text, patterns, limits);
        for (std::size_t i = 0; i < patterns.size(); ++i) {
            ASSERT_EQ(found[i], naiveOccurrences(text, patterns[i])) << "round " << round << " pattern " << patterns[i];
        }
    }
}

TEST(FindOccurrences, MillionsOfMatchesComeOutWhole) {
    // Matches are gathered in pieces of about eight million before they are
    // sorted out per pattern: none may be lost or misplaced at their seams.
    std::string text;
    for (int i = 0; i < 2000000; ++i) text += i % 1000 == 0 ? "a(A(b \r\n" : "a(a(b ";
    const std::vector<std::string> patterns = {"A", "(", "B ", "\r\n"};
    const std::vector<Occurrences> found = search(text, patterns);
    std::size_t total = 0;
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        EXPECT_TRUE(found[i] == naiveOccurrences(text, patterns[i])) << patterns[i];
        total += found[i].size();
    }
    EXPECT_EQ(total, 2000000u * 5 + 2000);
}

TEST(FindOccurrences, SearchesInSeveralPassesWhenThereIsTooMuchForOne) {
    // Pattern numbers and trie nodes have 24 bits; beyond that the patterns
    // are searched in several passes. Small limits show the passes fit
    // together: duplicates, empty patterns and patterns longer than a pass
    // allows included.
    const std::string text = "x = Widget(a(a(A(1))) AS TIMER\r\nDIM aa AS Timer\r\nwidget(widget(";
    const std::vector<std::string> patterns = {"WIDGET(", "A(", "", " AS TIMER", "A(A(", "WIDGET(", "AA",
                                               "WIDGET(WIDGET(", "(", "A(", "\r\nDIM AA AS TIMER\r\n"};
    for (std::size_t most = 1; most <= 4; ++most) {
        for (std::size_t bytes = 1; bytes <= 12; bytes += 3) {
            const std::vector<Occurrences> found = search(text, patterns, SearchLimits{most, bytes, 32});
            ASSERT_EQ(found.size(), patterns.size());
            for (std::size_t i = 0; i < patterns.size(); ++i) {
                EXPECT_EQ(found[i], naiveOccurrences(text, patterns[i])) << most << " patterns, " << bytes << " bytes: " << patterns[i];
            }
        }
    }
}

// Whatever the hint, right or wrong, the answer is that of a search of the
// whole list; hints are mostly the answer for a smaller value, as when
// values come in increasing order, but also past it, past the end, or 0.
TEST(FirstAtLeast, AgreesWithASearchOfTheWholeListWhateverTheHint) {
    std::mt19937_64 random(11);
    for (int round = 0; round < 3000; ++round) {
        const unsigned lowBits = round % 3 == 0 ? 1 + random() % 4 : 32;
        Offsets offsets = emptyOffsets(lowBits, 64, round % 2 == 0 ? 65536 : 0);
        Occurrences plain;
        for (std::uint64_t at = random() % 4, count = random() % 70; plain.size() < count; at += 1 + random() % 5) {
            appendOffset(offsets, at);
            plain.push_back(at);
        }
        const std::uint64_t top = plain.empty() ? 4 : plain.back() + 4;
        std::size_t hint = random() % (plain.size() + 3);
        for (std::uint64_t value = random() % 6; value < top; value += random() % 9) {
            const auto expected = static_cast<std::size_t>(std::lower_bound(plain.begin(), plain.end(), value) - plain.begin());
            if (random() % 5 == 0) hint = random() % (plain.size() + 3);
            const std::size_t found = firstAtLeast(offsets, value, hint);
            ASSERT_EQ(found, expected) << "round " << round << ", value " << value << ", hint " << hint;
            hint = found;
        }
    }
}

// Offsets read back as appended in every form: narrow while every 64 in a
// row lie close enough to their first, wide from the first that does not,
// with all the bits or a few and the rest by index.
TEST(Offsets, ReadBackAsAppendedWhicheverFormTheyTake) {
    std::mt19937_64 random(5);
    const std::uint32_t spans[] = {0, 1, 3, 100, 65536, 70000};
    for (int round = 0; round < 2000; ++round) {
        const unsigned lowBits = round % 4 == 0 ? 1 + random() % 8 : 32;
        const std::uint32_t span = spans[random() % std::size(spans)];
        Offsets offsets = emptyOffsets(lowBits, 64 + random() % 300, span);
        Occurrences plain;
        // Mostly close together, now and then far apart, once in a while
        // past 4 GiB (with few low bits, past a few thousand times 2^bits).
        const std::uint64_t farthest = lowBits == 32 ? std::uint64_t(1) << 34 : std::uint64_t(1) << (lowBits + 12);
        for (std::uint64_t at = random() % 3, count = random() % 300; plain.size() < count && at < farthest;) {
            appendOffset(offsets, at);
            plain.push_back(at);
            const unsigned gap = random() % 100;
            at += 1 + (gap < 90 ? random() % 4 : gap < 99 ? random() % 70000 : std::uint64_t(1) << (20 + random() % 14));
        }
        ASSERT_EQ(offsets.size(), plain.size());
        ASSERT_EQ(Occurrences(offsets.begin(), offsets.end()), plain) << "round " << round << ", span " << span;
        for (std::size_t i = 0; i < plain.size(); ++i) {
            ASSERT_EQ(offsets[i], plain[i]) << "round " << round;
            if (lowBits == 32) {
                ASSERT_EQ(offsets.lowAt(i), static_cast<std::uint32_t>(plain[i]));
            }
        }
    }
}

TEST(Offsets, CloseOffsetsStayInSixteenBitsAndAFarOneWidensThem) {
    Offsets offsets = emptyOffsets(32, 1000, 65536);
    for (std::uint64_t at = 5; at < 5 + 2 * 1000; at += 2) appendOffset(offsets, at);
    EXPECT_NE(offsets.narrowSpan, 0u);
    EXPECT_TRUE(offsets.low.empty());
    EXPECT_EQ(offsets.narrow.size(), 1000u + 4 * 16);
    EXPECT_EQ(offsets[999], 5u + 2 * 999);
    appendOffset(offsets, 5 + 2 * 999 + 65536);  // 64 * 15 = 960 offsets before it: in the same 64 as 999
    EXPECT_EQ(offsets.narrowSpan, 0u);
    EXPECT_EQ(offsets.size(), 1001u);
    EXPECT_EQ(offsets[0], 5u);
    EXPECT_EQ(offsets[1000], 5u + 2 * 999 + 65536);
    // A few offsets are kept wide at once, however close.
    EXPECT_EQ(emptyOffsets(32, 63, 65536).narrowSpan, 0u);
}

}  // namespace
}  // namespace vorrel
