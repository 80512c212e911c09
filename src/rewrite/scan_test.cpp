#include "rewrite/scan.h"

#include <gtest/gtest.h>

#include "catalogue/catalogue.h"
#include "rewrite/insertion.h"
#include "text/text.h"

namespace vorrel {
namespace {

using namespace std::string_literals;

const std::string prefix = "E:\\HB\\inc\\Vorrel\\";
const std::string widgetLine = catalogueLine("Vorrel", "Widget.inc");
const std::string timerLine = catalogueLine("Vorrel", "O_Timer.inc");
const std::string widgetBlock = "$IFNDEF WIDGET~$DEFINE WIDGET~$include \"Vorrel\\Widget.inc\"~$ENDIF";
const std::string timerBlock = "$IFNDEF TIMER~$DEFINE TIMER~$include \"Vorrel\\O_Timer.inc\"~$ENDIF";

// One scan of source against the catalogue lines, with module files from a map.
struct Scan {
    RewriteState tool;
    std::map<std::string, std::string> files;
    ModuleFiles modules;

    Scan(const std::string& catalogue, const std::string& source,
         std::map<std::string, std::string> moduleFiles = {{prefix + "O_Timer.inc", "X;Start;Interval\r\nbody"}})
        : files(std::move(moduleFiles)) {
        tool.catalogueList = catalogue + "\r\n";
        tool.vorrelPrefix = prefix;
        tool.sourceText = source;
        modules.files = &files;
        scanText(tool, modules);
    }
};

TEST(ScanText, WorkedExampleRecasesEveryUseAndCollectsInCatalogueOrder) {
    Scan scan(widgetLine + timerLine, "DIM t as Timer\r\nw = widget(1) + Widget(2)\r\n");
    EXPECT_EQ(scan.tool.sourceText, "DIM t AS TIMER\r\nw = WIDGET(1) + WIDGET(2)\r\n");
    EXPECT_TRUE(scan.tool.sourceChanged);
    EXPECT_EQ(scan.tool.addedCount, 2);
    EXPECT_EQ(scan.tool.foundBlockCount, 2);
    EXPECT_EQ(scan.tool.foundBlocks, widgetBlock + "\r\n" + timerBlock + "\r\n");
}

// The pattern "A A " of the member "a A" overlaps itself, and the member
// spells the shared bytes differently at its two ends: putting "a a " right
// makes the next occurrence "A A ", and putting that right restores the
// first. The text ends as it began, but it was rewritten, so it counts as
// changed.
TEST(ScanText, ARewriteUndoneLaterStillCountsAsAChange) {
    const std::string source = "DIM t AS TIMER\r\na a A \r\n";
    Scan scan(timerLine, source, {{prefix + "O_Timer.inc", "X;a A\r\nbody"}});
    EXPECT_EQ(scan.tool.sourceText, source);
    EXPECT_TRUE(scan.tool.sourceChanged);
}

TEST(ScanText, KeysMatchAsPlainSubstrings) {
    Scan scan(widgetLine + timerLine, "x = myWidget(2) ' widget(\r\nDIM t as Timers\r\n");
    EXPECT_EQ(scan.tool.sourceText, "x = myWIDGET(2) ' WIDGET(\r\nDIM t AS TIMERs\r\n");
    EXPECT_EQ(scan.tool.addedCount, 2);
}

TEST(ScanText, SourceInTheRightCaseStaysUnchanged) {
    Scan scan(widgetLine, "w = WIDGET(1)\nWIDGET(2)");
    EXPECT_EQ(scan.tool.sourceText, "w = WIDGET(1)\nWIDGET(2)");
    EXPECT_FALSE(scan.tool.sourceChanged);
    EXPECT_EQ(scan.tool.addedCount, 1);
    Scan none(widgetLine + timerLine, "print 1");
    EXPECT_EQ(none.tool.addedCount, 0);
    EXPECT_EQ(none.tool.foundBlocks, "");
    EXPECT_TRUE(none.modules.reads.empty());
}

TEST(ScanText, OverlappingOccurrencesAreEachVisited) {
    // Resuming one byte after each hit reaches the middle occurrence too.
    Scan scan("ABA;block", "abababa");
    EXPECT_EQ(scan.tool.sourceText, "ABABABA");
}

TEST(ScanText, ZeroBytesDoNotHideLaterKeys) {
    Scan scan(widgetLine, "a\0b = widget(1)"s);
    EXPECT_EQ(scan.tool.sourceText, "a\0b = WIDGET(1)"s);
    EXPECT_EQ(scan.tool.addedCount, 1);
}

TEST(ScanText, EveryCatalogueLineCountsButEachBlockIsCollectedOnce) {
    const std::string beta = catalogueLine("Vorrel", "Widget.Beta.inc");
    Scan two(widgetLine + beta, "widget(1)");
    EXPECT_EQ(two.tool.addedCount, 2);
    EXPECT_EQ(two.tool.foundBlockCount, 2);
    EXPECT_EQ(two.tool.foundBlocks, widgetBlock + "\r\n" + fieldAt(beta, ";", 2));

    Scan same(widgetLine + widgetLine, "widget(1)");
    EXPECT_EQ(same.tool.addedCount, 2);
    EXPECT_EQ(same.tool.foundBlockCount, 1);
}

TEST(ScanText, BlocksWithLoneLineBreakBytesCompareAsTheListDoes) {
    // After "x\nB" is collected, "B" reads as already listed: the list holds
    // "x\nB\r\n", where "B" follows an LF and precedes a CR.
    Scan scan("K1;x\nB\r\nK2;B\r\nK3;B", "k1 k2 k3");
    EXPECT_EQ(scan.tool.addedCount, 3);
    EXPECT_EQ(scan.tool.foundBlocks, "x\nB\r\n");
    EXPECT_EQ(scan.tool.foundBlockCount, 1);
}

TEST(MemberCase, WorkedExample) {
    Scan scan(timerLine, "DIM t AS TIMER\r\nT.START\r\nt.interval = 5\r\n");
    EXPECT_EQ(scan.tool.sourceText, "DIM t AS TIMER\r\nt.Start\r\nt.Interval = 5\r\n");
    EXPECT_TRUE(scan.tool.sourceChanged);
    EXPECT_EQ(scan.tool.memberList, prefix + "O_Timer.inc\r\nStart\r\nInterval\r\n");
}

TEST(MemberCase, MembersMatchInsideLongerWords) {
    Scan scan(timerLine, "DIM t AS TIMER\r\nt.START(1)\r\nRESTART(2)\r\n");
    EXPECT_EQ(scan.tool.sourceText, "DIM t AS TIMER\r\nt.Start(1)\r\nREStart(2)\r\n");
}

TEST(MemberCase, EachDeclarationRecasesItsOwnName) {
    Scan scan(timerLine, "DIM t AS TIMER\r\nDIM u as timer\r\nt.START\r\nU.interval\r\n");
    EXPECT_EQ(scan.tool.sourceText, "DIM t AS TIMER\r\nDIM u AS TIMER\r\nt.Start\r\nu.Interval\r\n");
    EXPECT_EQ(scan.tool.addedCount, 1);
    EXPECT_EQ(scan.modules.reads, std::vector<std::string>{prefix + "O_Timer.inc"});
}

TEST(MemberCase, EachModuleFileIsReadOnceInTheOrderOfFirstUse) {
    // Declarations of modules A, A, B, A, the last through a second catalogue
    // line naming A's file; the member list left behind is A's.
    const std::string clockLine = catalogueLine("Vorrel", "O_Clock.inc");
    const std::string tickerLine = " AS TICKER;$IFNDEF T~$DEFINE T~$include \"Vorrel\\O_Timer.inc\"~$ENDIF\r\n";
    Scan scan(timerLine + clockLine + tickerLine, "a AS TIMER b AS TIMER c AS CLOCK d AS TICKER\r\nD.TICK c.tick",
              {{prefix + "O_Timer.inc", "X;Start"}, {prefix + "O_Clock.inc", "X;Tick"}});
    const std::vector<std::string> expected = {prefix + "O_Timer.inc", prefix + "O_Clock.inc"};
    EXPECT_EQ(scan.modules.reads, expected);
    EXPECT_EQ(scan.tool.memberList, prefix + "O_Timer.inc\r\nStart\r\n");
    EXPECT_EQ(scan.tool.sourceText, "a AS TIMER b AS TIMER c AS CLOCK d AS TICKER\r\nD.Tick c.Tick");
}

TEST(MemberCase, AnEmptyMemberNameRecasesTheDeclaredNameBeforeAPoint) {
    Scan scan(timerLine, "DIM t AS TIMER\r\nT.FOO = T.START\r\n", {{prefix + "O_Timer.inc", "X;;Start"}});
    EXPECT_EQ(scan.tool.sourceText, "DIM t AS TIMER\r\nt.FOO = t.Start\r\n");
}

TEST(MemberCase, OnlyFoldersNamedVorrelTakePart) {
    const std::string commands = catalogueLine("Commands", "O_Timer.inc");
    Scan scan(commands, "DIM t as timer\r\nt.START\r\n");
    EXPECT_EQ(scan.tool.sourceText, "DIM t AS TIMER\r\nt.START\r\n");
    EXPECT_EQ(scan.tool.memberList, "");
    EXPECT_TRUE(scan.modules.reads.empty());
}

TEST(MemberCase, MissingModuleFileGivesNoMembers) {
    Scan scan(timerLine, "DIM t as timer\r\nt.START\r\n", {});
    EXPECT_EQ(scan.tool.sourceText, "DIM t AS TIMER\r\nt.START\r\n");
    EXPECT_EQ(scan.tool.memberList, prefix + "O_Timer.inc\r\n");
}

TEST(MemberCase, LfOnlyModuleHeaderRunsToTheEndOfTheFile) {
    Scan scan(timerLine, "DIM t as timer\r\nt.START\nBODY\r\n", {{prefix + "O_Timer.inc", "X;Start\nbody"}});
    EXPECT_EQ(scan.tool.memberList, prefix + "O_Timer.inc\r\nStart\nbody\r\n");
    EXPECT_EQ(scan.tool.sourceText, "DIM t AS TIMER\r\nt.Start\nbody\r\n");
}

TEST(InsertionOffset, FirstLineNotBeginningWithDollar) {
    EXPECT_EQ(insertionOffset("code\r\n"), 0u);
    EXPECT_EQ(insertionOffset(""), 0u);
    EXPECT_EQ(insertionOffset("$a\r\n$b\r\ncode"), 8u);
    EXPECT_EQ(insertionOffset("$a\r\n\r\ncode"), 4u);
    EXPECT_EQ(insertionOffset("$a\r\n $b\r\n"), 4u);
    EXPECT_EQ(insertionOffset("$a\r\n$b\r\n"), 8u);
    EXPECT_EQ(insertionOffset("$a\r\n$b"), std::string::npos);
    EXPECT_EQ(insertionOffset("$a\ncode\n"), std::string::npos);
    EXPECT_EQ(insertionOffset("a\n$b"), 0u);
    EXPECT_EQ(insertionOffset("$a\r\ncode\r\n$late\r\n"), 4u);
}

TEST(IncludeBlocksText, LastBlockFirstWithLineBreaks) {
    EXPECT_EQ(includeBlocksText("A~B\r\n\r\nC~D~\r\n"), "C\r\nD\r\n\r\nA\r\nB\r\n");
    EXPECT_EQ(includeBlocksText(""), "");
    EXPECT_EQ(includeBlocksText(widgetBlock + "\r\n"),
              "$IFNDEF WIDGET\r\n$DEFINE WIDGET\r\n$include \"Vorrel\\Widget.inc\"\r\n$ENDIF\r\n");
}

}  // namespace
}  // namespace vorrel
