// The byte-string and line-list operations that the tool and its step-by-step
// reference are written in: 1-based positions, counts clamped to the text,
// zero and high bytes as ordinary bytes, whole CR LF lines.
#include "text/text.h"

#include <gtest/gtest.h>

namespace vorrel {
namespace {

using namespace std::string_literals;

TEST(Text, SearchesCountFromOneAndPiecesAreClampedToTheText) {
    const std::vector<std::tuple<std::int64_t, std::string, std::string, std::int64_t>> finds = {
        {3, "ABC", "C", 3},    {4, "ABC", "C", 0},         {0, "ABC", "A", 0}, {2, "ABCABC", "ABC", 4},
        {3, "ABCD", "CDE", 0}, {1, "a\0b\0c"s, "\0c"s, 4}, {2, "AB", "", 2},   {1, "", "", 0}};
    for (const auto& [start, text, pattern, at] : finds) EXPECT_EQ(findText(start, text, pattern), at) << text;
    EXPECT_EQ(countOccurrences("AAAA", "AA"), 2);
    EXPECT_EQ(countOccurrences("AAA", "AA"), 1);
    const std::vector<std::pair<std::string, std::string>> pieces = {
        {fieldAt(";A;;B;", ";", 4), "B"},
        {fieldAt(";A;;B;", ";", 3), ""},
        {fieldAt("A\r\nB\r\n", "\r\n", 3), ""},
        {fieldAt("none", ";", 1), "none"},
        {fieldAt("a\rb\r\nc", "\r\n", 1), "a\rb"},
        {leftPart("ABC", 9), "ABC"},
        {leftPart("ABC", -1), ""},
        {rightPart("ABC", 2), "BC"},
        {rightPart("ABC", -3), ""},
        {midPart("ABCDE", 3, 10), "DE"},
        {midPart("ABCDE", 5, 1), ""},
        {midPart("A\0B"s, 1, 2), "\0B"s},
        {reversed("abc"), "cba"},
        {replaceAll("aaa", "aa", "b"), "ba"},
        {replaceAll("ab", "b", "bb"), "abb"},  // what it inserted is never searched again
        {replaceAll("x\0y\0"s, "\0"s, "-"), "x-y-"}};
    for (const auto& [got, expected] : pieces) EXPECT_EQ(got, expected);
}

TEST(Text, OnlyAsciiLettersChangeCaseAndBytesCompareUnsigned) {
    std::string every, upper, lower;
    for (int c = 0; c < 256; ++c) {
        every += static_cast<char>(c);
        upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    // Eight bytes at a time, then one at a time: an odd length takes both.
    EXPECT_EQ(toUpper(every.substr(1)), upper.substr(1));
    EXPECT_EQ(toLower(every.substr(1)), lower.substr(1));
    EXPECT_EQ(compareText("ab", "abc"), -1);
    EXPECT_EQ(compareText("\x80", "\x7f"), 1);
    EXPECT_EQ(compareText("abc", "abc"), 0);
}

TEST(Text, LineListsHoldWholeCrLfLines) {
    EXPECT_EQ(findLine("AB\r\nCD", "CD"), -1);
    EXPECT_EQ(findLine("XAB\r\nABC\r\nAB\r\n", "AB"), 2);
    EXPECT_EQ(findLine("\r\n", ""), 0);
    std::string list = "A\r\nB";
    insertLine(list, "N", 5);
    EXPECT_EQ(list, "A\r\nN\r\nB");
    deleteLine(list, 2);  // not ended by CR LF
    insertLine(list, "M", 0);
    addLine(list, "");
    deleteLine(list, 1);
    deleteLine(list, 7);
    EXPECT_EQ(list, "M\r\nN\r\nB\r\n");
}

}  // namespace
}  // namespace vorrel
