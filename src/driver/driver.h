// The fixed sequence of one run: banner, argument, library folder, scan,
// include blocks, report.
#pragma once

#include "driver/tool_state.h"

namespace vorrel {

/// Exit code of a completed run, the about text and a missing library folder.
inline constexpr int exitSuccess = 0;
/// Exit code when the source cannot be read or a save fails.
inline constexpr int exitFileTrouble = 1;

/// Runs the tool on tool.commandLine and returns the process exit code.
int runTool(ToolState& tool);

}  // namespace vorrel
