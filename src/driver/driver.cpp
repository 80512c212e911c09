#include "driver/driver.h"

#include <string_view>

#include "system/command_line.h"
#include "system/system.h"

namespace vorrel {

namespace {

void printLine(std::string_view text) {
    printText(text);
    printLineEnd();
}

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
    return exitSuccess;
}

}  // namespace vorrel
