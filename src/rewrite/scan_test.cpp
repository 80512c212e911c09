// The scan's worked example and what the comparison with the step-by-step
// reference cannot see: the order module files are read in, and how blocks
// with lone CR or LF bytes compare. Everything else the differential tests
// check against the reference.
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

TEST(ScanText, WorkedExample) {
    const std::map<std::string, std::string> files = {{prefix + "O_Timer.inc", "X;Start;Interval\r\nbody"}};
    ModuleFiles modules;
    const RewriteState state =
        scan(catalogueLine("Vorrel", "Widget.inc") + catalogueLine("Vorrel", "O_Timer.inc"),
             "DIM t as Timer\r\nw = widget(1) + Widget(2)\r\nT.START\r\nt.interval = 5\r\n", files, modules);
    EXPECT_EQ(state.sourceText, "DIM t AS TIMER\r\nw = WIDGET(1) + WIDGET(2)\r\nt.Start\r\nt.Interval = 5\r\n");
    EXPECT_TRUE(state.sourceChanged);
    EXPECT_EQ(state.addedCount, 2);
    EXPECT_EQ(state.foundBlockCount, 2);
    EXPECT_EQ(state.foundBlocks,
              "$IFNDEF WIDGET~$DEFINE WIDGET~$include \"Vorrel\\Widget.inc\"~$ENDIF\r\n"
              "$IFNDEF TIMER~$DEFINE TIMER~$include \"Vorrel\\O_Timer.inc\"~$ENDIF\r\n");
    EXPECT_EQ(state.memberList, prefix + "O_Timer.inc\r\nStart\r\nInterval\r\n");
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
