// The source scan: finds the catalogue's match keys in the source, puts the
// letter case of every use right and collects the include blocks to insert.
#pragma once

#include "rewrite/module_files.h"
#include "rewrite/rewrite_state.h"
#include "system/system.h"

namespace vorrel {

/// Loads state.sourcePath and scans it; anything but LoadStatus::loaded
/// leaves the scan undone.
LoadStatus scanSource(RewriteState& state);

/// Scans state.sourceText against state.catalogueList: re-cases every use of
/// every key and, after each object declaration, the uses of that object's
/// members; counts used catalogue lines in state.addedCount and collects
/// their distinct include blocks in state.foundBlocks. Module files come
/// from files.
void scanText(RewriteState& state, ModuleFiles& files);

}  // namespace vorrel
