#include "rewrite/scan.h"

namespace vorrel {

LoadStatus scanSource(ToolState& tool) {
    const LoadStatus status = loadFile(tool.sourcePath, tool.sourceText, &tool.sourceStamp);
    if (status != LoadStatus::loaded) return status;
    ModuleFiles disk;
    scanText(tool, disk);
    return status;
}

}  // namespace vorrel
