// What the comparison with the step-by-step reference cannot see: how blocks
// with lone CR or LF bytes compare, where the reference always searches the
// list. Everything else the differential tests check against the reference.
#include "rewrite/scan.h"

#include <gtest/gtest.h>

namespace vorrel {
namespace {

TEST(ScanText, BlocksWithLoneLineBreakBytesCompareAsTheListDoes) {
    // After "x\nB" is collected, "B" reads as listed already: the list holds
    // "x\nB\r\n", where "B" follows an LF and comes before a CR.
    RewriteState state;
    state.catalogueList = "K1;x\nB\r\nK2;B\r\nK3;B\r\n";
    state.sourceText = "k1 k2 k3";
    ModuleFiles modules;
    scanText(state, modules);
    EXPECT_EQ(state.addedCount, 3);
    EXPECT_EQ(state.foundBlocks, "x\nB\r\n");
    EXPECT_EQ(state.foundBlockCount, 1);
}

}  // namespace
}  // namespace vorrel
