#include "cases.h"

#include <set>
#include <sstream>
#include <vector>

#include "catalogue/catalogue.h"
#include "oracle.h"
#include "rewrite/insertion.h"
#include "rewrite/engine.h"
#include "rewrite/scan.h"
#include "text/text.h"

namespace vorrel::oracle {

namespace {

// Building blocks that collide: letters in both cases, the bytes that end
// member patterns and declarations, separators, and bytes that matter to the
// line lists.
const std::vector<std::string> pieces = {"a", "A", "b", "B", "o", "O", "s", "S", "_", " ", " ", ".", "(", "=", ";",
                                         "~", "\\", "\r", "\n", "\r\n", std::string(1, '\0'), "\xe4", "as", "AS", "$"};
const std::vector<std::string> names = {"A", "a", "Ab", "AB", "ab", "B", "AA", "aa", "AAA", "BAB", "A B", "a.b",
                                        "O_", "S", "s", "A(", "AS", "", "bA", "A=B", "A A", "a(a", "A=A", "A.A", "a a b"};
// Runs in which patterns that overlap themselves find many overlapping occurrences.
const std::vector<std::string> runs = {"a a a A a ", "a(A(a(a(", "aAaAaA", "A=a=A=a=", "a.A.a.a.", "a a b a a b "};

std::string pick(std::mt19937_64& random, const std::vector<std::string>& from) {
    return from[random() % from.size()];
}

std::string randomCasing(std::mt19937_64& random, const std::string& text) {
    std::string result = text;
    for (char& c : result) {
        if (random() % 2 == 0) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        else c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return result;
}

std::string noise(std::mt19937_64& random, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += pick(random, pieces);
    return text;
}

enum class Scanner { fast, wide, reference };

void runScan(Scanner scanner, const RewriteCase& rewriteCase, RewriteState& state, std::set<std::string>& reads) {
    state.catalogueList = rewriteCase.catalogueList;
    state.vorrelPrefix = rewriteCase.vorrelPrefix;
    state.sourceText = rewriteCase.source;
    ModuleFiles modules;
    modules.files = &rewriteCase.files;
    switch (scanner) {
    case Scanner::fast: vorrel::scanText(state, modules); break;
    case Scanner::wide: engine::scanWith<std::uint64_t>(state, modules); break;
    case Scanner::reference: oracle::scanText(state, modules); break;
    }
    reads.insert(modules.reads.begin(), modules.reads.end());
}

std::string printable(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\r') out += "\\r";
        else if (byte == '\n') out += "\\n";
        else if (byte == '\\') out += "\\\\";
        else if (byte < 32 || byte >= 127) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02x", byte);
            out += buffer;
        } else out += c;
    }
    return "\"" + out + "\"";
}

// The first difference between what the two scans leave behind.
std::string differenceOf(const RewriteState& fast, const std::set<std::string>& fastReads, const RewriteState& slow,
                         const std::set<std::string>& slowReads) {
    std::ostringstream difference;
    if (fast.sourceText != slow.sourceText) {
        difference << "source text " << printable(fast.sourceText) << " instead of " << printable(slow.sourceText);
    } else if (fast.sourceChanged != slow.sourceChanged) {
        difference << "changed flag " << fast.sourceChanged << " instead of " << slow.sourceChanged;
    } else if (fast.addedCount != slow.addedCount) {
        difference << "count " << fast.addedCount << " instead of " << slow.addedCount;
    } else if (fast.foundBlocks != slow.foundBlocks || fast.foundBlockCount != slow.foundBlockCount) {
        difference << "blocks " << printable(fast.foundBlocks) << " instead of " << printable(slow.foundBlocks);
    } else if (fast.memberList != slow.memberList) {
        difference << "member list " << printable(fast.memberList) << " instead of " << printable(slow.memberList);
    } else if (fastReads != slowReads) {
        difference << "read " << fastReads.size() << " module files instead of " << slowReads.size();
    } else {
        bool slowInserted = false;
        const std::string expected = insertBlocks(slow.sourceText, slow.foundBlocks, slowInserted);
        const std::size_t offset = insertionOffset(fast.sourceText);
        const bool fastInserted = offset != std::string::npos;
        const std::string actual = fastInserted ? fast.sourceText.substr(0, offset) + includeBlocksText(fast.foundBlocks) +
                                                      fast.sourceText.substr(offset)
                                                : fast.sourceText;
        if (fastInserted != slowInserted || actual != expected) {
            difference << "inserted " << printable(actual) << " instead of " << printable(expected);
        }
    }
    return difference.str();
}

}  // namespace

RewriteCase randomCase(std::mt19937_64& random) {
    RewriteCase rewriteCase;
    // A folder path holding CR LF makes a member list's first line differ
    // from the module path it was read from.
    const std::vector<std::string> folders = {"Vorrel", "Vorrel", "Vorrel", "Commands", "xVORREL", "A\r\nVorrel"};
    const std::string folder = pick(random, folders);
    rewriteCase.vorrelPrefix = "lib\\" + folder + "\\";

    // Module file names become keys; object modules get member lists.
    std::vector<std::string> moduleNames, typeNames, members;
    const std::size_t moduleCount = 1 + random() % 5;
    for (std::size_t i = 0; i < moduleCount; ++i) {
        const bool object = random() % 2 == 0;
        std::string name = pick(random, names);
        if (random() % 6 == 0) name += noise(random, 1);
        const std::string file = (object ? (random() % 3 ? "O_" : "o_") : "") + name + (random() % 5 ? ".inc" : ".x.inc");
        std::string line = catalogueLine(folder, file);
        if (random() % 10 == 0) line = noise(random, 1 + random() % 6) + "\r\n";  // a line of any bytes
        rewriteCase.catalogueList += line;
        moduleNames.push_back(name);
        if (object) {
            typeNames.push_back(name);
            std::string header = random() % 4 ? "X" : "";
            const std::size_t memberCount = random() % 5;
            for (std::size_t m = 0; m < memberCount; ++m) {
                std::string member = random() % 4 ? pick(random, names) : noise(random, random() % 3);
                if (random() % 5 == 0 && !moduleNames.empty()) member = randomCasing(random, pick(random, moduleNames));
                members.push_back(member);
                header += ";" + member;
            }
            std::string body = random() % 3 ? "\r\nbody\r\n" : (random() % 2 ? "\nbody" : "");
            rewriteCase.files[rewriteCase.vorrelPrefix + file] = header + body;
        }
    }
    rewriteCase.catalogueList += "\r\n";

    // The source: declarations, member uses, calls and noise, in any case.
    std::vector<std::string> declared = {"t", "T", "x", "a", ""};
    // Every eighth source is long enough for the vectorised search.
    const std::size_t parts = random() % 8 == 0 ? 40 + random() % 60 : random() % 14;
    const std::string lineEnd = random() % 4 ? "\r\n" : "\n";
    for (std::size_t i = 0; i < parts; ++i) {
        switch (random() % 6) {
        case 0:
            if (!typeNames.empty()) {
                const std::string name = pick(random, declared) + (random() % 4 ? "" : pick(random, names));
                declared.push_back(name);
                rewriteCase.source += "DIM " + name + randomCasing(random, " as " + pick(random, typeNames)) + lineEnd;
            }
            break;
        case 1:
            if (!members.empty()) {
                rewriteCase.source += randomCasing(random, pick(random, declared) + "." + pick(random, members));
                rewriteCase.source += pick(random, {" ", "=", "(", "", ".", lineEnd});
            }
            break;
        case 2:
            if (!members.empty()) rewriteCase.source += randomCasing(random, pick(random, members)) + pick(random, {" ", "=", "("});
            break;
        case 3:
            rewriteCase.source += randomCasing(random, pick(random, moduleNames)) + "(1)" + lineEnd;
            break;
        case 4:
            rewriteCase.source += randomCasing(random, pick(random, runs));
            break;
        default:
            rewriteCase.source += randomCasing(random, noise(random, 1 + random() % 6));
        }
    }
    return rewriteCase;
}

RewriteCase randomDeclarationRun(std::mt19937_64& random) {
    // Type names whose key " AS name" overlaps itself, and members made of
    // the same few bytes, so that member rewrites and key fixes keep
    // undoing one another, and a key's case fix reaches the name of the
    // declaration after it.
    static const std::vector<std::string> types = {"S AS S", "S AS S AS S", "A AS A", "AS", "S S", "S"};
    static const std::vector<std::string> memberPieces = {"s", "S", "a", "A", " ", " ", "as", "AS", "=", "(", ""};
    RewriteCase rewriteCase;
    rewriteCase.vorrelPrefix = "lib\\Vorrel\\";
    const std::size_t typeCount = 1 + random() % 2;
    std::vector<std::string> typeNames, members;
    for (std::size_t t = 0; t < typeCount; ++t) {
        const std::string name = pick(random, types);
        const std::string file = "O_" + name + (t == 0 ? "" : "2") + ".inc";
        rewriteCase.catalogueList += catalogueLine("Vorrel", file);
        std::string header = "X";
        for (std::size_t m = random() % 8; m > 0; --m) {
            std::string member;
            for (std::size_t k = 1 + random() % 4; k > 0; --k) member += pick(random, memberPieces);
            header += ";" + member;
            members.push_back(member);
        }
        rewriteCase.files[rewriteCase.vorrelPrefix + file] = header + "\r\nbody\r\n";
        typeNames.push_back(name);
    }
    rewriteCase.catalogueList += "\r\n";
    // Runs of declarations, each name the end of the one before, uses of
    // the members after the names, and unrelated filler that makes
    // whole-text comparisons dearer than the declarations they would spare.
    const std::vector<std::string> filler = {"PRINT x\r\n", "s.S = 1\r\n", "S.a(2)\r\n", "x = y\r\n", "s.a s.s "};
    for (std::size_t line = 2 + random() % 12; line > 0; --line) {
        std::string text = random() % 2 ? "DIM s" : "DIM S";
        const std::string& type = pick(random, typeNames);
        for (std::size_t r = 1 + random() % 10; r > 0; --r) text += " as " + type;
        rewriteCase.source += randomCasing(random, text) + "\r\n";
        for (std::size_t u = members.empty() ? 0 : random() % 4; u > 0; --u) {
            rewriteCase.source += randomCasing(random, pick(random, {"s", "a", "as"}) + "." + pick(random, members)) +
                                  pick(random, {" ", "=", "(", "\r\n"});
        }
        for (std::size_t f = random() % 4 == 0 ? random() % 40 : 0; f > 0; --f) {
            rewriteCase.source += randomCasing(random, pick(random, filler));
        }
    }
    return rewriteCase;
}

RewriteCase randomChainRuns(std::mt19937_64& random) {
    static const std::vector<std::string> memberChoices = {"A", "A", "a", "A.a", "AA", "b", ""};
    static const std::vector<std::string> declaredNames = {"a", "A", "a", "A", "a.A", "A.a.A", "aa"};
    RewriteCase rewriteCase;
    rewriteCase.vorrelPrefix = "lib\\Vorrel\\";
    rewriteCase.catalogueList = catalogueLine("Vorrel", "O_T.inc");
    if (random() % 4 == 0) rewriteCase.catalogueList += catalogueLine("Vorrel", "A.A.inc");  // the key "A.A("
    rewriteCase.catalogueList += "\r\n";
    std::string header = "X";
    for (std::size_t m = 1 + random() % 3; m > 0; --m) header += ";" + pick(random, memberChoices);
    rewriteCase.files[rewriteCase.vorrelPrefix + "O_T.inc"] = header + "\r\nbody\r\n";
    const std::size_t longest = 2 + random() % 8;
    for (std::size_t line = 3 + random() % 20; line > 0; --line) {
        if (random() % 3 == 0) {
            rewriteCase.source += "DIM " + pick(random, declaredNames) + randomCasing(random, " as t") + "\r\n";
            continue;
        }
        std::string run = "a";
        for (std::size_t k = 1 + random() % longest; k > 0; --k) run += pick(random, {".a", ".a", ".a", "(a", ".a.", "a"});
        rewriteCase.source += randomCasing(random, run) + pick(random, {"\r\n", " ", "=1\r\n", "(", "  "});
    }
    return rewriteCase;
}

RewriteCase caseFromBytes(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF) fields.emplace_back();
        else fields.back() += static_cast<char>(data[i]);
    }
    while (fields.size() < 3) fields.emplace_back();
    RewriteCase rewriteCase;
    rewriteCase.vorrelPrefix = "lib\\" + (fields[0].empty() ? std::string("Vorrel") : fields[0]) + "\\";
    rewriteCase.catalogueList = fields[1] + "\r\n";
    rewriteCase.source = fields[2];
    for (std::size_t i = 3; i + 1 < fields.size(); i += 2) rewriteCase.files[rewriteCase.vorrelPrefix + fields[i]] = fields[i + 1];
    return rewriteCase;
}

std::string caseToBytes(const RewriteCase& rewriteCase) {
    const std::string separator(1, '\xff');
    std::string folder = rewriteCase.vorrelPrefix;
    if (folder.rfind("lib\\", 0) == 0) folder.erase(0, 4);
    if (!folder.empty() && folder.back() == '\\') folder.pop_back();
    std::string catalogue = rewriteCase.catalogueList;
    if (catalogue.size() >= 2 && catalogue.compare(catalogue.size() - 2, 2, "\r\n") == 0) catalogue.resize(catalogue.size() - 2);
    std::string bytes = folder + separator + catalogue + separator + rewriteCase.source;
    for (const auto& [path, content] : rewriteCase.files) {
        const std::string name = path.rfind(rewriteCase.vorrelPrefix, 0) == 0 ? path.substr(rewriteCase.vorrelPrefix.size()) : path;
        bytes += separator + name + separator + content;
    }
    return bytes;
}

std::string compareScans(const RewriteCase& rewriteCase) {
    RewriteState fast, wide, slow;
    std::set<std::string> fastReads, wideReads, slowReads;
    runScan(Scanner::fast, rewriteCase, fast, fastReads);
    runScan(Scanner::reference, rewriteCase, slow, slowReads);
    std::string difference = differenceOf(fast, fastReads, slow, slowReads);
    if (!difference.empty()) return difference;
    // The same engine with the offsets that texts over 4 GiB take.
    runScan(Scanner::wide, rewriteCase, wide, wideReads);
    difference = differenceOf(wide, wideReads, slow, slowReads);
    return difference.empty() ? "" : "with 64-bit offsets: " + difference;
}

std::string describeCase(const RewriteCase& rewriteCase) {
    std::ostringstream out;
    out << "prefix " << printable(rewriteCase.vorrelPrefix) << "\ncatalogue " << printable(rewriteCase.catalogueList)
        << "\nsource " << printable(rewriteCase.source);
    for (const auto& [path, content] : rewriteCase.files) out << "\nfile " << printable(path) << " = " << printable(content);
    return out.str();
}

}  // namespace vorrel::oracle
