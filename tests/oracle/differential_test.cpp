// The engine against the step-by-step reference on thousands of small cases
// built to collide.
#include <random>

#include <gtest/gtest.h>

#include "oracle.h"

namespace vorrel::oracle {
namespace {

// Colliding keys, members and names in any case, with zero bytes and LF-only
// lines; declarations that overlap one another, with members that overlap
// them, where turns that change nothing are skipped; declarations among runs
// such as "a.A.a.a", where NAME.MEMBER overlaps itself and every replace
// re-spells the runs.
TEST(Differential, EngineAgreesWithTheReference) {
    const struct {
        RewriteCase (*make)(std::mt19937_64&);
        std::uint64_t seed;
        int count;
    } generators[] = {{randomCase, 20261206, 20000}, {randomDeclarationRun, 4, 3000}, {randomChainRuns, 7, 4000}};
    for (const auto& generator : generators) {
        std::mt19937_64 random(generator.seed);
        for (int i = 0; i < generator.count; ++i) {
            const RewriteCase rewriteCase = generator.make(random);
            const std::string difference = compareScans(rewriteCase);
            ASSERT_EQ(difference, "") << "seed " << generator.seed << ", case " << i << "\n" << describeCase(rewriteCase);
        }
    }
}

}  // namespace
}  // namespace vorrel::oracle
