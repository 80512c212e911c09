// Finding the Vorrel folder: the folder named by VorrelSettings.ini beside the
// program, then "inc\Vorrel", then "hotinc\Vorrel".
#pragma once

#include "driver/tool_state.h"

namespace vorrel {

/// Tries the candidates in order below tool.baseFolder and, for the first
/// existing folder, builds the catalogue into tool.catalogueList and sets
/// tool.folderFound. Prints the settings diagnostics and "No settings found,
/// no inc directory" when they apply.
void discoverVorrelFolder(ToolState& tool);

}  // namespace vorrel
