// Writes the seed inputs of the scan fuzz target from the generators that
// the differential tests use: make_seeds <folder> [count]. A quarter as many
// again are runs of overlapping declarations.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "cases.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_seeds <folder> [count]\n");
        return 2;
    }
    const int count = argc > 2 ? std::atoi(argv[2]) : 64;
    std::mt19937_64 random(1206);
    for (int i = 0; i < count; ++i) {
        const std::string bytes = vorrel::oracle::caseToBytes(vorrel::oracle::randomCase(random));
        char name[32];
        std::snprintf(name, sizeof name, "/seed-%03d", i);
        std::ofstream(std::string(argv[1]) + name, std::ios::binary) << bytes;
    }
    std::mt19937_64 runs(1207);
    for (int i = 0; i < count / 4; ++i) {
        const std::string bytes = vorrel::oracle::caseToBytes(vorrel::oracle::randomDeclarationRun(runs));
        char name[32];
        std::snprintf(name, sizeof name, "/seed-run-%03d", i);
        std::ofstream(std::string(argv[1]) + name, std::ios::binary) << bytes;
    }
    return 0;
}
