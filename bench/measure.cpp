#include "measure.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

#include "files.h"

namespace vorrel_bench {

std::vector<std::string> allFailures;

double median(std::vector<double> values) {
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}
double median(const Sample& s) { return median(s.seconds); }
double lowest(const Sample& s) { return s.empty() ? NAN : *std::min_element(s.seconds.begin(), s.seconds.end()); }
double highest(const Sample& s) { return s.empty() ? NAN : *std::max_element(s.seconds.begin(), s.seconds.end()); }
double peakMiB(const Sample& s) {
    if (s.empty()) return NAN;
    return static_cast<double>(*std::max_element(s.peakKiB.begin(), s.peakKiB.end())) / 1024.0;
}

namespace {

void fail(Measurement& m, const std::string& what) {
    const std::string line = m.data.spec.name() + ": " + what;
    m.failures.push_back(line);
    allFailures.push_back(line);
    std::cerr << "\n  FAIL " << line << "\n";
}

std::string describe(const ChildRun& run) {
    std::ostringstream s;
    if (run.signal != 0) s << "killed by signal " << run.signal << " (" << strsignal(run.signal) << ")";
    else s << "exit code " << run.exitCode;
    if (!run.errors.empty()) s << ", stderr: " << run.errors.substr(0, 200);
    return s.str();
}

// This program's own path, to run it as the file-work baseline and to time
// the phases.
std::string ownPath() {
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) {
        throw std::runtime_error("cannot find /proc/self/exe");
    }
    path.resize(static_cast<std::size_t>(length));
    return path;
}

enum class Contender { vorrel, copy, reference, floor, phases };

// An input being measured: its measurement so far, and where its runs go.
struct Trial {
    Measurement m;
    std::string work, vorrel, reference, expected;
    bool haveExpected = false;
};

Trial startTrial(const Options& options, const DatasetSpec& spec, const Plan& plan) {
    Trial t;
    t.m.data = ensureDataset(options, spec);
    const Dataset& d = t.m.data;
    t.work = d.folder + "/work";
    removeTree(t.work);
    makeFolders(t.work);
    // The programs sit beside inc/Vorrel: that is where they look for the library.
    t.vorrel = d.folder + "/vorrel";
    t.reference = d.folder + "/vorrel_reference";
    copyFile(options.vorrel, t.vorrel, 0755);
    if (plan.referenceRounds > 0) copyFile(options.reference, t.reference, 0755);
    t.expected = t.work + "/expected.bas";
    return t;
}

// A fresh copy of the input at file, flushed to the disk unless told not to.
std::string freshCopy(const Options& options, const Trial& t, const std::string& name) {
    const std::string file = t.work + "/" + name + ".bas";
    copyFile(t.m.data.source, file);
    if (options.sync) syncAll();
    return file;
}

// The first round's output is checked on its own terms and kept; later
// rounds must give the same bytes.
void checkVorrelOutput(Trial& t, const std::string& file, const ChildRun& run) {
    Measurement& m = t.m;
    const Dataset& d = m.data;
    const long added = addedCount(run.output);
    if (added < 0) fail(m, "vorrel printed something else than its three lines: " + run.output.substr(0, 200));
    else if (added != static_cast<long>(d.stats.modulesUsed)) {
        fail(m, "vorrel added " + std::to_string(added) + " vorrels, the input uses " +
                    std::to_string(d.stats.modulesUsed) + " modules");
    }
    m.added = added;
    if (t.haveExpected) {
        if (!sameContent(file, t.expected)) fail(m, "vorrel output differs from its output of the first round");
        return;
    }
    m.check = checkOutput(d.source, file, d.uses, d.stats.usesChecked);
    if (!m.check.ok) fail(m, "vorrel output: " + m.check.problem);
    else if (static_cast<long>(m.check.blocks) != added) {
        fail(m, "vorrel inserted " + std::to_string(m.check.blocks) + " blocks but reports " + std::to_string(added));
    } else if (m.check.recasedBytes == 0) {
        fail(m, "vorrel changed no letter case (so it did not pause); the input should need it");
    }
    if (std::rename(file.c_str(), t.expected.c_str()) != 0) throw std::runtime_error("cannot rename " + file);
    t.haveExpected = true;
}

// Returns false when the run reached the CPU time limit.
bool runVorrel(const Options& options, const Plan& plan, Trial& t) {
    const std::string file = freshCopy(options, t, "vorrel");
    const ChildRun run = runChild({t.vorrel, file}, t.work + "/vorrel", plan.cpuLimit);
    t.m.vorrel.add(run);
    std::cerr << "v" << std::flush;
    if (run.signal == SIGXCPU || (run.signal == SIGKILL && run.cpuSeconds >= plan.cpuLimit)) {
        t.m.stopped = true;
        std::cerr << "(stopped at the CPU limit of " << plan.cpuLimit << " s)";
        return false;
    }
    if (run.exitCode != 0) fail(t.m, "vorrel: " + describe(run));
    else checkVorrelOutput(t, file, run);
    return true;
}

void runReference(const Options& options, Trial& t) {
    Measurement& m = t.m;
    const std::string file = freshCopy(options, t, "reference");
    const ChildRun run = runChild({t.reference, file}, t.work + "/reference", 3600);
    m.reference.add(run);
    std::cerr << "r" << std::flush;
    if (run.exitCode != 0) {
        fail(m, "vorrel_reference: " + describe(run));
    } else if (!t.haveExpected) {
        fail(m, "no vorrel output to compare the reference's with");
    } else if (!sameContent(file, t.expected)) {
        fail(m, "vorrel_reference output is not byte-identical to vorrel's");
    } else if (run.output != readWholeFile(t.work + "/vorrel.stdout")) {
        fail(m, "vorrel_reference printed other lines than vorrel");
    } else {
        ++m.referenceIdentical;
    }
}

void runPhases(Trial& t) {
    Measurement& m = t.m;
    const ChildRun run =
        runChild({ownPath(), "--phases", m.data.folder + "/inc/Vorrel", m.data.source}, t.work + "/phases", 900);
    std::cerr << "p" << std::flush;
    PhaseSample& p = m.phases;
    double search = 0, setUp = 0, replay = 0, finalText = 0;
    if (run.exitCode != 0 || std::sscanf(run.output.c_str(), "%lf %lf %lf %lf", &search, &setUp, &replay,
                                         &finalText) != 4) {
        fail(m, "phase times: " + describe(run));
        return;
    }
    p.search.push_back(search);
    p.setUp.push_back(setUp);
    p.replay.push_back(replay);
    p.finalText.push_back(finalText);
}

// One round of an input: vorrel, and cp, the file work, the phases and the
// reference as the plan says, in an order that turns with the round.
void runRound(const Options& options, const Plan& plan, Trial& t, int round) {
    std::vector<Contender> order = {Contender::vorrel};
    if (plan.copy) order.push_back(Contender::copy);
    if (plan.floor) order.push_back(Contender::floor);
    if (plan.phases) order.push_back(Contender::phases);
    if (round < plan.referenceRounds) order.push_back(Contender::reference);
    // Alternate who goes first; vorrel leads the first round so that its
    // output is there to compare the reference's with.
    std::rotate(order.begin(), order.begin() + (round % static_cast<int>(order.size())), order.end());
    for (const Contender who : order) {
        if (who == Contender::vorrel) {
            if (!runVorrel(options, plan, t)) break;
        } else if (who == Contender::copy) {
            const std::string file = t.work + "/copy.bas";
            ::unlink(file.c_str());
            if (options.sync) syncAll();
            const ChildRun run = runChild({options.copyProgram, t.m.data.source, file}, t.work + "/copy", 900);
            t.m.copy.add(run);
            std::cerr << "c" << std::flush;
            if (run.exitCode != 0 || fileSize(file) != t.m.data.stats.bytes) fail(t.m, "cp: " + describe(run));
        } else if (who == Contender::floor) {
            const std::string file = freshCopy(options, t, "floor");
            const ChildRun run = runChild({ownPath(), "--io-floor", file}, t.work + "/floor", 900);
            t.m.floor.add(run);
            std::cerr << "f" << std::flush;
            if (run.exitCode != 0 || fileSize(file) <= t.m.data.stats.bytes) {
                fail(t.m, "file work alone: " + describe(run));
            }
        } else if (who == Contender::phases) {
            runPhases(t);
        } else {
            runReference(options, t);
        }
    }
}

Measurement finishTrial(Trial& t) {
    const Measurement& m = t.m;
    std::cerr << "  " << m.data.spec.name() << ": vorrel " << median(m.vorrel) << " s";
    if (!m.copy.empty()) std::cerr << ", cp " << median(m.copy) << " s";
    if (!m.floor.empty()) std::cerr << ", files " << median(m.floor) << " s";
    if (!m.reference.empty()) std::cerr << ", reference " << median(m.reference) << " s";
    std::cerr << "\n";
    removeTree(t.work);
    return std::move(t.m);
}

}  // namespace

std::vector<Measurement> measureTogether(const Options& options, const std::vector<DatasetSpec>& specs,
                                         const Plan& plan) {
    std::vector<Trial> trials;
    for (const DatasetSpec& spec : specs) trials.push_back(startTrial(options, spec, plan));
    for (int round = 0; round < plan.rounds; ++round) {
        std::cerr << "  round " << round + 1 << ":" << std::flush;
        for (std::size_t k = 0; k < trials.size(); ++k) {
            Trial& t = trials[(k + static_cast<std::size_t>(round)) % trials.size()];
            if (t.m.stopped) continue;
            std::cerr << " " << t.m.data.spec.name() << " " << std::flush;
            runRound(options, plan, t, round);
        }
        std::cerr << "\n";
    }
    std::vector<Measurement> measured;
    for (Trial& t : trials) measured.push_back(finishTrial(t));
    return measured;
}

Measurement measure(const Options& options, const DatasetSpec& spec, const Plan& plan) {
    return std::move(measureTogether(options, {spec}, plan).front());
}

}  // namespace vorrel_bench
