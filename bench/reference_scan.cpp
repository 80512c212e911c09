// The tool's scan done step by step, for the reference build that the
// benchmark times against the real one.
#include "oracle.h"
#include "rewrite/scan.h"

namespace vorrel {

void scanText(RewriteState& state, ModuleFiles& modules) { oracle::scanText(state, modules); }

}  // namespace vorrel
