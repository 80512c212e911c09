// The tool's scan done step by step, for the reference build that the
// benchmark times against the real one.
#include "oracle.h"
#include "rewrite/scan.h"

namespace vorrel {

void scanText(ToolState& tool, ModuleFiles& modules) { oracle::scanText(tool, modules); }

}  // namespace vorrel
