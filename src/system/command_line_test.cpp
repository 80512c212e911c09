#include "system/command_line.h"

#include <gtest/gtest.h>

namespace vorrel {
namespace {

using Tokens = std::vector<std::string>;

TEST(SplitCommandLine, QuotedPathWithSpacesIsOneToken) {
    const Tokens tokens = splitCommandLine(R"(C:\HB\vorrel.exe "C:\My Projects\app.bas")");
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_EQ(tokens[0], R"(C:\HB\vorrel.exe)");
    EXPECT_EQ(tokens[1], R"(C:\My Projects\app.bas)");
    EXPECT_EQ(commandArgument(tokens, 1), R"(C:\My Projects\app.bas)");
    EXPECT_EQ(commandArgument(tokens, 2), "");
    EXPECT_EQ(commandArgument(tokens, -1), "");
}

TEST(SplitCommandLine, TwoDoubleQuotesAloneGiveAnEmptyToken) {
    const Tokens tokens = splitCommandLine(R"(vorrel "" next)");
    ASSERT_EQ(tokens.size(), 3u);
    EXPECT_EQ(tokens[1], "");
    EXPECT_EQ(tokens[2], "next");
}

TEST(SplitCommandLine, BytesAfterAClosingQuoteShiftByOne) {
    // Six bytes are counted (a, blank, b, x, y, z) and taken contiguously from
    // the first byte, so the closing quote takes the place of the z.
    const Tokens tokens = splitCommandLine(R"(p "a b"xyz)");
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_EQ(tokens[1], R"(a b"xy)");
}

TEST(SplitCommandLine, OnlyBlanksSeparate) {
    const Tokens tokens = splitCommandLine("  p \tx  a\"b   second  ");
    ASSERT_EQ(tokens.size(), 4u);
    EXPECT_EQ(tokens[0], "p");
    EXPECT_EQ(tokens[1], "\tx");
    EXPECT_EQ(tokens[2], "a\"b");  // a quote inside an unquoted token is ordinary
    EXPECT_EQ(tokens[3], "second");
}

TEST(SplitCommandLine, UnterminatedQuoteRunsToTheEnd) {
    const Tokens tokens = splitCommandLine(R"(p "a b c)");
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_EQ(tokens[1], "a b c");
    EXPECT_TRUE(splitCommandLine("").empty());
    EXPECT_TRUE(splitCommandLine("    ").empty());
}

TEST(FolderOfProgram, KeepsEverythingUpToTheLastSeparator) {
    EXPECT_EQ(folderOfProgram({R"(C:\HB\vorrel.exe)"}, "\\"), R"(C:\HB\)");
    EXPECT_EQ(folderOfProgram({R"("C:\My HB\vorrel.exe")"}, "\\"), R"(C:\My HB\)");
    EXPECT_EQ(folderOfProgram({"vorrel"}, "\\"), "");
    EXPECT_EQ(folderOfProgram({"./bin/vorrel"}, "\\"), "");
    EXPECT_EQ(folderOfProgram({"./bin/vorrel"}, "/\\"), "./bin/");
    EXPECT_EQ(folderOfProgram({R"(a/b\c/vorrel)"}, "/\\"), R"(a/b\c/)");
    EXPECT_EQ(folderOfProgram({}, "\\"), "");
}

}  // namespace
}  // namespace vorrel
