// Generated HotBasic sources for the benchmark: realistic programs with a
// chosen density of module uses, and adversarial ones.
#pragma once

#include <cstdint>
#include <string>

#include "library.h"

namespace vorrel_bench {

struct SourceSpec {
    std::uint64_t bytes = 0;           // size to reach
    double bytesPerUse = 100;          // one module use (call or object declaration) per this many bytes
    double rightCase = 0.9;            // share of uses and member uses already in the right letter case
    double declarationShare = 0.07;    // share of uses that are object declarations
    bool dense = false;                // compact, deeply nested calls; short arguments
    bool freshSpellings = false;       // every occurrence of a key or member in a letter case not used before
    std::uint64_t forcedDeclarations = 0;  // this many object declarations, evenly spread, each its own name
    int membersMin = 2, membersMax = 4;    // member uses written after each declaration
    std::uint64_t seed = 1;
};

struct SourceStats {
    std::uint64_t bytes = 0;
    std::uint64_t uses = 0;          // module uses written: calls plus object declarations
    std::uint64_t calls = 0;
    std::uint64_t declarations = 0;
    std::uint64_t memberUses = 0;
    std::uint64_t miscased = 0;      // uses written in another case than upper
    std::uint32_t modulesUsed = 0;   // distinct modules with at least one use
    bool usesChecked = true;         // every recorded use must end up upper-cased
};

/// Writes a HotBasic program of about spec.bytes bytes (CR LF lines,
/// leading metacommands, SUB and FUNCTION blocks, declarations, calls,
/// member uses, comments, string literals, ordinary statements) to
/// sourcePath, and the offset and length of every module use to usesPath
/// (pairs of little-endian 32-bit numbers). The number of uses is
/// spec.bytes / spec.bytesPerUse whatever the library.
SourceStats writeSource(const Library& library, const SourceSpec& spec, const std::string& sourcePath,
                        const std::string& usesPath);

/// A source of about bytes bytes for makeOverlapLibrary(part): runs such as
/// a(A(a(A(a( (keys), object declarations DIM t AS OVL followed by runs
/// such as a A a a=A a( (members), runs DIM s AS S as s AS S ... in which
/// every " AS S AS S" is a declaration (declarations), or declarations
/// DIM a AS T and DIM A AS T among runs such as a.A.A.a.a (names).
SourceStats writeOverlapSource(const Library& library, OverlapPart part, std::uint64_t bytes, std::uint64_t seed,
                               const std::string& sourcePath, const std::string& usesPath);

}  // namespace vorrel_bench
