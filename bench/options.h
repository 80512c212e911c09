// The benchmark's command line: what to time, on which inputs, how often.
#pragma once

#include <set>
#include <string>

namespace vorrel_bench {

struct Options {
    std::string vorrel;        // default: the one built beside the benchmark
    std::string reference;
    std::string copyProgram = "/bin/cp";
    std::string data = "bench-data";
    std::string label;         // printed in the report's head, e.g. the source revision
    bool quick = false;
    bool check = false;
    bool sync = true;
    bool freshData = false;
    bool removeData = false;
    int rounds = 0;            // 0: the mode's default
    int referenceRounds = 0;
    int adversarialRounds = 0;
    int adversarialLimit = 0;  // CPU seconds an adversarial run may take
    std::set<std::string> series;
};

/// The options of argv; prints the usage and exits on --help, throws on a
/// malformed command line.
Options parseOptions(int argc, char** argv);

}  // namespace vorrel_bench
