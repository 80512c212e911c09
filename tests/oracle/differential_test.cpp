// The engine against the step-by-step reference on thousands of small cases
// built to collide.
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "cases.h"
#include "catalogue/catalogue.h"
#include "oracle.h"

namespace vorrel::oracle {
namespace {

std::string disagreement(const RewriteCase& rewriteCase) {
    const std::string difference = compareScans(rewriteCase);
    return difference.empty() ? "" : difference + "\n" + describeCase(rewriteCase);
}

// Keys, members and declared names made of the same few bytes, in any case,
// with overlapping occurrences, zero bytes and LF-only lines.
TEST(Differential, CollidingCases) {
    std::mt19937_64 random(20261206);
    for (int i = 0; i < 20000; ++i) ASSERT_EQ(disagreement(randomCase(random)), "") << "case " << i;
}

// Declarations that overlap one another and members that overlap them: the
// text soon stops changing, and turns that change nothing are skipped.
TEST(Differential, OverlappingDeclarations) {
    std::mt19937_64 random(4);
    for (int i = 0; i < 3000; ++i) ASSERT_EQ(disagreement(randomDeclarationRun(random)), "") << "case " << i;
}

// Declarations among runs such as "a.A.a.a", where NAME.MEMBER overlaps
// itself all along each run and every replace re-spells the runs.
TEST(Differential, ChainsThatKeepBeingRespelled) {
    std::mt19937_64 random(7);
    for (int i = 0; i < 4000; ++i) ASSERT_EQ(disagreement(randomChainRuns(random)), "") << "case " << i;
}

// The reference keeps one module's member list at a time, as described:
// declarations of modules A, A, B, A read A's file twice and B's once.
TEST(Reference, KeepsOneModuleMemberListAtATime) {
    const std::string prefix = "lib\\Vorrel\\";
    const std::map<std::string, std::string> files = {{prefix + "O_Timer.inc", "X;Start"}, {prefix + "O_Clock.inc", "X;Tick"}};
    RewriteState state;
    state.catalogueList = catalogueLine("Vorrel", "O_Timer.inc") + catalogueLine("Vorrel", "O_Clock.inc") +
                          " AS TICKER;$IFNDEF T~$DEFINE T~$include \"Vorrel\\O_Timer.inc\"~$ENDIF\r\n\r\n";
    state.vorrelPrefix = prefix;
    state.sourceText = "a AS TIMER b AS TIMER c AS CLOCK d AS TICKER";
    ModuleFiles modules;
    modules.files = &files;
    oracle::scanText(state, modules);
    const std::vector<std::string> expected = {prefix + "O_Timer.inc", prefix + "O_Clock.inc", prefix + "O_Timer.inc"};
    EXPECT_EQ(modules.reads, expected);
}

}  // namespace
}  // namespace vorrel::oracle
