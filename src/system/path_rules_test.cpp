#include "system/path_rules.h"

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

namespace vorrel {
namespace {

TEST(PosixPath, BackslashesBecomeSlashes) {
    EXPECT_EQ(posixPath(R"(E:\HB\\Vorrel)"), "E:/HB//Vorrel");
    EXPECT_EQ(posixPath("plain/path"), "plain/path");
}

TEST(MatchesWildcard, StarAndQuestionMarkIgnoringLetterCase) {
    EXPECT_TRUE(matchesWildcard("*.inc", "Widget.inc"));
    EXPECT_TRUE(matchesWildcard("*.inc", "Widget.INC"));
    EXPECT_TRUE(matchesWildcard("*.inc", ".inc"));
    EXPECT_TRUE(matchesWildcard("*.inc", "a.inc.inc"));
    EXPECT_TRUE(matchesWildcard("*.inc", "Widget.Tools.inc"));
    EXPECT_FALSE(matchesWildcard("*.inc", "Widget.incx"));
    EXPECT_FALSE(matchesWildcard("*.inc", "Widget.in"));
    EXPECT_FALSE(matchesWildcard("*.inc", "inc"));
    EXPECT_TRUE(matchesWildcard("?.inc", "a.inc"));
    EXPECT_FALSE(matchesWildcard("?.inc", "ab.inc"));
    EXPECT_TRUE(matchesWildcard("*", ""));
    EXPECT_TRUE(matchesWildcard("a*b*c", "aXbYbZc"));
    EXPECT_FALSE(matchesWildcard("a*b*c", "aXbYbZ"));
    EXPECT_TRUE(matchesWildcard("\xe4*.inc", "\xe4x.inc"));
    EXPECT_FALSE(matchesWildcard("\xe4*.inc", "\xc4x.inc"));  // only ASCII letters fold
}

TEST(ListsBefore, SortsLikeAnNtfsFolder) {
    std::vector<std::string> names = {"b.inc", "O_Timer.inc", "a.inc", "Obj.inc", "A.inc", "_x.inc", "Z.inc"};
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return listsBefore(a, b); });
    const std::vector<std::string> expected = {"A.inc", "a.inc", "b.inc", "Obj.inc", "O_Timer.inc", "Z.inc", "_x.inc"};
    EXPECT_EQ(names, expected);
}

}  // namespace
}  // namespace vorrel
