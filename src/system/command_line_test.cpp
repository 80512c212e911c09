// Windows-style command-line tokens and the program folder, on any host.
#include "system/command_line.h"

#include <gtest/gtest.h>

#include "system/system.h"

namespace vorrel {
namespace {

using Tokens = std::vector<std::string>;

TEST(CommandLine, OnlyBlanksSeparateAndALeadingQuoteHoldsBlanks) {
    EXPECT_EQ(splitCommandLine(R"(C:\HB\vorrel.exe "C:\My Projects\app.bas")"),
              (Tokens{R"(C:\HB\vorrel.exe)", R"(C:\My Projects\app.bas)"}));
    EXPECT_EQ(splitCommandLine(R"(vorrel "" next)"), (Tokens{"vorrel", "", "next"}));
    // Six bytes are counted and taken from the first, so the quote takes the z's place.
    EXPECT_EQ(splitCommandLine(R"(p "a b"xyz)"), (Tokens{"p", R"(a b"xy)"}));
    EXPECT_EQ(splitCommandLine("  p \tx  a\"b  "), (Tokens{"p", "\tx", "a\"b"}));
    EXPECT_EQ(splitCommandLine(R"(p "a b c)"), (Tokens{"p", "a b c"}));
    EXPECT_EQ(splitCommandLine("   "), Tokens{});
    EXPECT_EQ(commandArgument({"p", "x"}, 1), "x");
    EXPECT_EQ(commandArgument({"p", "x"}, 2), "");
    EXPECT_EQ(commandArgument({"p", "x"}, -1), "");
}

TEST(CommandLine, TheProgramFolderEndsAtItsLastSeparator) {
    EXPECT_EQ(folderOfProgram({R"("C:\My HB\vorrel.exe")"}, "\\"), R"(C:\My HB\)");
    EXPECT_EQ(folderOfProgram({"./bin/vorrel"}, "\\"), "");
    EXPECT_EQ(folderOfProgram({R"(a/b\c/vorrel)"}, "/\\"), R"(a/b\c/)");
    EXPECT_EQ(folderOfProgram({}, "\\"), "");
    // Either slash, on both systems: Git Bash starts C:/tools/vorrel.exe.
    EXPECT_EQ(programFolder({"C:\\tools/bin\\vorrel.exe"}), "C:\\tools/bin\\");
    EXPECT_EQ(programFolder({"C:\\tools\\bin/vorrel.exe"}), "C:\\tools\\bin/");
    EXPECT_EQ(programFolder({"vorrel"}), "");
}

}  // namespace
}  // namespace vorrel
