// Loading a source and scanning it, whichever scan the program is built with.
#include "rewrite/scan.h"

namespace vorrel {

LoadStatus scanSource(RewriteState& state) {
    const LoadStatus status = loadFile(state.sourcePath, state.sourceText, &state.sourceStamp);
    if (status != LoadStatus::loaded) return status;
    ModuleFiles disk;
    scanText(state, disk);
    return status;
}

}  // namespace vorrel
