// vorrel_bench: times vorrel on generated HotBasic sources against a plain
// copy of the same file (/bin/cp) and against vorrel_reference, the same
// tool with the step-by-step scan, and checks every output it produces.
//
//   vorrel_bench [--quick] [--check] [--series LIST] [--rounds N] ...
//
// See bench/README.md and --help.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <csignal>
#include <unistd.h>
#include <vector>

#include "files.h"
#include "io_floor.h"
#include "library.h"
#include "process.h"
#include "source_gen.h"
#include "verify.h"

#ifndef VORREL_BENCH_DEFAULT_VORREL
#define VORREL_BENCH_DEFAULT_VORREL ""
#endif
#ifndef VORREL_BENCH_DEFAULT_REFERENCE
#define VORREL_BENCH_DEFAULT_REFERENCE ""
#endif

namespace vorrel_bench {
namespace {

constexpr double pauseSeconds = 0.1;       // vorrel waits this long between its two saves
constexpr std::uint64_t MiB = 1024 * 1024;
constexpr int generatorVersion = 6;        // bump when generated data changes

// ------------------------------------------------------------------ options

struct Options {
    std::string vorrel = VORREL_BENCH_DEFAULT_VORREL;
    std::string reference = VORREL_BENCH_DEFAULT_REFERENCE;
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

const char* const usage =
    "usage: vorrel_bench [options]\n"
    "  --vorrel PATH           the tool to time (default: the one built beside this benchmark)\n"
    "  --reference PATH        vorrel_reference, the step-by-step build (default: likewise)\n"
    "  --data DIR              scratch folder for generated inputs (default: ./bench-data);\n"
    "                          inputs are reused between runs when their parameters match\n"
    "  --quick                 small inputs (1-3 MiB), 3 rounds, reference only at 1 MiB\n"
    "  --check                 correctness only: one round of vorrel and the reference on the\n"
    "                          reference inputs (1 MiB with --quick); exit code 1 on any failure\n"
    "  --series LIST           comma-separated: density,growth,modules,reference,adversarial\n"
    "                          (default: all; with --check: reference)\n"
    "  --rounds N              rounds for vorrel and cp (default 9, --quick 3)\n"
    "  --reference-rounds N    rounds for vorrel_reference (default 3, --quick 1)\n"
    "  --adversarial-rounds N  rounds for the adversarial inputs (default 5, --quick 3)\n"
    "  --adversarial-limit S   CPU seconds an adversarial run may take before it is stopped\n"
    "                          (default 60, --quick 15); a stopped input is then timed at\n"
    "                          doubling sizes from 4 KiB to show how its time grows\n"
    "  --no-sync               do not flush file systems before each timed run\n"
    "  --label TEXT            a line for the report's head, such as the source revision\n"
    "  --fresh-data            generate the inputs again even when present\n"
    "  --remove-data           remove the data folder at the end\n";

Options parseOptions(int argc, char** argv) {
    Options options;
    std::string seriesList;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::runtime_error("missing value after " + a);
            return argv[++i];
        };
        if (a == "--vorrel") options.vorrel = value();
        else if (a == "--reference") options.reference = value();
        else if (a == "--data") options.data = value();
        else if (a == "--label") options.label = value();
        else if (a == "--quick") options.quick = true;
        else if (a == "--check") options.check = true;
        else if (a == "--series") seriesList = value();
        else if (a == "--rounds") options.rounds = std::stoi(value());
        else if (a == "--reference-rounds") options.referenceRounds = std::stoi(value());
        else if (a == "--adversarial-rounds") options.adversarialRounds = std::stoi(value());
        else if (a == "--adversarial-limit") options.adversarialLimit = std::stoi(value());
        else if (a == "--no-sync") options.sync = false;
        else if (a == "--fresh-data") options.freshData = true;
        else if (a == "--remove-data") options.removeData = true;
        else if (a == "--help" || a == "-h") {
            std::cout << usage;
            std::exit(0);
        } else {
            throw std::runtime_error("unknown option " + a + "\n" + usage);
        }
    }
    const std::set<std::string> known = {"density", "growth", "modules", "reference", "adversarial"};
    if (seriesList.empty()) {
        options.series = options.check ? std::set<std::string>{"reference"} : known;
    } else {
        std::stringstream list(seriesList);
        for (std::string name; std::getline(list, name, ',');) {
            if (known.count(name) == 0) throw std::runtime_error("unknown series " + name);
            options.series.insert(name);
        }
    }
    if (options.rounds <= 0) options.rounds = options.check ? 1 : (options.quick ? 3 : 9);
    if (options.referenceRounds <= 0) options.referenceRounds = (options.check || options.quick) ? 1 : 3;
    if (options.adversarialRounds <= 0) options.adversarialRounds = options.check ? 1 : (options.quick ? 3 : 5);
    if (options.adversarialLimit <= 0) options.adversarialLimit = (options.check || options.quick) ? 15 : 60;
    if (options.vorrel.empty() || options.reference.empty()) throw std::runtime_error("give --vorrel and --reference");
    return options;
}

// ------------------------------------------------------------------ inputs

enum class Kind { sparse, dense, freshCase, overlapKeys, overlapMembers, overlapDeclarations, overlapNames,
                  respelledChains, declarations };

const char* kindName(Kind kind) {
    switch (kind) {
    case Kind::sparse: return "sparse";
    case Kind::dense: return "dense";
    case Kind::freshCase: return "fresh-case";
    case Kind::overlapKeys: return "overlap-keys";
    case Kind::overlapMembers: return "overlap-members";
    case Kind::overlapDeclarations: return "overlap-declarations";
    case Kind::overlapNames: return "overlap-names";
    case Kind::respelledChains: return "respelled-chains";
    case Kind::declarations: return "declarations";
    }
    return "?";
}

struct DatasetSpec {
    Kind kind = Kind::sparse;
    std::uint64_t bytes = 0;
    int modules = 0;

    std::string name() const {
        std::ostringstream s;
        s << kindName(kind) << "-";
        if (bytes % MiB == 0) s << bytes / MiB << "MiB";
        else if (bytes % 1024 == 0) s << bytes / 1024 << "KiB";
        else s << bytes << "B";
        if (kind == Kind::sparse || kind == Kind::dense || kind == Kind::declarations) s << "-K" << modules;
        return s.str();
    }
};

struct Dataset {
    DatasetSpec spec;
    std::string folder, source, uses;
    SourceStats stats;
    int moduleCount = 0;
    double generationSeconds = 0;   // 0 when reused
};

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string stampLine(const DatasetSpec& spec) {
    return "vorrel-bench data v" + std::to_string(generatorVersion) + " " + spec.name();
}

void writeStamp(const Dataset& d) {
    std::ostringstream s;
    s << stampLine(d.spec) << "\n"
      << d.stats.bytes << " " << d.stats.uses << " " << d.stats.calls << " " << d.stats.declarations << " "
      << d.stats.memberUses << " " << d.stats.miscased << " " << d.stats.modulesUsed << " "
      << (d.stats.usesChecked ? 1 : 0) << " " << d.moduleCount << "\n";
    writeWholeFile(d.folder + "/dataset.txt", s.str());
}

bool readStamp(Dataset& d) {
    const std::string path = d.folder + "/dataset.txt";
    if (!fileExists(path) || !fileExists(d.source) || !fileExists(d.uses)) return false;
    std::istringstream s(readWholeFile(path));
    std::string first;
    std::getline(s, first);
    if (first != stampLine(d.spec)) return false;
    int checked = 0;
    s >> d.stats.bytes >> d.stats.uses >> d.stats.calls >> d.stats.declarations >> d.stats.memberUses >>
        d.stats.miscased >> d.stats.modulesUsed >> checked >> d.moduleCount;
    d.stats.usesChecked = checked != 0;
    return static_cast<bool>(s) && fileSize(d.source) == d.stats.bytes;
}

// How many modules of the library occur in the source, found by searching
// for their keys (for inputs whose uses the generator does not track).
std::uint32_t countModulesFound(const Library& library, const std::string& source) {
    std::string text = readWholeFile(source);
    for (char& c : text) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    std::uint32_t found = 0;
    for (const Module& module : library.modules) found += text.find(keyOf(module)) != std::string::npos ? 1 : 0;
    return found;
}

Dataset ensureDataset(const Options& options, const DatasetSpec& spec) {
    Dataset d;
    d.spec = spec;
    d.folder = options.data + "/" + spec.name();
    d.source = d.folder + "/source.bas";
    d.uses = d.folder + "/uses.bin";
    if (!options.freshData && readStamp(d)) return d;
    const auto start = std::chrono::steady_clock::now();
    std::cerr << "  generating " << spec.name() << " ..." << std::flush;
    removeTree(d.folder);
    makeFolders(d.folder + "/inc/Vorrel");
    const std::uint64_t sourceSeed = 0x5EED0000u + static_cast<std::uint64_t>(spec.kind);
    Library library;
    SourceSpec s;
    s.bytes = spec.bytes;
    s.seed = sourceSeed;
    std::optional<OverlapPart> overlap;  // which overlap source, if it is one
    switch (spec.kind) {
    case Kind::sparse:
        library = makeLibrary(spec.modules, 1000 + static_cast<std::uint64_t>(spec.modules));
        s.bytesPerUse = 100;
        s.rightCase = 0.9;
        s.declarationShare = 0.07;
        s.membersMin = 2;
        s.membersMax = 4;
        break;
    case Kind::dense:
        library = makeLibrary(spec.modules, 1000 + static_cast<std::uint64_t>(spec.modules));
        s.bytesPerUse = 16;
        s.rightCase = 0.2;
        s.declarationShare = 0.05;
        s.dense = true;
        s.membersMin = 1;
        s.membersMax = 2;
        break;
    case Kind::freshCase:
        library = makeLongNameLibrary(77);
        s.bytesPerUse = 100;
        s.rightCase = 0;
        s.declarationShare = 0.1;
        s.freshSpellings = true;
        s.membersMin = 2;
        s.membersMax = 4;
        break;
    case Kind::declarations:
        library = makeLibrary(spec.modules, 1000 + static_cast<std::uint64_t>(spec.modules));
        s.bytesPerUse = 100;
        s.rightCase = 0.5;
        s.declarationShare = 0;
        // 10,000 at 10 MiB; smaller inputs get as many per byte.
        s.forcedDeclarations = std::max<std::uint64_t>(1, (10000 * spec.bytes + 5 * MiB) / (10 * MiB));
        s.membersMin = 6;
        s.membersMax = 12;
        break;
    case Kind::overlapKeys: overlap = OverlapPart::keys; break;
    case Kind::overlapMembers: overlap = OverlapPart::members; break;
    case Kind::overlapDeclarations: overlap = OverlapPart::declarations; break;
    case Kind::overlapNames: overlap = OverlapPart::names; break;
    case Kind::respelledChains: overlap = OverlapPart::respelled; break;
    }
    if (overlap) library = makeOverlapLibrary(*overlap);
    writeLibrary(library, d.folder + "/inc/Vorrel");
    if (overlap) {
        d.stats = writeOverlapSource(library, *overlap, spec.bytes, sourceSeed, d.source, d.uses);
        d.stats.modulesUsed = countModulesFound(library, d.source);
    } else {
        d.stats = writeSource(library, s, d.source, d.uses);
    }
    d.moduleCount = static_cast<int>(library.modules.size());
    writeStamp(d);
    d.generationSeconds = secondsSince(start);
    std::cerr << " " << d.generationSeconds << " s\n";
    return d;
}

// ------------------------------------------------------------------ measuring

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

struct Measurement {
    Dataset data;
    Sample vorrel, copy, reference, floor;
    int referenceIdentical = 0;    // reference rounds whose output equals vorrel's
    bool stopped = false;          // a vorrel run reached the CPU time limit; no more rounds
    OutputCheck check;
    long added = -1;
    std::vector<std::string> failures;
};

std::vector<std::string> allFailures;

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

// This program's own path, to run it as the file-work baseline.
std::string ownPath() {
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) throw std::runtime_error("cannot find /proc/self/exe");
    path.resize(static_cast<std::size_t>(length));
    return path;
}

enum class Contender { vorrel, copy, reference, floor };

struct Plan {
    int rounds = 9;
    int referenceRounds = 0;
    bool copy = true;
    bool floor = false;            // also time the file work alone (ioFloor)
    int cpuLimit = 900;            // seconds of CPU time a vorrel run may take
};

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

// One round of an input: vorrel, and cp, the file work and the reference as
// the plan says, in an order that turns with the round.
void runRound(const Options& options, const Plan& plan, Trial& t, int round) {
    Measurement& m = t.m;
    const Dataset& d = m.data;
    const std::string& work = t.work;
    const std::string& vorrel = t.vorrel;
    const std::string& reference = t.reference;
    const std::string& expected = t.expected;
    bool& haveExpected = t.haveExpected;
    std::vector<Contender> order = {Contender::vorrel};
    if (plan.copy) order.push_back(Contender::copy);
    if (plan.floor) order.push_back(Contender::floor);
    if (round < plan.referenceRounds) order.push_back(Contender::reference);
    // Alternate who goes first; vorrel leads the first round so that its
    // output is there to compare the reference's with.
    std::rotate(order.begin(), order.begin() + (round % static_cast<int>(order.size())), order.end());
    for (Contender who : order) {
        if (who == Contender::vorrel) {
            const std::string file = work + "/vorrel.bas";
            copyFile(d.source, file);
            if (options.sync) syncAll();
            const ChildRun run = runChild({vorrel, file}, work + "/vorrel", plan.cpuLimit);
            m.vorrel.add(run);
            std::cerr << "v" << std::flush;
            if (run.signal == SIGXCPU || (run.signal == SIGKILL && run.cpuSeconds >= plan.cpuLimit)) {
                m.stopped = true;
                std::cerr << "(stopped at the CPU limit of " << plan.cpuLimit << " s)";
                break;
            }
            if (run.exitCode != 0) {
                fail(m, "vorrel: " + describe(run));
                continue;
            }
            const long added = addedCount(run.output);
            if (added < 0) fail(m, "vorrel printed something else than its three lines: " + run.output.substr(0, 200));
            else if (added != static_cast<long>(d.stats.modulesUsed)) {
                fail(m, "vorrel added " + std::to_string(added) + " vorrels, the input uses " +
                            std::to_string(d.stats.modulesUsed) + " modules");
            }
            m.added = added;
            if (!haveExpected) {
                m.check = checkOutput(d.source, file, d.uses, d.stats.usesChecked);
                if (!m.check.ok) fail(m, "vorrel output: " + m.check.problem);
                else if (static_cast<long>(m.check.blocks) != added) {
                    fail(m, "vorrel inserted " + std::to_string(m.check.blocks) + " blocks but reports " +
                                std::to_string(added));
                } else if (m.check.recasedBytes == 0) {
                    fail(m, "vorrel changed no letter case (so it did not pause); the input should need it");
                }
                if (std::rename(file.c_str(), expected.c_str()) != 0) throw std::runtime_error("cannot rename " + file);
                haveExpected = true;
            } else if (!sameContent(file, expected)) {
                fail(m, "vorrel output differs from its output of the first round");
            }
        } else if (who == Contender::copy) {
            const std::string file = work + "/copy.bas";
            ::unlink(file.c_str());
            if (options.sync) syncAll();
            const ChildRun run = runChild({options.copyProgram, d.source, file}, work + "/copy", 900);
            m.copy.add(run);
            std::cerr << "c" << std::flush;
            if (run.exitCode != 0 || fileSize(file) != d.stats.bytes) fail(m, "cp: " + describe(run));
        } else if (who == Contender::floor) {
            const std::string file = work + "/floor.bas";
            copyFile(d.source, file);
            if (options.sync) syncAll();
            const ChildRun run = runChild({ownPath(), "--io-floor", file}, work + "/floor", 900);
            m.floor.add(run);
            std::cerr << "f" << std::flush;
            if (run.exitCode != 0 || fileSize(file) <= d.stats.bytes) fail(m, "file work alone: " + describe(run));
        } else {
            const std::string file = work + "/reference.bas";
            copyFile(d.source, file);
            if (options.sync) syncAll();
            const ChildRun run = runChild({reference, file}, work + "/reference", 3600);
            m.reference.add(run);
            std::cerr << "r" << std::flush;
            if (run.exitCode != 0) {
                fail(m, "vorrel_reference: " + describe(run));
            } else if (!haveExpected) {
                fail(m, "no vorrel output to compare the reference's with");
            } else if (!sameContent(file, expected)) {
                fail(m, "vorrel_reference output is not byte-identical to vorrel's");
            } else if (run.output != readWholeFile(work + "/vorrel.stdout")) {
                fail(m, "vorrel_reference printed other lines than vorrel");
            } else {
                ++m.referenceIdentical;
            }
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

// Measures the inputs round by round, every input once a round (the first
// turning with the round), so that a machine that runs faster or slower
// for a while weighs on all of them alike: their ratios come from runs made
// side by side rather than minutes apart.
std::vector<Measurement> measureTogether(const Options& options, const std::vector<DatasetSpec>& specs, const Plan& plan) {
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

// ------------------------------------------------------------------ report

std::string fixed(double value, int decimals) {
    if (std::isnan(value)) return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string withCommas(std::uint64_t n) {
    std::string digits = std::to_string(n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<std::size_t>(i), ",");
    return digits;
}

// A plain text table: columns right-aligned but for the first.
class Table {
public:
    explicit Table(std::vector<std::string> header) { rows_.push_back(std::move(header)); }
    void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    void print(std::ostream& out) const {
        std::vector<std::size_t> width;
        for (const auto& row : rows_) {
            if (width.size() < row.size()) width.resize(row.size(), 0);
            for (std::size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
        }
        for (std::size_t r = 0; r < rows_.size(); ++r) {
            std::string line;
            for (std::size_t i = 0; i < rows_[r].size(); ++i) {
                const std::string& cell = rows_[r][i];
                const std::string pad(width[i] - cell.size(), ' ');
                line += (i == 0 ? cell + pad : pad + cell);
                if (i + 1 < rows_[r].size()) line += "  ";
            }
            out << "  " << line << "\n";
            if (r == 0) {
                std::size_t total = 0;
                for (std::size_t w : width) total += w + 2;
                out << "  " << std::string(total - 2, '-') << "\n";
            }
        }
    }

private:
    std::vector<std::vector<std::string>> rows_;
};

std::string spread(const Sample& s) {
    if (s.empty()) return "-";
    return fixed(lowest(s), 3) + "-" + fixed(highest(s), 3);
}

double net(const Sample& s) { return median(s) - pauseSeconds; }

double memoryLimitMiB(const Dataset& d) { return 4.0 * static_cast<double>(d.stats.bytes) / MiB + 64; }

std::string status(const Measurement& m) { return m.failures.empty() ? "ok" : "FAIL"; }

std::vector<std::string> timingRow(const std::string& first, const Measurement& m) {
    const double limit = memoryLimitMiB(m.data);
    const double peak = peakMiB(m.vorrel);
    return {first,
            fixed(static_cast<double>(m.data.stats.bytes) / MiB, 1),
            std::to_string(m.data.moduleCount),
            withCommas(m.data.stats.uses),
            fixed(median(m.vorrel), 3),
            spread(m.vorrel),
            fixed(median(m.vorrel.cpu), 3),
            fixed(net(m.vorrel), 3),
            fixed(median(m.copy), 3),
            fixed(net(m.vorrel) / median(m.copy), 1),
            m.floor.empty() ? "-" : fixed(median(m.floor), 3),
            m.floor.empty() ? "-" : fixed(net(m.vorrel) / net(m.floor), 1),
            fixed(peak, 1),
            fixed(limit, 0),
            peak <= limit ? "yes" : "NO",
            status(m)};
}

const std::vector<std::string> timingHeader = {"input", "MiB",  "K",    "uses",   "vorrel s", "min-max",   "cpu s",
                                               "net s", "cp s", "net/cp", "files s", "net/files",
                                               "peak MiB", "limit MiB", "within", "check"};

// The median, over the rounds both ran, of the ratio of b's net time to
// a's in the same round: inputs measured together (measureTogether) ran
// side by side in each round, so a slower spell of the machine cancels out.
double pairedRatio(const Sample& a, const Sample& b) {
    std::vector<double> ratios;
    for (std::size_t r = 0; r < std::min(a.seconds.size(), b.seconds.size()); ++r) {
        ratios.push_back((b.seconds[r] - pauseSeconds) / (a.seconds[r] - pauseSeconds));
    }
    return median(ratios);
}

// Growth of a quantity over a ratio of sizes, stated per tenfold.
double perTenfold(double small, double large, double sizeRatio) {
    return std::pow(large / small, 1.0 / std::log10(sizeRatio));
}

std::string formatSeconds(double seconds) {
    const long whole = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld min %02ld s", whole / 60, whole % 60);
    return text;
}

// ------------------------------------------------------------------ main

int run(const Options& options) {
    const auto start = std::chrono::steady_clock::now();
    makeFolders(options.data);
    const Machine machine = describeMachine(options.data);
    const std::string loadAtStart = loadAverage();
    const bool quick = options.quick || options.check;
    const std::uint64_t bigN = quick ? 3 * MiB : 100 * MiB;
    const std::vector<std::uint64_t> growthN =
        quick ? std::vector<std::uint64_t>{1 * MiB, 3 * MiB} : std::vector<std::uint64_t>{10 * MiB, 30 * MiB, 100 * MiB};
    // The reference is roughly quadratic: 1 and 2 MiB sparse, a smaller dense input.
    const std::vector<DatasetSpec> referenceInputs =
        quick ? std::vector<DatasetSpec>{{Kind::sparse, 1 * MiB, 1000}, {Kind::dense, 128 * 1024, 1000}}
              : std::vector<DatasetSpec>{{Kind::sparse, 1 * MiB, 1000}, {Kind::sparse, 2 * MiB, 1000},
                                         {Kind::dense, 256 * 1024, 1000}};
    const std::vector<int> moduleCounts = {10, 100, 1000, 3000};
    const std::uint64_t adversarialN = quick ? 1 * MiB : 10 * MiB;

    std::map<std::string, Measurement> done;
    Plan timing;
    timing.rounds = options.rounds;
    timing.copy = !options.check;
    auto get = [&](const DatasetSpec& spec, const Plan& plan) -> const Measurement& {
        const std::string key = spec.name() + (plan.referenceRounds > 0 ? "+reference" : "");
        auto found = done.find(key);
        if (found == done.end()) found = done.emplace(key, measure(options, spec, plan)).first;
        return found->second;
    };

    std::ostringstream report;
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

    std::vector<const Measurement*> all;
    std::vector<std::string> targetsMissed;
    // A series whose inputs are compared with one another: measured together,
    // each a row of the table.
    auto getSeries = [&](const std::vector<DatasetSpec>& specs, const std::string& series,
                         Table& table) -> std::vector<const Measurement*> {
        std::vector<const Measurement*> measured;
        for (Measurement& m : measureTogether(options, specs, timing)) {
            const std::string key = m.data.spec.name() + "@" + series;
            const Measurement* kept = &done.emplace(key, std::move(m)).first->second;
            table.add(timingRow(kindName(kept->data.spec.kind), *kept));
            all.push_back(kept);
            measured.push_back(kept);
        }
        return measured;
    };
    if (options.series.count("density")) {
        Table table(timingHeader);
        for (Kind kind : {Kind::sparse, Kind::dense}) {
            Plan withFiles = timing;
            withFiles.floor = !options.check;
            const Measurement& m = get({kind, bigN, 1000}, withFiles);
            table.add(timingRow(kindName(kind), m));
            all.push_back(&m);
        }
        report << "Density: sparse (a use per ~100 bytes, ~90% already upper case) and dense (per ~16 bytes, ~80% mis-cased)\n";
        table.print(report);
        report << "\n";
    }
    if (options.series.count("growth")) {
        Table table(timingHeader);
        std::vector<std::string> notes;
        for (Kind kind : {Kind::sparse, Kind::dense}) {
            std::vector<DatasetSpec> specs;
            for (std::uint64_t n : growthN) specs.push_back({kind, n, 1000});
            const std::vector<const Measurement*> measured = getSeries(specs, "growth", table);
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
    if (options.series.count("modules")) {
        Table table(timingHeader);
        std::vector<std::string> notes;
        for (Kind kind : {Kind::sparse, Kind::dense}) {
            std::vector<DatasetSpec> specs;
            for (int k : moduleCounts) specs.push_back({kind, bigN, k});
            const std::vector<const Measurement*> measured = getSeries(specs, "modules", table);
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
    if (options.series.count("reference")) {
        Plan plan;
        plan.rounds = std::max(options.referenceRounds, options.check ? 1 : options.rounds);
        plan.referenceRounds = options.referenceRounds;
        plan.copy = !options.check;
        Table table({"input", "MiB", "K", "uses", "reference s", "min-max", "vorrel s", "speed-up", "speed-up net",
                     "identical", "ref peak MiB", "check"});
        for (const DatasetSpec& spec : referenceInputs) {
            const Measurement& m = get(spec, plan);
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
    if (options.series.count("adversarial")) {
        Plan plan;
        plan.rounds = options.adversarialRounds;
        plan.copy = !options.check;
        plan.cpuLimit = options.adversarialLimit;
        Table table({"input", "MiB", "K", "uses", "decl.", "vorrel s", "min-max", "cpu s", "net s", "cp s", "peak MiB",
                     "limit MiB", "within", "<= 10 s", "check"});
        std::vector<Kind> slow;
        for (Kind kind : {Kind::freshCase, Kind::overlapKeys, Kind::overlapMembers, Kind::overlapDeclarations,
                          Kind::overlapNames, Kind::respelledChains, Kind::declarations}) {
            const Measurement& m = get({kind, adversarialN, 1000}, plan);
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
        // How the time of an input that missed the target grows with its size,
        // and always that of the runs every declaration re-spells.
        if (std::find(slow.begin(), slow.end(), Kind::respelledChains) == slow.end()) slow.push_back(Kind::respelledChains);
        for (Kind kind : slow) {
            Plan probe;
            probe.rounds = 1;
            probe.copy = false;
            probe.cpuLimit = options.adversarialLimit;
            Table growth({"input", "bytes", "decl.", "vorrel s", "cpu s", "peak MiB", "x previous", "check"});
            double previous = NAN;
            for (std::uint64_t n = 4 * 1024; n < adversarialN; n *= 2) {
                const Measurement& m = get({kind, n, 1000}, probe);
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

    // The inputs.
    {
        Table table({"input", "bytes", "K", "uses", "bytes/use", "declarations", "member uses", "mis-cased uses",
                     "modules used", "added", "re-cased bytes", "uses checked", "generated s"});
        std::set<std::string> shown;
        for (const Measurement* m : all) {
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
    report << "load average: " << loadAtStart << " at the start, " << loadAverage() << " at the end\n";
    report << "benchmark wall time: " << formatSeconds(secondsSince(start)) << "\n";
    std::cout << "\n" << report.str() << std::flush;
    if (options.removeData) removeTree(options.data);
    return allFailures.empty() ? 0 : 1;
}

}  // namespace
}  // namespace vorrel_bench

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--io-floor") return vorrel_bench::ioFloor(argv[2]);
    try {
        return vorrel_bench::run(vorrel_bench::parseOptions(argc, argv));
    } catch (const std::exception& e) {
        std::cerr << "vorrel_bench: " << e.what() << "\n";
        return 2;
    }
}
