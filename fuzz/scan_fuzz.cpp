// libFuzzer target: any input is decoded into a catalogue, a source and
// module files, and the fast scan must leave exactly what the step-by-step
// scan leaves.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "cases.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The step-by-step scan is slow on long inputs; short ones reach every path.
    if (size > 4096) return 0;
    const vorrel::oracle::RewriteCase rewriteCase = vorrel::oracle::caseFromBytes(data, size);
    // The length also picks how readily the fast scan groups chains of
    // overlapping occurrences (or whether it ever does) and compares whole
    // texts, how wide it keeps the entries of its cover lists, when its
    // write times widen and how many it keeps together, how it splits match
    // offsets and when it keeps them in 16 bits, how many bits of hash tell
    // spellings apart and how many bytes of a chain it reads at once, so
    // that every way it has of replaying is reached.
    vorrel::ScanLimits limits;
    switch (size % 4) {
    case 1: limits.groupChainsAfter = 0, limits.groupPayback = 0; break;
    case 2: limits.groupChainsAfter = 0, limits.comparePayback = std::int64_t(1) << 20; break;
    case 3: limits.groupChainsAfter = 1, limits.comparePayback = 0; break;
    default: break;
    }
    limits.coverEntryBits = 16u << (size % 3);
    if (size % 5 < 2) limits.narrowTimes = size % 29;
    if (size % 7 < 3) limits.offsetLowBits = 1 + size % 6;
    if (size % 11 < 3) limits.spellingHashBits = 1 + size / 11 % 3;
    if (size % 13 < 4) limits.readPiece = size / 13 % 5;
    if (size % 17 < 5) limits.narrowSpan = static_cast<std::uint32_t>(size / 17 % 6);
    if (size % 19 < 5) limits.timeChunkBits = size / 19 % 3;
    if (size % 23 < 4) limits.groupChainsAfter = 1, limits.groupBytesPerLook = 0;
    if (size % 29 < 8) limits.observedHitShare = size % 2 == 0 ? 0 : std::uint64_t(1) << 20;
    if (size % 31 < 10) limits.pairBlocks = 1 + size % 2;
    const std::string difference = vorrel::oracle::compareScans(rewriteCase, limits);
    if (!difference.empty()) {
        std::fprintf(stderr, "the scans differ: %s\n%s\n", difference.c_str(),
                     vorrel::oracle::describeCase(rewriteCase).c_str());
        std::abort();
    }
    return 0;
}
