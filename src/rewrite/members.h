// Object members: an object module lists its members on its first line, after
// a first piece that is not a member ("X;Start;Interval"). Where the source
// declares an object of that type, the members' uses get the listed spelling.
#pragma once

#include "driver/tool_state.h"
#include "rewrite/module_files.h"

namespace vorrel {

/// Re-cases in tool.sourceText the members of the object module named by
/// tool.includeBlock, as written after tool.declaredName and a point, or
/// directly before a blank, "=" or "(". Only blocks whose include path passes
/// through a folder named ...vorrel take part. Keeps the last module's member
/// list in tool.memberList, so consecutive declarations read its file once.
void normaliseMemberCase(ToolState& tool, ModuleFiles& modules);

}  // namespace vorrel
