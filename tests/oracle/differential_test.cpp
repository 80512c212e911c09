// The fast scan against the straightforward one on thousands of small cases
// built to collide.
#include <iterator>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "cases.h"
#include "catalogue/catalogue.h"
#include "oracle.h"

namespace vorrel::oracle {
namespace {

// Empty when both scans agree on the case under the limits; else what
// differs, the limits and the case.
std::string disagreement(const RewriteCase& rewriteCase, const ScanLimits& limits = ScanLimits()) {
    const std::string difference = compareScans(rewriteCase, limits);
    if (difference.empty()) return "";
    return difference + "\nlimits: compare payback " + std::to_string(limits.comparePayback) + ", grouped after " +
           std::to_string(limits.groupChainsAfter) + ", group payback " + std::to_string(limits.groupPayback) +
           ", group bytes per look " + std::to_string(limits.groupBytesPerLook) +
           ", cover entry bits " + std::to_string(limits.coverEntryBits) + ", narrow times " +
           std::to_string(limits.narrowTimes) + ", offset low bits " + std::to_string(limits.offsetLowBits) +
           ", spelling hash bits " + std::to_string(limits.spellingHashBits) + ", read piece " +
           std::to_string(limits.readPiece) + ", narrow span " + std::to_string(limits.narrowSpan) + ", time chunk bits " +
           std::to_string(limits.timeChunkBits) + ", observed hit share " + std::to_string(limits.observedHitShare) +
           ", pair blocks " + std::to_string(limits.pairBlocks) + "\n" +
           describeCase(rewriteCase);
}

TEST(Differential, FastScanAgreesWithTheStraightforwardScan) {
    std::mt19937_64 random(20261206);
    // The lists of what covers observed bytes take 16 bits an entry when
    // that is enough, as it nearly always is here: the wider forms too. The
    // write times of observed bytes widen from one byte only after 255
    // rewrites, then from two and from four: here at the start, or after a
    // few; they are kept in chunks of 65,536, here of 1, 2 or 4. Match
    // offsets keep their upper bits apart only in texts over 4 GiB: here
    // over 2 to 64 bytes. Spellings longer than 32 bytes share a hash only
    // by rare chance: here, with the hash cut to a few bits, spellings over
    // a few bytes often. Chains of overlapping matches are read in pieces of
    // 4 KiB: here of a few bytes (0 standing for 1). Matches within 64 KiB
    // of the first of their 64 are kept in 16 bits: here also in 32, or
    // within a few bytes. Keys and members let go of their matches in bytes
    // the replay reads when a quarter of them lie there: here also never,
    // only when all do, or when any does. Overlapping matches are paired up
    // a megabyte of text at a time: here also 64 to 192 bytes.
    const unsigned entryBits[] = {16, 16, 32, 64};
    const std::uint64_t shares[] = {4, 0, 1, std::uint64_t(1) << 20};
    for (int i = 0; i < 20000; ++i) {
        ScanLimits limits;
        limits.observedHitShare = shares[i % std::size(shares)];
        if (i % 3 != 0) limits.pairBlocks = 1 + i / 3 % 3;
        limits.coverEntryBits = entryBits[random() % std::size(entryBits)];
        if (random() % 2 == 0) limits.narrowTimes = random() % 24;
        if (random() % 2 == 0) limits.offsetLowBits = 1 + random() % 6;
        if (random() % 4 == 0) limits.spellingHashBits = 1 + random() % 3;
        if (random() % 4 == 0) limits.readPiece = random() % 8;
        if (random() % 4 == 0) limits.timeChunkBits = random() % 3;
        if (random() % 4 == 0) limits.narrowSpan = random() % 6;
        ASSERT_EQ(disagreement(randomCase(random), limits), "") << "case " << i;
    }
}

// Overlapping declarations soon leave the text as each found it, and the
// fast scan then skips those that would change nothing; whether it can tell
// depends on how much comparing the text may cost, so that varies too.
TEST(Differential, SkippedDeclarationsAgreeWithTheStraightforwardScan) {
    std::mt19937_64 random(4);
    const std::int64_t paybacks[] = {0, 1, 2, 8, std::int64_t(1) << 40};
    for (int i = 0; i < 3000; ++i) {
        const RewriteCase rewriteCase = randomDeclarationRun(random);
        ScanLimits limits;
        limits.observedHitShare = i % 2 == 0 ? 4 : std::uint64_t(1) << 20;
        if (i % 2 == 1) limits.pairBlocks = 1 + i / 2 % 2;
        limits.comparePayback = paybacks[random() % std::size(paybacks)];
        if (random() % 4 == 0) limits.narrowTimes = random() % 24;
        if (random() % 4 == 0) limits.spellingHashBits = 1 + random() % 3;
        if (random() % 4 == 0) limits.readPiece = random() % 8;
        if (random() % 4 == 0) limits.timeChunkBits = random() % 3;
        ASSERT_EQ(disagreement(rewriteCase, limits), "") << "case " << i;
    }
}

// A pattern that overlaps itself is replayed, after a while, chain group by
// chain group when its chains of overlapping occurrences have come to be
// spelled alike, and occurrence by occurrence again when that stops paying;
// here also from the first replace, alike or not, and back after one, or
// never.
TEST(Differential, GroupedChainsAgreeWithTheStraightforwardScan) {
    std::mt19937_64 random(7);
    const std::uint64_t afters[] = {0, 0, 1, 8};
    const std::uint64_t paybacks[] = {0, 1, 4};
    for (int i = 0; i < 4000; ++i) {
        const RewriteCase rewriteCase = i % 4 == 0 ? randomCase(random) : randomChainRuns(random);
        ScanLimits limits;
        limits.groupChainsAfter = afters[random() % std::size(afters)];
        limits.groupPayback = paybacks[random() % std::size(paybacks)];
        if (random() % 4 == 0) limits.groupBytesPerLook = 0;  // checks that never pay
        if (i % 3 == 1) limits.pairBlocks = 1;
        if (random() % 4 == 0) limits.narrowTimes = random() % 24;
        if (random() % 4 == 0) limits.spellingHashBits = 1 + random() % 3;
        if (random() % 4 == 0) limits.readPiece = random() % 8;
        if (random() % 4 == 0) limits.timeChunkBits = random() % 3;
        ASSERT_EQ(disagreement(rewriteCase, limits), "") << "case " << i;
    }
}

// The reference keeps one module's member list at a time, as described:
// declarations of modules A, A, B, A read A's file twice and B's once.
TEST(Reference, KeepsOneModuleMemberListAtATime) {
    const std::string prefix = "lib\\Vorrel\\";
    const std::map<std::string, std::string> files = {{prefix + "O_Timer.inc", "X;Start"}, {prefix + "O_Clock.inc", "X;Tick"}};
    ToolState tool;
    tool.catalogueList = catalogueLine("Vorrel", "O_Timer.inc") + catalogueLine("Vorrel", "O_Clock.inc") +
                         " AS TICKER;$IFNDEF T~$DEFINE T~$include \"Vorrel\\O_Timer.inc\"~$ENDIF\r\n\r\n";
    tool.vorrelPrefix = prefix;
    tool.sourceText = "a AS TIMER b AS TIMER c AS CLOCK d AS TICKER";
    ModuleFiles modules;
    modules.files = &files;
    oracle::scanText(tool, modules);
    const std::vector<std::string> expected = {prefix + "O_Timer.inc", prefix + "O_Clock.inc", prefix + "O_Timer.inc"};
    EXPECT_EQ(modules.reads, expected);
}

}  // namespace
}  // namespace vorrel::oracle
