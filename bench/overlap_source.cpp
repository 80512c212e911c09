// The adversarial sources: runs of uses that overlap one another.
#include <algorithm>
#include <cctype>
#include <vector>

#include "files.h"
#include "rng.h"
#include "source_gen.h"

namespace vorrel_bench {

SourceStats writeOverlapSource(const Library& library, OverlapPart part, std::uint64_t bytes, std::uint64_t seed,
                               const std::string& sourcePath, const std::string& usesPath) {
    Rng rng(seed);
    Writer out(sourcePath);
    Writer uses(usesPath);  // stays empty: overlapping uses are not checked one by one
    SourceStats stats;
    stats.usesChecked = false;
    auto put = [&out](const std::string& text) { out.put(text); };
    auto putCased = [&](const std::string& text) {
        for (const char c : text) out.put(static_cast<char>(rng.chance(0.5) ? std::toupper(c) : std::tolower(c)));
    };
    static const std::vector<std::string> keyPieces = {"a(", "A(", "a(", "A(", "a(", "aa(", "a a("};
    static const std::vector<std::string> memberPieces = {"a ", "A ", "a=", "aa", "A=", "a(", "a a ", "a(a"};
    put("$APPTYPE CONSOLE\r\n$TYPECHECK ON\r\n' Runs of overlapping uses\r\n\r\n");
    int sub = 0;
    while (out.position() + 64 < bytes) {
        put("SUB Overlap" + std::to_string(++sub) + "()\r\n");
        const std::uint64_t end = std::min(bytes - 32, out.position() + 2000);
        if (part == OverlapPart::members) {
            // One or two objects per procedure, then runs their members overlap in.
            for (const char* name : {"t", "a"}) {
                if (name[0] == 'a' && rng.chance(0.5)) continue;
                put(std::string("    DIM ") + name + " ");
                putCased("AS OVL");
                put("\r\n");
                ++stats.declarations;
                const Module& ovl = library.modules[library.objects.front()];
                for (int m = rng.range(1, 3); m > 0; --m) {
                    put(std::string("    ") + name + ".");
                    putCased(library.members[ovl.members[rng.below(20)]]);
                    put(" = 1\r\n");
                    ++stats.memberUses;
                }
            }
        }
        while (out.position() < end) {
            put("    ");
            if (part == OverlapPart::names || part == OverlapPart::respelled) {
                // The name of the declaration before decides which end of
                // "NAME.A" is spelled in lower case.
                if (rng.chance(0.3)) {
                    put(rng.chance(0.5) ? "DIM a AS T" : "DIM A AS T");
                    ++stats.declarations;
                } else {
                    for (int r = 0; r < 21; ++r) {
                        if (r > 0) put(".");
                        putCased("a");
                    }
                    stats.memberUses += 20;
                }
            } else if (part == OverlapPart::declarations) {
                // s AS S AS S AS S ...: every " AS S AS S" is a declaration.
                put("DIM s");
                const int repeats = rng.range(2, 12);
                for (int r = 0; r < repeats; ++r) putCased(" as s");
                stats.declarations += static_cast<std::uint64_t>(repeats - 1);
            } else {
                const std::vector<std::string>& pieces = part == OverlapPart::keys ? keyPieces : memberPieces;
                const int length = rng.range(40, 120);
                for (int n = 0; n < length;) {
                    const std::string& piece = rng.pick(pieces);
                    putCased(piece);
                    n += static_cast<int>(piece.size());
                }
            }
            put("\r\n");
        }
        put("END SUB\r\n\r\n");
    }
    put("END\r\n");
    out.close();
    uses.close();
    stats.bytes = out.position();
    return stats;
}

}  // namespace vorrel_bench
