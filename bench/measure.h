// Timing the programs on the inputs: rounds in which every program runs once
// on a fresh copy of the input, in an order that turns with the round, each
// output checked.
#pragma once

#include <string>
#include <vector>

#include "datasets.h"
#include "options.h"
#include "process.h"
#include "verify.h"

namespace vorrel_bench {

constexpr double pauseSeconds = 0.1;  // vorrel waits this long between its two saves

/// The runs of one program on one input.
struct Sample {
    std::vector<double> seconds;
    std::vector<double> cpu;
    std::vector<long> peakKiB;
    void add(const ChildRun& run) {
        seconds.push_back(run.seconds);
        cpu.push_back(run.cpuSeconds);
        peakKiB.push_back(run.peakKiB);
    }
    bool empty() const { return seconds.empty(); }
};

/// The seconds of each phase of a scan (vorrel_bench --phases), one entry a round.
struct PhaseSample {
    std::vector<double> search, setUp, replay, finalText;
};

double median(std::vector<double> values);
double median(const Sample& s);
double lowest(const Sample& s);
double highest(const Sample& s);
double peakMiB(const Sample& s);

struct Measurement {
    Dataset data;
    Sample vorrel, copy, reference, floor;
    PhaseSample phases;
    int referenceIdentical = 0;  // reference rounds whose output equals vorrel's
    bool stopped = false;        // a vorrel run reached the CPU time limit; no more rounds
    OutputCheck check;
    long added = -1;
    std::vector<std::string> failures;
};

/// Which programs run, how often, and for how long at most.
struct Plan {
    int rounds = 9;
    int referenceRounds = 0;
    bool copy = true;
    bool floor = false;   // also time the file work alone (ioFloor)
    bool phases = false;  // also time the scan's phases (phaseTimes)
    int cpuLimit = 900;   // seconds of CPU time a vorrel run may take
};

/// Every failure seen so far, each prefixed with its input's name.
extern std::vector<std::string> allFailures;

/// Measures the inputs round by round, every input once a round (the first
/// turning with the round), so that a machine that runs faster or slower for
/// a while weighs on all of them alike.
std::vector<Measurement> measureTogether(const Options& options, const std::vector<DatasetSpec>& specs,
                                         const Plan& plan);

/// Measures one input.
Measurement measure(const Options& options, const DatasetSpec& spec, const Plan& plan);

}  // namespace vorrel_bench
