// The values one run of the tool works on, shared by the driver, the folder
// discovery and the source rewriting. A run fills them once, in order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "system/system.h"

namespace vorrel {

struct ToolState {
    std::vector<std::string> commandLine;  // tokens; token 0 names the program
    std::string baseFolder;                // program folder, ending in a separator, or empty
    std::string sourcePath;                // the source file to rewrite (argument 1)

    std::string settingsEntry;             // first settings line, with a leading backslash
    std::string vorrelFolder;              // the library folder found, no trailing separator
    std::string vorrelPrefix;              // vorrelFolder followed by a backslash
    std::string catalogueList;             // the catalogue followed by one CR LF
    bool folderFound = false;

    std::string sourceText;                // the source, as re-cased so far
    std::string upperSource;               // upper-case copy of the source as loaded
    bool sourceChanged = false;            // sourceText differs from the file
    FileStamp sourceStamp;                 // the source as last read: has another program written it since?
    std::int32_t addedCount = 0;           // catalogue lines whose key occurs
    std::string foundBlocks;               // distinct include blocks of used modules, one per line
    std::int32_t foundBlockCount = 0;
    std::string declaredName;              // object name in front of the current declaration
    std::string includeBlock;              // include block of the current catalogue line
    std::string memberList;                // module path, then the member names of that module
};

}  // namespace vorrel
