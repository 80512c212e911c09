// vorrel_bench: times vorrel on generated HotBasic sources against a plain
// copy of the same file (/bin/cp), against the file work a run must do, and
// against vorrel_reference, the same tool with the step-by-step scan; splits
// the scan's time into its phases; checks every output it produces.
//
//   vorrel_bench [--quick] [--check] [--series LIST] [--rounds N] ...
//
// See bench/README.md and --help.

#include <algorithm>
#include <cmath>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "datasets.h"
#include "files.h"
#include "io_floor.h"
#include "measure.h"
#include "options.h"
#include "phases.h"
#include "process.h"
#include "report.h"

namespace vorrel_bench {
namespace {

// What the series share: the options, the report so far and the inputs
// measured, each once per plan.
struct Bench {
    explicit Bench(const Options& given) : options(given) {}
    const Options& options;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::string loadAtStart = loadAverage();
    std::ostringstream report;
    std::map<std::string, Measurement> done;  // by input name, and how it was measured
    std::vector<const Measurement*> all;      // in the order of the report
    std::vector<std::string> targetsMissed;
    Plan timing;                              // the rounds of the series
    bool quick = false;
    std::uint64_t bigN = 0;                   // the size of the density and module series' inputs
};

const Measurement& get(Bench& b, const DatasetSpec& spec, const Plan& plan) {
    const std::string key = spec.name() + (plan.referenceRounds > 0 ? "+reference" : "");
    auto found = b.done.find(key);
    if (found == b.done.end()) found = b.done.emplace(key, measure(b.options, spec, plan)).first;
    return found->second;
}

// A series whose inputs are compared with one another: measured together,
// each a row of the table.
std::vector<const Measurement*> getSeries(Bench& b, const std::vector<DatasetSpec>& specs, const std::string& series,
                                          Table& table) {
    std::vector<const Measurement*> measured;
    for (Measurement& m : measureTogether(b.options, specs, b.timing)) {
        const std::string key = m.data.spec.name() + "@" + series;
        const Measurement* kept = &b.done.emplace(key, std::move(m)).first->second;
        table.add(timingRow(kindName(kept->data.spec.kind), *kept));
        b.all.push_back(kept);
        measured.push_back(kept);
    }
    return measured;
}

void writeHead(Bench& b) {
    const Options& options = b.options;
    std::ostringstream& report = b.report;
    const Machine machine = describeMachine(options.data);
    report << "vorrel benchmark" << (options.check ? " (check)" : options.quick ? " (quick)" : "") << "\n"
           << "================\n"
           << "machine:  " << machine.cpu << ", " << machine.cores << " cores, " << fixed(machine.memoryMiB / 1024.0, 1)
           << " GiB memory, " << machine.kernel << "; data on " << machine.fileSystem << "\n"
           << (options.label.empty() ? "" : "build:    " + options.label + "\n")
           << "programs: " << options.vorrel << "\n"
           << "          " << options.reference << " (reference)\n"
           << "          " << options.copyProgram << " (baseline: the same file copied)\n"
           << "rounds:   " << options.rounds << " alternating rounds per input (reference " << options.referenceRounds
           << ", adversarial " << options.adversarialRounds << "); wall time from fork to wait4, median;\n"
           << "          each run on a fresh copy of the input made before the clock starts"
           << (options.sync ? ", file systems flushed (sync) before each run" : "") << ";\n"
           << "          the inputs of a growth or module series take their turns within each round, so that\n"
           << "          'by round' (the median of the ratios of runs of the same round) leaves out the machine's drift\n"
           << "units:    1 MiB = 1,048,576 bytes; net s = median - " << pauseSeconds
           << " s, the pause vorrel makes between its two saves;\n"
           << "          cpu s = median user + system CPU time of vorrel; net/cp = net s / cp s;\n"
           << "          files s = the file work of a run alone (read, save through a temporary file flushed to disk,\n"
           << "          the pause, read, save again: vorrel_bench --io-floor); net/files = net s / (files s - the pause)\n"
           << "          peak = ru_maxrss (largest of the rounds); limit = 4 x input + 64 MiB\n"
           << "\n";
}

// The scan's share of a run, phase by phase: the compute is the run less the
// pause and the file work; the phases, timed in a process of their own, are
// most of it, and the rest is the catalogue, the console and the insertion.
void phaseTable(Bench& b, const std::vector<const Measurement*>& measured) {
    Table table({"input", "net s", "files s", "compute s", "search s", "set-up s", "replay s", "final s", "rest s",
                 "search GB/s", "net/files", "must", "goal"});
    for (const Measurement* m : measured) {
        const PhaseSample& p = m->phases;
        const double compute = net(m->vorrel) - net(m->floor);
        const double phases = median(p.search) + median(p.setUp) + median(p.replay) + median(p.finalText);
        const double ratio = net(m->vorrel) / net(m->floor);
        const bool sparse = m->data.spec.kind == Kind::sparse;
        const double gigabytesPerSecond = static_cast<double>(m->data.stats.bytes) / 1e9 / median(p.search);
        const bool goal = ratio <= (sparse ? 1.6 : 2.5) && (!sparse || gigabytesPerSecond >= 1);
        table.add({kindName(m->data.spec.kind), fixed(net(m->vorrel), 3), fixed(net(m->floor), 3), fixed(compute, 3),
                   fixed(median(p.search), 3), fixed(median(p.setUp), 3), fixed(median(p.replay), 3),
                   fixed(median(p.finalText), 3), fixed(compute - phases, 3), fixed(gigabytesPerSecond, 2),
                   fixed(ratio, 2), ratio <= (sparse ? 2.5 : 5.0) ? "met" : "NOT MET", goal ? "met" : "not met"});
    }
    b.report << "Where the time goes (medians; files s and net/files with the pause taken off)\n";
    table.print(b.report);
    b.report << "  search = the searches of the text (the keys with the members of modules declared early, then any others);\n"
             << "  set-up = the rest of the set-up; search GB/s = 10^9 bytes of source per second of search;\n"
             << "  must: net/files <= 2.5 sparse, <= 5 dense; goal: <= 1.6 sparse (and search >= 1 GB/s), <= 2.5 dense\n";
}

void densitySeries(Bench& b) {
    Table table(timingHeader);
    Plan plan = b.timing;
    plan.floor = !b.options.check;
    plan.phases = !b.options.check;
    std::vector<const Measurement*> measured;
    for (const Kind kind : {Kind::sparse, Kind::dense}) {
        const Measurement& m = get(b, {kind, b.bigN, 1000}, plan);
        table.add(timingRow(kindName(kind), m));
        b.all.push_back(&m);
        measured.push_back(&m);
    }
    b.report << "Density: sparse (a use per ~100 bytes, ~90% already upper case) and dense (per ~16 bytes, ~80% "
                "mis-cased)\n";
    table.print(b.report);
    if (plan.phases) phaseTable(b, measured);
    b.report << "\n";
}

void growthSeries(Bench& b) {
    std::ostringstream& report = b.report;
    const std::vector<std::uint64_t> growthN =
        b.quick ? std::vector<std::uint64_t>{1 * MiB, 3 * MiB} : std::vector<std::uint64_t>{10 * MiB, 30 * MiB, 100 * MiB};
    Table table(timingHeader);
    std::vector<std::string> notes;
    for (Kind kind : {Kind::sparse, Kind::dense}) {
        std::vector<DatasetSpec> specs;
        for (std::uint64_t n : growthN) specs.push_back({kind, n, 1000});
        const std::vector<const Measurement*> measured = getSeries(b, specs, "growth", table);
        const Measurement* first = measured.front();
        const Measurement* last = measured.back();
        const double ratio = static_cast<double>(last->data.stats.bytes) / static_cast<double>(first->data.stats.bytes);
        notes.push_back(std::string(kindName(kind)) + ": net time x" +
                        fixed(perTenfold(net(first->vorrel), net(last->vorrel), ratio), 2) + " per tenfold of N (by round x" +
                        fixed(perTenfold(1, pairedRatio(first->vorrel, last->vorrel), ratio), 2) + "; cpu x" +
                        fixed(perTenfold(median(first->vorrel.cpu), median(last->vorrel.cpu), ratio), 2) +
                        "; whole run x" + fixed(perTenfold(median(first->vorrel), median(last->vorrel), ratio), 2) +
                        "; cp x" + fixed(perTenfold(median(first->copy), median(last->copy), ratio), 2) + ")");
    }
    report << "Growth with N (K = 1000)\n";
    table.print(report);
    for (const auto& note : notes) report << "  " << note << "\n";
    report << "\n";
}

void moduleSeries(Bench& b) {
    std::ostringstream& report = b.report;
    const std::uint64_t bigN = b.bigN;
    const std::vector<int> moduleCounts = {10, 100, 1000, 3000};
    Table table(timingHeader);
    std::vector<std::string> notes;
    for (Kind kind : {Kind::sparse, Kind::dense}) {
        std::vector<DatasetSpec> specs;
        for (int k : moduleCounts) specs.push_back({kind, bigN, k});
        const std::vector<const Measurement*> measured = getSeries(b, specs, "modules", table);
        const Measurement* first = measured.front();
        const Measurement* last = measured.back();
        notes.push_back(std::string(kindName(kind)) + ": K=" + std::to_string(last->data.moduleCount) + " / K=" +
                        std::to_string(first->data.moduleCount) + ": net x" +
                        fixed(net(last->vorrel) / net(first->vorrel), 2) + " (by round x" +
                        fixed(pairedRatio(first->vorrel, last->vorrel), 2) + "), cpu x" +
                        fixed(median(last->vorrel.cpu) / median(first->vorrel.cpu), 2) + ", whole run x" +
                        fixed(median(last->vorrel) / median(first->vorrel), 2));
    }
    report << "Module count K at N = " << bigN / MiB << " MiB (the same number of uses for every K)\n";
    table.print(report);
    for (const auto& note : notes) report << "  " << note << "\n";
    report << "\n";
}

void referenceSeries(Bench& b) {
    const Options& options = b.options;
    std::ostringstream& report = b.report;
    auto& all = b.all;
    // The reference is roughly quadratic: 1 and 2 MiB sparse, a smaller dense input.
    const std::vector<DatasetSpec> referenceInputs =
        b.quick ? std::vector<DatasetSpec>{{Kind::sparse, 1 * MiB, 1000}, {Kind::dense, 128 * 1024, 1000}}
                : std::vector<DatasetSpec>{{Kind::sparse, 1 * MiB, 1000}, {Kind::sparse, 2 * MiB, 1000},
                                           {Kind::dense, 256 * 1024, 1000}};
    Plan plan;
    plan.rounds = std::max(options.referenceRounds, options.check ? 1 : options.rounds);
    plan.referenceRounds = options.referenceRounds;
    plan.copy = !options.check;
    Table table({"input", "MiB", "K", "uses", "reference s", "min-max", "vorrel s", "speed-up", "speed-up net",
                 "identical", "ref peak MiB", "check"});
    for (const DatasetSpec& spec : referenceInputs) {
        const Measurement& m = get(b, spec, plan);
        all.push_back(&m);
        table.add({kindName(spec.kind), fixed(static_cast<double>(m.data.stats.bytes) / MiB, 2), std::to_string(m.data.moduleCount),
                   withCommas(m.data.stats.uses), fixed(median(m.reference), 2), spread(m.reference),
                   fixed(median(m.vorrel), 3), fixed(median(m.reference) / median(m.vorrel), 0),
                   fixed(net(m.reference) / net(m.vorrel), 0),
                   std::to_string(m.referenceIdentical) + "/" + std::to_string(m.reference.seconds.size()),
                   fixed(peakMiB(m.reference), 1), status(m)});
    }
    report << "Against vorrel_reference, the step-by-step scan (" << options.referenceRounds
           << " reference round(s) per input; output compared byte for byte with vorrel's)\n";
    table.print(report);
    report << "  speed-up = reference s / vorrel s; speed-up net = the same with the pause taken off both\n\n";
}

// How the time of an input that missed the target grows with its size.
void adversarialGrowth(Bench& b, const std::vector<Kind>& slow, std::uint64_t adversarialN) {
    const Options& options = b.options;
    std::ostringstream& report = b.report;
    for (Kind kind : slow) {
        Plan probe;
        probe.rounds = 1;
        probe.copy = false;
        probe.cpuLimit = options.adversarialLimit;
        Table growth({"input", "bytes", "decl.", "vorrel s", "cpu s", "peak MiB", "x previous", "check"});
        double previous = NAN;
        for (std::uint64_t n = 4 * 1024; n < adversarialN; n *= 2) {
            const Measurement& m = get(b, {kind, n, 1000}, probe);
            const double t = m.stopped ? NAN : median(m.vorrel.cpu);
            growth.add({m.data.spec.name(), withCommas(m.data.stats.bytes), withCommas(m.data.stats.declarations),
                        m.stopped ? "> " + std::to_string(probe.cpuLimit) : fixed(median(m.vorrel), 3),
                        m.stopped ? "-" : fixed(t, 3), m.stopped ? "-" : fixed(peakMiB(m.vorrel), 1),
                        std::isnan(previous) || std::isnan(t) ? "-" : fixed(t / previous, 2),
                        m.stopped ? "-" : status(m)});
            if (m.stopped) break;
            previous = t;
        }
        report << "  " << kindName(kind) << ": time at doubling sizes (1 round; x previous = ratio of CPU times)\n";
        growth.print(report);
    }
    report << "\n";
}

void adversarialSeries(Bench& b) {
    const Options& options = b.options;
    std::ostringstream& report = b.report;
    auto& all = b.all;
    auto& targetsMissed = b.targetsMissed;
    const std::uint64_t adversarialN = b.quick ? 1 * MiB : 10 * MiB;
    Plan plan;
    plan.rounds = options.adversarialRounds;
    plan.copy = !options.check;
    plan.cpuLimit = options.adversarialLimit;
    Table table({"input", "MiB", "K", "uses", "decl.", "vorrel s", "min-max", "cpu s", "net s", "cp s", "peak MiB",
                 "limit MiB", "within", "<= 10 s", "check"});
    std::vector<Kind> slow;
    for (Kind kind : {Kind::freshCase, Kind::overlapKeys, Kind::overlapMembers, Kind::overlapDeclarations,
                      Kind::overlapNames, Kind::respelledChains, Kind::declarations}) {
        const Measurement& m = get(b, {kind, adversarialN, 1000}, plan);
        all.push_back(&m);
        const bool met = !m.stopped && median(m.vorrel) <= 10;
        if (!met) {
            slow.push_back(kind);
            targetsMissed.push_back(m.data.spec.name() + ": " +
                                    (m.stopped ? "stopped after " + std::to_string(plan.cpuLimit) + " s of CPU time"
                                               : fixed(median(m.vorrel), 1) + " s"));
        }
        const std::string time = m.stopped ? "> " + std::to_string(plan.cpuLimit) : fixed(median(m.vorrel), 3);
        table.add({kindName(kind), fixed(static_cast<double>(m.data.stats.bytes) / MiB, 1),
                   std::to_string(m.data.moduleCount),
                   m.data.stats.usesChecked ? withCommas(m.data.stats.uses) : "-",
                   withCommas(m.data.stats.declarations), time, m.stopped ? "stopped" : spread(m.vorrel),
                   m.stopped ? "-" : fixed(median(m.vorrel.cpu), 3), m.stopped ? "-" : fixed(net(m.vorrel), 3),
                   fixed(median(m.copy), 3), m.stopped ? "-" : fixed(peakMiB(m.vorrel), 1),
                   fixed(memoryLimitMiB(m.data), 0),
                   m.stopped ? "-" : (peakMiB(m.vorrel) <= memoryLimitMiB(m.data) ? "yes" : "NO"), met ? "yes" : "NO",
                   m.stopped ? "-" : status(m)});
    }
    report << "Adversarial inputs (" << options.adversarialRounds << " rounds; a run is stopped after "
           << options.adversarialLimit << " s of CPU time)\n"
           << "  fresh-case: every occurrence of a key or member in a letter case of its own (names of 30+ letters)\n"
           << "  overlap-keys: keys A( A(A( A(A(A( AA( \"A A(\" over runs such as a(A(a(a(A(aa(a a(\n"
           << "  overlap-members: DIM t AS OVL (one or two per 2,000 bytes), members \"a a\", \"a a a\", \"a(a\", \"a=a\", ...\n"
           << "                   over runs such as a A a=aa A=a(a a \n"
           << "  overlap-declarations: runs DIM s AS S as s AS S ... for the key \" AS S AS S\": declarations that overlap\n"
           << "  overlap-names: DIM a AS T and DIM A AS T (member A) among runs such as a.A.A.a.a.A: the pattern NAME.A\n"
           << "                 overlaps itself and each declaration spells its ends differently\n"
           << "  respelled-chains: the same with the members A and a, so that every declaration re-spells the runs\n"
           << "                    twice (always timed at doubling sizes too)\n"
           << "  declarations: 10,000 object declarations per 10 MiB, each its own name, types of 20 members,\n"
           << "                6-12 member uses each\n";
    table.print(report);
    // Always the runs every declaration re-spells, to show that they grow linearly.
    if (std::find(slow.begin(), slow.end(), Kind::respelledChains) == slow.end()) slow.push_back(Kind::respelledChains);
    adversarialGrowth(b, slow, adversarialN);
}

void inputsTable(Bench& b) {
    const Options& options = b.options;
    std::ostringstream& report = b.report;
    Table table({"input", "bytes", "K", "uses", "bytes/use", "declarations", "member uses", "mis-cased uses",
                 "modules used", "added", "re-cased bytes", "uses checked", "generated s"});
    std::set<std::string> shown;
    for (const Measurement* m : b.all) {
        const Dataset& d = m->data;
        if (!shown.insert(d.spec.name()).second) continue;
        table.add({d.spec.name(), withCommas(d.stats.bytes), std::to_string(d.moduleCount),
                   d.stats.usesChecked ? withCommas(d.stats.uses) : "-",
                   d.stats.usesChecked ? fixed(static_cast<double>(d.stats.bytes) / static_cast<double>(d.stats.uses), 1) : "-",
                   withCommas(d.stats.declarations), withCommas(d.stats.memberUses),
                   d.stats.usesChecked ? withCommas(d.stats.miscased) : "-", std::to_string(d.stats.modulesUsed),
                   m->added < 0 ? "-" : std::to_string(m->added), withCommas(m->check.recasedBytes),
                   d.stats.usesChecked ? withCommas(m->check.usesChecked) : "-",
                   d.generationSeconds > 0 ? fixed(d.generationSeconds, 2) : "reused"});
    }
    report << "Inputs (generated with fixed seeds into " << options.data << ")\n";
    table.print(report);
    report << "  added = vorrel's \"Added N vorrels\"; re-cased bytes = bytes whose case vorrel changed;\n"
           << "  uses checked = recorded uses found upper-cased in vorrel's output\n\n";
}

void writeTail(Bench& b) {
    const Options& options = b.options;
    std::ostringstream& report = b.report;
    auto& all = b.all;
    auto& targetsMissed = b.targetsMissed;
    if (allFailures.empty()) {
        report << "checks: all passed (exit codes, console lines, output = input re-cased plus include blocks,\n"
               << "        every recorded use upper-cased, same output every round"
               << (options.series.count("reference") ? ", reference output byte-identical" : "") << ")\n";
    } else {
        report << "checks: " << allFailures.size() << " FAILED\n";
        for (const auto& f : allFailures) report << "  FAIL " << f << "\n";
    }
    {
        std::set<std::string> shown;
        for (const Measurement* m : all) {
            if (m->stopped || !shown.insert(m->data.spec.name()).second) continue;
            if (peakMiB(m->vorrel) > memoryLimitMiB(m->data)) {
                targetsMissed.push_back(m->data.spec.name() + ": peak memory " + fixed(peakMiB(m->vorrel), 1) +
                                        " MiB, over 4 x input + 64 MiB = " + fixed(memoryLimitMiB(m->data), 1) + " MiB");
            }
        }
    }
    if (!targetsMissed.empty()) {
        report << "targets missed (time over 10 s on an adversarial input, or memory over the limit):\n";
        for (const auto& t : targetsMissed) report << "  " << t << "\n";
    }
    report << "bench process resident when starting a child: at most " << fixed(largestResidentAtSpawnKiB() / 1024.0, 1)
           << " MiB (a child's ru_maxrss cannot be less)\n";
    report << "load average: " << b.loadAtStart << " at the start, " << loadAverage() << " at the end\n";
    report << "benchmark wall time: " << formatSeconds(secondsSince(b.start)) << "\n";
    std::cout << "\n" << report.str() << std::flush;
}

int run(const Options& options) {
    makeFolders(options.data);
    Bench b(options);
    b.quick = options.quick || options.check;
    b.bigN = b.quick ? 3 * MiB : 100 * MiB;
    b.timing.rounds = options.rounds;
    b.timing.copy = !options.check;
    writeHead(b);
    if (options.series.count("density")) densitySeries(b);
    if (options.series.count("growth")) growthSeries(b);
    if (options.series.count("modules")) moduleSeries(b);
    if (options.series.count("reference")) referenceSeries(b);
    if (options.series.count("adversarial")) adversarialSeries(b);
    inputsTable(b);
    writeTail(b);
    if (options.removeData) removeTree(options.data);
    return allFailures.empty() ? 0 : 1;
}

}  // namespace
}  // namespace vorrel_bench

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--io-floor") return vorrel_bench::ioFloor(argv[2]);
    if (argc == 4 && std::string(argv[1]) == "--phases") return vorrel_bench::phaseTimes(argv[2], argv[3]);
    try {
        return vorrel_bench::run(vorrel_bench::parseOptions(argc, argv));
    } catch (const std::exception& e) {
        std::cerr << "vorrel_bench: " << e.what() << "\n";
        return 2;
    }
}
