// The rewriting done the straightforward way: one text-wide search per
// catalogue line and per member pattern, one text-wide replace per distinct
// spelling met. Slow, but plain to check against the tool's description, so
// tests use it as the reference for the fast engine.
#pragma once

#include <string>

#include "driver/tool_state.h"
#include "rewrite/module_files.h"

namespace vorrel::oracle {

/// The scan of tool.sourceText against tool.catalogueList, step by step.
void scanText(ToolState& tool, ModuleFiles& modules);

/// The member case pass for tool.declaredName and tool.includeBlock.
void normaliseMemberCase(ToolState& tool, ModuleFiles& modules);

/// The file text after inserting foundBlocks into reloaded, line by line;
/// inserted is false when every line begins with "$" and nothing is inserted.
std::string insertBlocks(const std::string& reloaded, const std::string& foundBlocks, bool& inserted);

}  // namespace vorrel::oracle
