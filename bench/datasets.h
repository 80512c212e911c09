// The benchmark's inputs: which kinds there are, and each one generated with
// a fixed seed into its own folder (a library in inc/Vorrel and a source),
// or reused from an earlier run while its parameters stay the same.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "options.h"
#include "source_gen.h"

namespace vorrel_bench {

constexpr std::uint64_t MiB = 1024 * 1024;

enum class Kind { sparse, dense, freshCase, overlapKeys, overlapMembers, overlapDeclarations, overlapNames,
                  respelledChains, declarations };

/// The name of the kind, as the report and the data folders show it.
const char* kindName(Kind kind);

struct DatasetSpec {
    Kind kind = Kind::sparse;
    std::uint64_t bytes = 0;
    int modules = 0;

    std::string name() const;  // e.g. sparse-100MiB-K1000, the data folder's name
};

struct Dataset {
    DatasetSpec spec;
    std::string folder, source, uses;
    SourceStats stats;
    int moduleCount = 0;
    double generationSeconds = 0;   // 0 when reused
};

/// Seconds since start, on the steady clock.
double secondsSince(std::chrono::steady_clock::time_point start);

/// The input of spec in options.data, generated unless it is there already.
Dataset ensureDataset(const Options& options, const DatasetSpec& spec);

}  // namespace vorrel_bench
