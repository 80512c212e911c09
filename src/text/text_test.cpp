#include "text/text.h"

#include <gtest/gtest.h>

namespace vorrel {
namespace {

using namespace std::string_literals;

TEST(FindText, PositionsAreOneBasedAndBounded) {
    EXPECT_EQ(findText(5, "ABC", "C"), 0);
    EXPECT_EQ(findText(4, "ABC", "C"), 0);
    EXPECT_EQ(findText(3, "ABC", "C"), 3);
    EXPECT_EQ(findText(1, "abc", "B"), 0);
    EXPECT_EQ(findText(0, "ABC", "A"), 0);
    EXPECT_EQ(findText(-7, "ABC", "A"), 0);
    EXPECT_EQ(findText(2, "ABCABC", "ABC"), 4);
    EXPECT_EQ(findText(3, "ABCD", "CDE"), 0);  // fewer bytes remain than the pattern holds
    EXPECT_EQ(findText(1, "", "A"), 0);
}

TEST(FindText, ZeroBytesAreOrdinary) {
    const std::string text = "a\0b\0c"s;
    EXPECT_EQ(findText(1, text, "\0c"s), 4);
    EXPECT_EQ(findText(1, text, "b"), 3);
}

TEST(FindText, EmptyPatternMatchesAtStartInsideText) {
    EXPECT_EQ(findText(2, "AB", ""), 2);
    EXPECT_EQ(findText(1, "", ""), 0);
}

TEST(CountOccurrences, NeverOverlaps) {
    EXPECT_EQ(countOccurrences("AAAA", "AA"), 2);
    EXPECT_EQ(countOccurrences("AAA", "AA"), 1);
    EXPECT_EQ(countOccurrences("A\r\nB\r\n", "\r\n"), 2);
    EXPECT_EQ(countOccurrences("", "\r\n"), 0);
}

TEST(FieldAt, SplitsAtEveryDelimiter) {
    EXPECT_EQ(fieldAt("X;Y", ";", 2), "Y");
    EXPECT_EQ(fieldAt("X;Y", ";", 3), "");
    EXPECT_EQ(fieldAt("", ";", 1), "");
    EXPECT_EQ(fieldAt("A\r\nB\r\n", "\r\n", 1), "A");
    EXPECT_EQ(fieldAt("A\r\nB\r\n", "\r\n", 2), "B");
    EXPECT_EQ(fieldAt("A\r\nB\r\n", "\r\n", 3), "");
    EXPECT_EQ(fieldAt("A\r\nB\r\n", "\r\n", 4), "");
    EXPECT_EQ(fieldAt(";A;;B;", ";", 1), "");
    EXPECT_EQ(fieldAt(";A;;B;", ";", 3), "");
    EXPECT_EQ(fieldAt(";A;;B;", ";", 4), "B");
    EXPECT_EQ(fieldAt(";A;;B;", ";", 5), "");
    EXPECT_EQ(fieldAt("no delimiter", ";", 1), "no delimiter");
    EXPECT_EQ(fieldAt("a\rb\r\nc", "\r\n", 1), "a\rb");  // a lone CR is an ordinary byte
}

TEST(Parts, ClampToTheText) {
    EXPECT_EQ(leftPart("ABC", 2), "AB");
    EXPECT_EQ(leftPart("ABC", 9), "ABC");
    EXPECT_EQ(leftPart("ABC", 0), "");
    EXPECT_EQ(leftPart("ABC", -1), "");
    EXPECT_EQ(rightPart("ABC", 2), "BC");
    EXPECT_EQ(rightPart("ABC", 9), "ABC");
    EXPECT_EQ(rightPart("ABC", -3), "");
    EXPECT_EQ(midPart("ABCDE", 1, 3), "BCD");
    EXPECT_EQ(midPart("ABCDE", 3, 10), "DE");
    EXPECT_EQ(midPart("ABCDE", 5, 1), "");
    EXPECT_EQ(midPart("ABCDE", 0, 0), "");
    EXPECT_EQ(midPart("A\0B"s, 1, 2), "\0B"s);
}

TEST(ReplaceAll, ScansTheInputOnlyOnce) {
    EXPECT_EQ(replaceAll("A~B~", "~", "\r\n"), "A\r\nB\r\n");
    EXPECT_EQ(replaceAll("aaa", "aa", "b"), "ba");
    EXPECT_EQ(replaceAll("ab", "b", "bb"), "abb");  // the inserted text is not searched again
    EXPECT_EQ(replaceAll("xyz", "q", "r"), "xyz");
    EXPECT_EQ(replaceAll("x\0y\0"s, "\0"s, "-"), "x-y-");
}

TEST(CaseConversion, OnlyAsciiLettersChange) {
    std::string every;
    for (int c = 0; c < 256; ++c) every.push_back(static_cast<char>(c));
    const std::string upper = toUpper(every);
    const std::string lower = toLower(every);
    ASSERT_EQ(upper.size(), 256u);
    for (int c = 0; c < 256; ++c) {
        const char expectedUpper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : static_cast<char>(c);
        const char expectedLower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : static_cast<char>(c);
        EXPECT_EQ(upper[c], expectedUpper) << "byte " << c;
        EXPECT_EQ(lower[c], expectedLower) << "byte " << c;
    }
    // Words longer than eight bytes take the wide path; the tail takes the narrow one.
    EXPECT_EQ(toUpper("hello, World! {z}` \xe4\xf6 abcdefghijklmnopqrstuvwxyz@["),
              "HELLO, WORLD! {Z}` \xe4\xf6 ABCDEFGHIJKLMNOPQRSTUVWXYZ@[");
}

TEST(Reversed, ReversesBytes) {
    EXPECT_EQ(reversed("abc"), "cba");
    EXPECT_EQ(reversed(""), "");
}

TEST(CompareText, OrdersBytesUnsigned) {
    EXPECT_EQ(compareText("abc", "abc"), 0);
    EXPECT_EQ(compareText("abc", "abd"), -1);
    EXPECT_EQ(compareText("abd", "abc"), 1);
    EXPECT_EQ(compareText("ab", "abc"), -1);
    EXPECT_EQ(compareText("abc", "ab"), 1);
    EXPECT_EQ(compareText("", ""), 0);
    EXPECT_EQ(compareText("\x80", "\x7f"), 1);
    EXPECT_EQ(compareText("a", "A"), 1);
}

TEST(LineList, FindLineFindsOnlyTerminatedWholeLines) {
    EXPECT_EQ(findLine("AB\r\nCD", "CD"), -1);
    EXPECT_EQ(findLine("AB\r\nCD\r\n", "CD"), 1);
    EXPECT_EQ(findLine("XAB\r\n", "AB"), -1);
    EXPECT_EQ(findLine("AB\r\nXAB\r\nAB\r\n", "AB"), 0);
    EXPECT_EQ(findLine("XAB\r\nAB\r\n", "AB"), 1);
    EXPECT_EQ(findLine("ABC\r\nAB\r\n", "AB"), 1);
    EXPECT_EQ(findLine("", "AB"), -1);
    EXPECT_EQ(findLine("\r\n", ""), 0);
    EXPECT_EQ(findLine("", ""), -1);
}

TEST(LineList, AddLineAppendsLineBreak) {
    std::string list;
    addLine(list, "A");
    addLine(list, "");
    EXPECT_EQ(list, "A\r\n\r\n");
}

TEST(LineList, InsertLineAtAndPastTheEnd) {
    std::string list = "A\r\nB";
    insertLine(list, "N", 5);
    EXPECT_EQ(list, "A\r\nN\r\nB");

    list = "A\r\nB\r\n";
    insertLine(list, "N", 5);
    EXPECT_EQ(list, "A\r\nB\r\nN\r\n");

    list = "A\r\nB\r\n";
    insertLine(list, "N", 0);
    EXPECT_EQ(list, "N\r\nA\r\nB\r\n");

    list = "A\r\nB\r\n";
    insertLine(list, "N", 1);
    EXPECT_EQ(list, "A\r\nN\r\nB\r\n");

    list.clear();
    insertLine(list, "N", 3);
    EXPECT_EQ(list, "N\r\n");
}

TEST(LineList, DeleteLineLeavesUnterminatedOrMissingLines) {
    std::string list = "A\r\nB";
    deleteLine(list, 1);
    EXPECT_EQ(list, "A\r\nB");
    deleteLine(list, 0);
    EXPECT_EQ(list, "B");

    list = "A\r\nB\r\nC\r\n";
    deleteLine(list, 1);
    EXPECT_EQ(list, "A\r\nC\r\n");
    deleteLine(list, 2);
    EXPECT_EQ(list, "A\r\nC\r\n");
    deleteLine(list, 7);
    EXPECT_EQ(list, "A\r\nC\r\n");

    list.clear();
    deleteLine(list, 0);
    EXPECT_EQ(list, "");
}

}  // namespace
}  // namespace vorrel
