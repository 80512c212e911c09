#include "datasets.h"

#include <algorithm>
#include <iostream>
#include <optional>
#include <sstream>

#include "files.h"
#include "library.h"

namespace vorrel_bench {

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

std::string DatasetSpec::name() const {
    std::ostringstream s;
    s << kindName(kind) << "-";
    if (bytes % MiB == 0) s << bytes / MiB << "MiB";
    else if (bytes % 1024 == 0) s << bytes / 1024 << "KiB";
    else s << bytes << "B";
    if (kind == Kind::sparse || kind == Kind::dense || kind == Kind::declarations) s << "-K" << modules;
    return s.str();
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

namespace {

constexpr int generatorVersion = 6;  // bump when generated data changes

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

}  // namespace

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

}  // namespace vorrel_bench
