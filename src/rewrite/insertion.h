// Writing the results of the scan into the source file: the re-cased text,
// then the include blocks below the leading "$" metacommand lines.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "rewrite/rewrite_state.h"
#include "system/system.h"

namespace vorrel {

/// What happened to the source file; the first trouble ends the writing.
struct InsertionOutcome {
    LoadStatus reload = LoadStatus::loaded;
    SaveStatus save = SaveStatus::saved;
};

/// Saves state.sourceText when it changed (then pauses 0.1 s), and when blocks
/// were collected reads the file again, inserts them and saves it again.
InsertionOutcome insertIncludeBlocks(RewriteState& state);

/// Offset of the first line, cut at CR LF, whose first byte is not "$"
/// (an empty line counts); npos when every line begins with "$".
std::size_t insertionOffset(std::string_view text);

/// The lines of foundBlocks, last first, each with "~" turned into CR LF and
/// followed by CR LF; empty lines are skipped.
std::string includeBlocksText(std::string_view foundBlocks);

}  // namespace vorrel
