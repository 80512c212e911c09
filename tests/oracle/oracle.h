// The rewriting done the straightforward way: one text-wide search per
// catalogue line and per member pattern, one text-wide replace per distinct
// spelling met. Slow, but plain to check against the tool's description, so
// tests use it as the reference for the fast engine.
#pragma once

#include <string>

#include "rewrite/rewrite_state.h"
#include "rewrite/module_files.h"

namespace vorrel::oracle {

/// The scan of state.sourceText against state.catalogueList, step by step.
void scanText(RewriteState& state, ModuleFiles& modules);

/// The member case pass for the declaration of declaredName whose catalogue
/// line has includeBlock.
void normaliseMemberCase(RewriteState& state, ModuleFiles& modules, const std::string& declaredName,
                         const std::string& includeBlock);

/// The file text after inserting foundBlocks into reloaded, line by line;
/// inserted is false when every line begins with "$" and nothing is inserted.
std::string insertBlocks(const std::string& reloaded, const std::string& foundBlocks, bool& inserted);

}  // namespace vorrel::oracle
