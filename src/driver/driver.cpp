#include "driver/driver.h"

#include <string_view>

#include "driver/discovery.h"
#include "rewrite/insertion.h"
#include "rewrite/scan.h"
#include "system/command_line.h"
#include "system/system.h"

namespace vorrel {

namespace {

void printAbout() {
    printLine(" Hotbasic Vorrel optimizer");
    printLine(" Version 2.1");
    printLine("   Brannox 2026");
    printLine("   https://vorrel.example.org");
    printLine("   vorrel@example.org");
    printLine(" ");
}

// A source that cannot be read or written back ends the run with a line
// that names it; the file keeps the bytes it had.
int reportLoadTrouble(LoadStatus status, const std::string& path) {
    switch (status) {
    case LoadStatus::loaded: return exitSuccess;
    case LoadStatus::missing: printLine("Source file not found " + path); break;
    case LoadStatus::folder: printLine("Source file is a folder " + path); break;
    case LoadStatus::unreadable: printLine("Source file cannot be read " + path); break;
    }
    return exitFileTrouble;
}

int reportSaveTrouble(SaveStatus status, const std::string& path) {
    if (status == SaveStatus::saved) return exitSuccess;
    const std::string reason = lastSaveError();
    printLine("Could not save " + path + ": " + describeSaveStatus(status) +
              (reason.empty() ? "" : " (" + reason + ")"));
    return exitFileTrouble;
}

}  // namespace

int runTool(ToolState& tool) {
    printLine("HotBasic Vorrel 2.1 by Brannox started");
    tool.vorrelPrefix.clear();
    tool.folderFound = false;
    tool.foundBlockCount = 0;
    tool.baseFolder = programFolder(tool.commandLine);
    tool.sourcePath = commandArgument(tool.commandLine, 1);
    if (tool.sourcePath.empty()) {
        printAbout();
        return exitSuccess;
    }
    discoverVorrelFolder(tool);
    if (!tool.folderFound) return exitSuccess;
    const LoadStatus loaded = scanSource(tool);
    if (loaded != LoadStatus::loaded) return reportLoadTrouble(loaded, tool.sourcePath);
    const InsertionOutcome written = insertIncludeBlocks(tool);
    if (written.save != SaveStatus::saved) return reportSaveTrouble(written.save, tool.sourcePath);
    if (written.reload != LoadStatus::loaded) return reportLoadTrouble(written.reload, tool.sourcePath);
    printText("Added ");
    printNumber(tool.addedCount);
    printText(" vorrels to your Hotbasic application");
    printLineEnd();
    printLine(" ");
    return exitSuccess;
}

}  // namespace vorrel
