#include "options.h"

#include <cstdlib>
#include <iostream>
#include <sstream>
#include <stdexcept>

#ifndef VORREL_BENCH_DEFAULT_VORREL
#define VORREL_BENCH_DEFAULT_VORREL ""
#endif
#ifndef VORREL_BENCH_DEFAULT_REFERENCE
#define VORREL_BENCH_DEFAULT_REFERENCE ""
#endif

namespace vorrel_bench {

namespace {

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

}  // namespace

Options parseOptions(int argc, char** argv) {
    Options options;
    options.vorrel = VORREL_BENCH_DEFAULT_VORREL;
    options.reference = VORREL_BENCH_DEFAULT_REFERENCE;
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


}  // namespace vorrel_bench
