// Writes the seed inputs of the scan fuzz target from the generators that
// the differential tests use: make_seeds <folder> [count]. A quarter as many
// again are runs of overlapping declarations, and as many again
// declarations among runs such as a.A.a.a.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "cases.h"

namespace {

void writeSeed(const std::string& folder, const char* prefix, int i, const vorrel::oracle::RewriteCase& rewriteCase) {
    char name[48];
    std::snprintf(name, sizeof name, "/%s-%03d", prefix, i);
    std::ofstream(folder + name, std::ios::binary) << vorrel::oracle::caseToBytes(rewriteCase);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_seeds <folder> [count]\n");
        return 2;
    }
    const std::string folder = argv[1];
    const int count = argc > 2 ? std::atoi(argv[2]) : 64;
    std::mt19937_64 random(1206);
    for (int i = 0; i < count; ++i) writeSeed(folder, "seed", i, vorrel::oracle::randomCase(random));
    std::mt19937_64 runs(1207);
    for (int i = 0; i < count / 4; ++i) writeSeed(folder, "seed-run", i, vorrel::oracle::randomDeclarationRun(runs));
    std::mt19937_64 chains(1208);
    for (int i = 0; i < count / 4; ++i) writeSeed(folder, "seed-chain", i, vorrel::oracle::randomChainRuns(chains));
    return 0;
}
