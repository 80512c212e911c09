#include "driver/driver.h"

#include <string_view>

#include "driver/discovery.h"
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
    printText("Added ");
    printNumber(tool.addedCount);
    printText(" vorrels to your Hotbasic application");
    printLineEnd();
    printLine(" ");
    return exitSuccess;
}

}  // namespace vorrel
