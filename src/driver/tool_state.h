// The values one run of the tool works on. The driver and the folder
// discovery fill those of their own; the rewriting's share (the source, the
// catalogue, what the scan finds) is the RewriteState part. A run fills them
// once, in order.
#pragma once

#include <string>
#include <vector>

#include "rewrite/rewrite_state.h"

namespace vorrel {

struct ToolState : RewriteState {
    std::vector<std::string> commandLine;  // tokens; token 0 names the program
    std::string baseFolder;                // program folder, ending in a separator, or empty
    std::string settingsEntry;             // first settings line, with a leading backslash
    std::string vorrelFolder;              // the library folder found, no trailing separator
    bool folderFound = false;
};

}  // namespace vorrel
