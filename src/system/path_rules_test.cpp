// Paths, wildcards and the NTFS listing order, on any host.
#include "system/path_rules.h"

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

namespace vorrel {
namespace {

TEST(PathRules, WildcardsIgnoreTheCaseOfAsciiLettersOnly) {
    EXPECT_EQ(posixPath(R"(E:\HB\\Vorrel)"), "E:/HB//Vorrel");
    const std::vector<std::pair<const char*, const char*>> matching = {
        {"*.inc", "Widget.INC"}, {"*.inc", ".inc"}, {"*.inc", "a.inc.inc"},
        {"?.inc", "a.inc"},      {"*", ""},         {"a*b*c", "aXbYbZc"}};
    for (const auto& [pattern, name] : matching) EXPECT_TRUE(matchesWildcard(pattern, name)) << pattern << name;
    const std::vector<std::pair<const char*, const char*>> different = {
        {"*.inc", "Widget.incx"}, {"*.inc", "inc"}, {"?.inc", "ab.inc"}, {"a*b*c", "aXbYbZ"}, {"\xe4*", "\xc4x"}};
    for (const auto& [pattern, name] : different) EXPECT_FALSE(matchesWildcard(pattern, name)) << pattern << name;
}

TEST(PathRules, ListingsComeByUpperCasedNameThenByBytes) {
    std::vector<std::string> names = {"b.inc", "O_Timer.inc", "a.inc", "Obj.inc", "A.inc", "_x.inc", "Z.inc"};
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return listsBefore(a, b); });
    EXPECT_EQ(names,
              (std::vector<std::string>{"A.inc", "a.inc", "b.inc", "Obj.inc", "O_Timer.inc", "Z.inc", "_x.inc"}));
}

}  // namespace
}  // namespace vorrel
