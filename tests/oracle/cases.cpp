#include "oracle.h"

#include <set>
#include <sstream>
#include <vector>

#include "catalogue/catalogue.h"
#include "rewrite/engine.h"
#include "rewrite/insertion.h"
#include "rewrite/scan.h"
#include "text/text.h"

namespace vorrel::oracle {

namespace {

using Words = std::vector<std::string>;

// Building blocks that collide: letters in both cases, the bytes that end
// member patterns and declarations, separators, and bytes that matter to the
// line lists; names of modules and members; runs in which patterns that
// overlap themselves occur again and again.
const Words pieces = {"a", "A", "b", "B", "o", "O", "s", "S", "_", " ", " ", ".", "(", "=", ";",
                      "~", "\\", "\r", "\n", "\r\n", std::string(1, '\0'), "\xe4", "as", "AS", "$"};
const Words names = {"A", "a", "Ab", "AB", "ab", "B", "AA", "aa", "AAA", "BAB", "A B", "a.b", "O_",
                     "S", "s", "A(", "AS", "", "bA", "A=B", "A A", "a(a", "A=A", "A.A", "a a b"};
const Words runs = {"a a a A a ", "a(A(a(a(", "aAaAaA", "A=a=A=a=", "a.A.a.a.", "a a b a a b "};

const std::string& pick(std::mt19937_64& random, const Words& from) { return from[random() % from.size()]; }

std::string randomCasing(std::mt19937_64& random, std::string text) {
    for (char& c : text) c = random() % 2 ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string noise(std::mt19937_64& random, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += pick(random, pieces);
    return text;
}

// Adds an object module named name to the case, with the members given.
void addObject(RewriteCase& rewriteCase, const std::string& folder, const std::string& file, const Words& members) {
    rewriteCase.catalogueList += catalogueLine(folder, file);
    std::string header = "X";
    for (const std::string& member : members) header += ";" + member;
    rewriteCase.files[rewriteCase.vorrelPrefix + file] = header + "\r\nbody\r\n";
}

std::string printable(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char byte : text) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, byte < 32 || byte >= 127 || byte == '\\' ? "\\x%02x" : "%c", byte);
        out += escaped;
    }
    return out + "\"";
}

using Scan = void (*)(RewriteState&, ModuleFiles&);

// What a scan leaves behind: the text with the include blocks inserted, the
// changed flag, the count, the blocks, the member list, the module files read.
std::vector<std::string> outcome(Scan scan, const RewriteCase& rewriteCase) {
    RewriteState state;
    state.catalogueList = rewriteCase.catalogueList;
    state.vorrelPrefix = rewriteCase.vorrelPrefix;
    state.sourceText = rewriteCase.source;
    ModuleFiles modules;
    modules.files = &rewriteCase.files;
    scan(state, modules);
    std::string text = insertBlocks(state.sourceText, state.foundBlocks);
    if (scan != oracle::scanText) {
        const std::size_t at = insertionOffset(state.sourceText);
        text = at == std::string::npos ? state.sourceText
                                       : state.sourceText.substr(0, at) + includeBlocksText(state.foundBlocks) + state.sourceText.substr(at);
    }
    // The reference may read a module file again; the engine reads each once, those of early declarations first.
    std::string reads;
    std::multiset<std::string> seen(modules.reads.begin(), modules.reads.end());
    for (auto path = seen.begin(); path != seen.end(); path = seen.upper_bound(*path))
        reads += *path + (scan != oracle::scanText && seen.count(*path) > 1 ? " (again)\n" : "\n");
    return {text, std::to_string(state.sourceChanged), std::to_string(state.addedCount),
            state.foundBlocks + std::to_string(state.foundBlockCount), state.memberList, reads};
}

std::string differenceOf(const std::vector<std::string>& got, const std::vector<std::string>& wanted) {
    const char* const what[] = {"text", "changed flag", "count", "blocks", "member list", "module files read"};
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (got[i] != wanted[i]) return std::string(what[i]) + " " + printable(got[i]) + " instead of " + printable(wanted[i]);
    }
    return "";
}

}  // namespace

RewriteCase randomCase(std::mt19937_64& random) {
    RewriteCase rewriteCase;
    // A folder path holding CR LF makes a member list's first line differ
    // from the module path it was read from.
    const std::string folder = pick(random, {"Vorrel", "Vorrel", "Vorrel", "Commands", "xVORREL", "A\r\nVorrel"});
    rewriteCase.vorrelPrefix = "lib\\" + folder + "\\";
    Words moduleNames, typeNames, members;
    for (std::size_t i = 1 + random() % 5; i > 0; --i) {
        const bool object = random() % 2 == 0;
        const std::string name = pick(random, names) + (random() % 6 == 0 ? noise(random, 1) : "");
        const std::string file = (object ? (random() % 3 ? "O_" : "o_") : "") + name + (random() % 5 ? ".inc" : ".x.inc");
        moduleNames.push_back(name);
        if (!object) {
            rewriteCase.catalogueList += random() % 10 ? catalogueLine(folder, file) : noise(random, 1 + random() % 6) + "\r\n";
            continue;
        }
        Words own;
        for (std::size_t m = random() % 5; m > 0; --m) {
            own.push_back(random() % 4 ? pick(random, names) : noise(random, random() % 3));
            if (random() % 5 == 0) own.back() = randomCasing(random, pick(random, moduleNames));
        }
        addObject(rewriteCase, folder, file, own);
        std::string& text = rewriteCase.files[rewriteCase.vorrelPrefix + file];
        if (random() % 3 == 0) text.replace(text.size() - 8, 8, "\nbody");  // LF-only lines: all one line
        typeNames.push_back(name);
        members.insert(members.end(), own.begin(), own.end());
    }
    rewriteCase.catalogueList += "\r\n";
    Words declared = {"t", "T", "x", "a", ""};
    const std::string lineEnd = random() % 4 ? "\r\n" : "\n";
    for (std::size_t part = random() % 8 == 0 ? 40 + random() % 60 : random() % 14; part > 0; --part) {
        const std::size_t kind = random() % 6;
        if (kind == 0 && !typeNames.empty()) {
            declared.push_back(pick(random, declared) + (random() % 4 ? "" : pick(random, names)));
            rewriteCase.source += "DIM " + declared.back() + randomCasing(random, " as " + pick(random, typeNames)) + lineEnd;
        } else if (kind == 1 && !members.empty()) {
            rewriteCase.source += randomCasing(random, pick(random, declared) + "." + pick(random, members)) + pick(random, {" ", "=", "(", "", ".", lineEnd});
        } else if (kind == 2 && !members.empty()) {
            rewriteCase.source += randomCasing(random, pick(random, members)) + pick(random, {" ", "=", "("});
        } else if (kind == 3) {
            rewriteCase.source += randomCasing(random, pick(random, moduleNames)) + "(1)" + lineEnd;
        } else {
            rewriteCase.source += randomCasing(random, kind == 4 ? pick(random, runs) : noise(random, 1 + random() % 6));
        }
    }
    return rewriteCase;
}

RewriteCase randomDeclarationRun(std::mt19937_64& random) {
    RewriteCase rewriteCase;
    rewriteCase.vorrelPrefix = "lib\\Vorrel\\";
    Words typeNames, members;
    for (std::size_t t = 1 + random() % 2; t > 0; --t) {
        typeNames.push_back(pick(random, {"S AS S", "S AS S AS S", "A AS A", "AS", "S S", "S"}));
        Words own;
        for (std::size_t m = random() % 8; m > 0; --m) {
            own.emplace_back();
            for (std::size_t k = 1 + random() % 4; k > 0; --k) own.back() += pick(random, {"s", "S", "a", "A", " ", " ", "as", "AS", "=", "(", ""});
        }
        addObject(rewriteCase, "Vorrel", "O_" + typeNames.back() + (t == 1 ? "" : "2") + ".inc", own);
        members.insert(members.end(), own.begin(), own.end());
    }
    rewriteCase.catalogueList += "\r\n";
    for (std::size_t line = 2 + random() % 12; line > 0; --line) {
        std::string text = random() % 2 ? "DIM s" : "DIM S";
        const std::string& type = pick(random, typeNames);
        for (std::size_t r = 1 + random() % 10; r > 0; --r) text += " as " + type;
        rewriteCase.source += randomCasing(random, text) + "\r\n";
        for (std::size_t u = members.empty() ? 0 : random() % 4; u > 0; --u) {
            rewriteCase.source += randomCasing(random, pick(random, {"s", "a", "as"}) + "." + pick(random, members)) + pick(random, {" ", "=", "(", "\r\n"});
        }
        for (std::size_t f = random() % 4 == 0 ? random() % 40 : 0; f > 0; --f) {
            rewriteCase.source += randomCasing(random, pick(random, {"PRINT x\r\n", "s.S = 1\r\n", "S.a(2)\r\n", "x = y\r\n", "s.a s.s "}));
        }
    }
    return rewriteCase;
}

RewriteCase randomChainRuns(std::mt19937_64& random) {
    RewriteCase rewriteCase;
    rewriteCase.vorrelPrefix = "lib\\Vorrel\\";
    Words members;
    for (std::size_t m = 1 + random() % 3; m > 0; --m) members.push_back(pick(random, {"A", "A", "a", "A.a", "AA", "b", ""}));
    addObject(rewriteCase, "Vorrel", "O_T.inc", members);
    if (random() % 4 == 0) rewriteCase.catalogueList += catalogueLine("Vorrel", "A.A.inc");  // the key "A.A("
    rewriteCase.catalogueList += "\r\n";
    const std::size_t longest = 2 + random() % 8;
    for (std::size_t line = 3 + random() % 20; line > 0; --line) {
        if (random() % 3 == 0) {
            rewriteCase.source += "DIM " + pick(random, {"a", "A", "a", "A", "a.A", "A.a.A", "aa"}) + randomCasing(random, " as t") + "\r\n";
            continue;
        }
        std::string run = "a";
        for (std::size_t k = 1 + random() % longest; k > 0; --k) run += pick(random, {".a", ".a", ".a", "(a", ".a.", "a"});
        rewriteCase.source += randomCasing(random, run) + pick(random, {"\r\n", " ", "=1\r\n", "(", "  "});
    }
    return rewriteCase;
}

RewriteCase caseFromBytes(const std::uint8_t* data, std::size_t size) {
    Words fields(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF) fields.emplace_back();
        else fields.back() += static_cast<char>(data[i]);
    }
    fields.resize(std::max<std::size_t>(fields.size(), 3));
    RewriteCase rewriteCase;
    rewriteCase.vorrelPrefix = "lib\\" + (fields[0].empty() ? std::string("Vorrel") : fields[0]) + "\\";
    rewriteCase.catalogueList = fields[1] + "\r\n";
    rewriteCase.source = fields[2];
    for (std::size_t i = 3; i + 1 < fields.size(); i += 2) rewriteCase.files[rewriteCase.vorrelPrefix + fields[i]] = fields[i + 1];
    return rewriteCase;
}

std::string compareScans(const RewriteCase& rewriteCase) {
    const std::vector<std::string> wanted = outcome(oracle::scanText, rewriteCase);
    const std::string difference = differenceOf(outcome(vorrel::scanText, rewriteCase), wanted);
    if (!difference.empty()) return difference;
    // The same engine with the offsets that texts over 4 GiB take.
    const std::string wide = differenceOf(outcome(engine::scanWith<std::uint64_t>, rewriteCase), wanted);
    return wide.empty() ? "" : "with 64-bit offsets: " + wide;
}

std::string describeCase(const RewriteCase& rewriteCase) {
    std::ostringstream out;
    out << "prefix " << printable(rewriteCase.vorrelPrefix) << "\ncatalogue " << printable(rewriteCase.catalogueList)
        << "\nsource " << printable(rewriteCase.source);
    for (const auto& [path, content] : rewriteCase.files) out << "\nfile " << printable(path) << " = " << printable(content);
    return out.str();
}

}  // namespace vorrel::oracle
