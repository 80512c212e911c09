// The byte-string operations that the tool and its step-by-step reference are
// written in: 1-based positions, counts clamped to the text, zero and high
// bytes as ordinary bytes.
#include "text/text.h"

#include <gtest/gtest.h>

namespace vorrel {
namespace {

using namespace std::string_literals;

// The results of a table of calls, to compare with the expected ones whole.
template <typename T, typename... Results>
std::vector<T> all(const Results&... results) {
    return {T(results)...};
}

TEST(Text, PositionsCountFromOneAndPiecesAreClampedToTheText) {
    EXPECT_EQ(all<std::int64_t>(findText(3, "ABC", "C"), findText(4, "ABC", "C"), findText(0, "ABC", "A"),
                                findText(2, "ABCABC", "ABC"), findText(3, "ABCD", "CDE"),
                                findText(1, "a\0b\0c"s, "\0c"s), findText(2, "AB", ""), findText(1, "", ""),
                                countOccurrences("AAAA", "AA"), countOccurrences("AAA", "AA")),
              all<std::int64_t>(3, 0, 0, 4, 0, 4, 2, 0, 2, 1));
    // What replaceAll inserted is never searched again.
    EXPECT_EQ(
        all<std::string>(fieldAt(";A;;B;", ";", 4), fieldAt(";A;;B;", ";", 3), fieldAt("A\r\nB\r\n", "\r\n", 3),
                         fieldAt("a\rb\r\nc", "\r\n", 1), leftPart("ABC", 9), leftPart("ABC", -1), rightPart("ABC", 2),
                         rightPart("ABC", -3), midPart("ABCDE", 3, 10), midPart("ABCDE", 5, 1), midPart("A\0B"s, 1, 2),
                         reversed("abc"), replaceAll("aaa", "aa", "b"), replaceAll("ab", "b", "bb"),
                         replaceAll("x\0y\0"s, "\0"s, "-")),
        all<std::string>("B", "", "", "a\rb", "ABC", "", "BC", "", "DE", "", "\0B"s, "cba", "ba", "abb", "x-y-"));
}

TEST(Text, OnlyAsciiLettersChangeCaseAndBytesCompareUnsigned) {
    std::string every, upper, lower;
    for (int c = 1; c < 256; ++c) {  // an odd length: eight bytes at a time, then one at a time
        every += static_cast<char>(c);
        upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    EXPECT_EQ(toUpper(every), upper);
    EXPECT_EQ(toLower(every), lower);
    EXPECT_EQ(all<int>(compareText("ab", "abc"), compareText("\x80", "\x7f"), compareText("abc", "abc")),
              all<int>(-1, 1, 0));
}

}  // namespace
}  // namespace vorrel
