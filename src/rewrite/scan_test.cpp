// What the comparison with the step-by-step reference cannot see: the order
// module files are read in, and how blocks with lone CR or LF bytes compare.
// Everything else the differential tests check against the reference.
#include "rewrite/scan.h"

#include <gtest/gtest.h>

#include "catalogue/catalogue.h"

namespace vorrel {
namespace {

const std::string prefix = "E:\\HB\\inc\\Vorrel\\";

RewriteState scan(const std::string& catalogue, const std::string& source,
                  const std::map<std::string, std::string>& files, ModuleFiles& modules) {
    RewriteState state;
    state.catalogueList = catalogue + "\r\n";
    state.vorrelPrefix = prefix;
    state.sourceText = source;
    modules.files = &files;
    scanText(state, modules);
    return state;
}

TEST(ScanText, EachModuleFileIsReadOnceInTheOrderOfFirstUse) {
    // Modules A, B and A again, through a third line naming A's file.
    const std::map<std::string, std::string> files = {{prefix + "O_Timer.inc", "X;Start"},
                                                      {prefix + "O_Clock.inc", "X;Tick"}};
    const std::string ticker = " AS TICKER;$IFNDEF T~$DEFINE T~$include \"Vorrel\\O_Timer.inc\"~$ENDIF\r\n";
    ModuleFiles modules;
    scan(catalogueLine("Vorrel", "O_Timer.inc") + catalogueLine("Vorrel", "O_Clock.inc") + ticker,
         "a AS TIMER b AS TIMER c AS CLOCK d AS TICKER", files, modules);
    EXPECT_EQ(modules.reads, (std::vector<std::string>{prefix + "O_Timer.inc", prefix + "O_Clock.inc"}));
}

TEST(ScanText, BlocksWithLoneLineBreakBytesCompareAsTheListDoes) {
    // After "x\nB" is collected, "B" reads as listed already: the list holds
    // "x\nB\r\n", where "B" follows an LF and comes before a CR.
    ModuleFiles modules;
    const RewriteState state = scan("K1;x\nB\r\nK2;B\r\nK3;B", "k1 k2 k3", {}, modules);
    EXPECT_EQ(state.addedCount, 3);
    EXPECT_EQ(state.foundBlocks, "x\nB\r\n");
    EXPECT_EQ(state.foundBlockCount, 1);
}

}  // namespace
}  // namespace vorrel
