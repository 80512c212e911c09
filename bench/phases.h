// How the scan of one source splits into its phases: the search, the rest of
// the set-up, the replay and the final text.
#pragma once

#include <string>

namespace vorrel_bench {

/// Builds the catalogue of libraryFolder (a Vorrel folder), reads the
/// source at sourcePath, scans it phase by phase and prints the seconds of
/// the search, the rest of the set-up, the replay and the final text on one
/// line. Returns an exit code.
int phaseTimes(const std::string& libraryFolder, const std::string& sourcePath);

}  // namespace vorrel_bench
