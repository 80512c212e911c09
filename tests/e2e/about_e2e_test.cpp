// Runs without a source file: the banner and the about text.
#include "harness.h"

namespace e2e {
namespace {

std::string aboutText() {
    return banner() + crlfLines({" Hotbasic Vorrel optimizer", " Version 2.1", "   Brannox 2026",
                                 "   https://vorrel.example.org", "   vorrel@example.org", " "});
}

class About : public ToolTest {};

TEST_F(About, NoArgumentPrintsTheAboutText) {
    const fs::path tool = installTool("app");
    const Result result = run(tool, {});
    EXPECT_EQ(result.out, aboutText());
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(tree(), (std::vector<std::string>{"app/", "app/" + programFileName()}));
}

TEST_F(About, AnEmptyQuotedArgumentCountsAsNone) {
    const fs::path tool = installTool("app");
    const Result result = run(tool, {"", "second.bas"});
    EXPECT_EQ(result.out, aboutText());
    EXPECT_EQ(result.exitCode, 0);
}

}  // namespace
}  // namespace e2e
