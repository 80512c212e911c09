// Small rewrite cases built to make keys, members and declared names collide,
// and the comparison of the fast scan with the straightforward one on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <random>
#include <string>

#include "rewrite/scan.h"

namespace vorrel::oracle {

/// A catalogue, a source, the library folder prefix and the module files.
struct RewriteCase {
    std::string catalogueList;
    std::string vorrelPrefix;
    std::string source;
    std::map<std::string, std::string> files;
};

/// A random case from the generator's state.
RewriteCase randomCase(std::mt19937_64& random);

/// A random case of object declarations that overlap one another, as in
/// "DIM s as S as s as S", with members that overlap them: after a few such
/// declarations the text tends to stop changing.
RewriteCase randomDeclarationRun(std::mt19937_64& random);

/// A random case of declarations among runs such as "a.A.a.a": after
/// DIM A AS T, a type with the member A, the pattern "A.A" overlaps itself
/// all along each run, and the replaces of its spellings make runs of the
/// same length spelled alike.
RewriteCase randomChainRuns(std::mt19937_64& random);

/// A case decoded from arbitrary bytes, for fuzzing: every input is a case.
/// Fields are separated by the byte 0xFF: the library folder's name, the
/// catalogue, the source, then module file names and contents in turn.
RewriteCase caseFromBytes(const std::uint8_t* data, std::size_t size);

/// The bytes that caseFromBytes turns back into the case (for seed inputs).
std::string caseToBytes(const RewriteCase& rewriteCase);

/// Runs both scans (and the block insertion on the result) and describes the
/// first difference; empty when they agree in everything they leave behind.
std::string compareScans(const RewriteCase& rewriteCase);

/// The case written out readably, for a failure message.
std::string describeCase(const RewriteCase& rewriteCase);

}  // namespace vorrel::oracle
