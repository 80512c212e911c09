// The values of a run that the source rewriting reads and leaves behind: the
// source file, the catalogue it is scanned against, and what the scan finds
// for the include block insertion and the closing report.
#pragma once

#include <cstdint>
#include <string>

#include "system/system.h"

namespace vorrel {

struct RewriteState {
    std::string sourcePath;     // the source file to rewrite (argument 1)
    std::string vorrelPrefix;   // the library folder followed by a backslash
    std::string catalogueList;  // the catalogue followed by one CR LF

    std::string sourceText;       // the source, as re-cased so far
    bool sourceChanged = false;   // sourceText differs from the file
    FileStamp sourceStamp;        // the source as last read: has another program written it since?
    std::int32_t addedCount = 0;  // catalogue lines whose key occurs
    std::string foundBlocks;      // distinct include blocks of used modules, one per line
    std::int32_t foundBlockCount = 0;
    std::string memberList;  // module path, then the member names of that module
};

}  // namespace vorrel
