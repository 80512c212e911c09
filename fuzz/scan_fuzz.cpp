// libFuzzer target: any input is decoded into a catalogue, a source and
// module files, and the engine must leave exactly what the step-by-step
// scan leaves.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "oracle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The step-by-step scan is slow on long inputs; short ones reach every path.
    if (size > 4096) return 0;
    const vorrel::oracle::RewriteCase rewriteCase = vorrel::oracle::caseFromBytes(data, size);
    const std::string difference = vorrel::oracle::compareScans(rewriteCase);
    if (!difference.empty()) {
        std::fprintf(stderr, "the scans differ: %s\n%s\n", difference.c_str(),
                     vorrel::oracle::describeCase(rewriteCase).c_str());
        std::abort();
    }
    return 0;
}
