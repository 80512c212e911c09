// The rewriting done step by step, plainly as the tool's rules read
// (oracle.cpp), and cases built to make keys, members and names collide
// (cases.cpp), on which the engine is compared with it.
#pragma once

#include <cstdint>
#include <map>
#include <random>
#include <string>

#include "rewrite/module_files.h"
#include "rewrite/rewrite_state.h"

namespace vorrel::oracle {

/// The scan of state.sourceText against state.catalogueList, step by step.
void scanText(RewriteState& state, ModuleFiles& modules);

/// The file text after inserting foundBlocks into reloaded, line by line;
/// unchanged when every line begins with "$".
std::string insertBlocks(const std::string& reloaded, const std::string& foundBlocks);

/// A catalogue, a source, the library folder prefix and the module files.
struct RewriteCase {
    std::string catalogueList;
    std::string vorrelPrefix;
    std::string source;
    std::map<std::string, std::string> files;
};

/// Random cases: colliding keys, members and names; overlapping declarations
/// ("DIM s as S as s"); declarations among runs such as "a.A.a.a".
RewriteCase randomCase(std::mt19937_64& random);
RewriteCase randomDeclarationRun(std::mt19937_64& random);
RewriteCase randomChainRuns(std::mt19937_64& random);

/// A case from any bytes, for fuzzing: fields split at the byte 0xFF are the
/// folder's name, the catalogue, the source, then module names and contents.
RewriteCase caseFromBytes(const std::uint8_t* data, std::size_t size);

/// The first difference between the engine's outcome (with 32-bit and 64-bit
/// offsets, blocks inserted) and the reference's; empty if none.
std::string compareScans(const RewriteCase& rewriteCase);

/// The case written out readably, for a failure message.
std::string describeCase(const RewriteCase& rewriteCase);

}  // namespace vorrel::oracle
