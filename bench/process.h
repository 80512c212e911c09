// Runs a child process and measures it: wall time from fork to the end of
// wait4, and its peak resident memory (ru_maxrss).
#pragma once

#include <string>
#include <vector>

namespace vorrel_bench {

struct ChildRun {
    double seconds = 0;
    double cpuSeconds = 0;    // ru_utime + ru_stime
    long peakKiB = 0;         // ru_maxrss
    int exitCode = -1;        // the exit code, or -1 when a signal ended it
    int signal = 0;           // the signal that ended it, or 0
    std::string output;       // what it wrote to standard output
    std::string errors;       // what it wrote to standard error (first 4 KiB)
};

/// Runs argv[0] (a path) with arguments argv and its standard output and
/// error sent to files beside outputStem; cpuSeconds > 0 limits its CPU time.
ChildRun runChild(const std::vector<std::string>& argv, const std::string& outputStem, int cpuSeconds);

/// The resident memory of this process in KiB (to show the floor a child's
/// ru_maxrss starts from).
long ownResidentKiB();

/// The largest ownResidentKiB() seen when a child was started.
long largestResidentAtSpawnKiB();

struct Machine {
    std::string cpu;
    int cores = 0;
    long long memoryMiB = 0;
    std::string kernel;
    std::string fileSystem;   // of the data folder
};
/// The first three numbers of /proc/loadavg.
std::string loadAverage();
Machine describeMachine(const std::string& dataFolder);

}  // namespace vorrel_bench
