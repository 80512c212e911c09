#include "driver/discovery.h"

#include "catalogue/catalogue.h"
#include "system/system.h"
#include "text/text.h"

namespace vorrel {

namespace {

bool isPresentFile(const std::string& path) { return (pathAttributes(path) & ~folderAttribute) != 0; }

bool isFolder(const std::string& path) { return (pathAttributes(path) & folderAttribute) != 0; }

// Paths are joined without adding a separator: the base folder already ends
// in one, and a settings entry begins with a backslash of its own.
bool tryCandidate(ToolState& tool, const std::string& folder) {
    if (!isFolder(folder)) return false;
    tool.vorrelFolder = folder;
    tool.vorrelPrefix = folder + "\\";
    return true;
}

}  // namespace

void discoverVorrelFolder(ToolState& tool) {
    const std::string settingsPath = tool.baseFolder + "VorrelSettings.ini";
    bool found = false;
    if (isPresentFile(settingsPath)) {
        std::string settings;
        loadFile(settingsPath, settings);
        tool.settingsEntry = fieldAt(settings, lineBreak, 1);
        if (leftPart(tool.settingsEntry, 1) != "\\") tool.settingsEntry.insert(0, "\\");
        const std::string candidate = tool.baseFolder + tool.settingsEntry;
        found = tryCandidate(tool, candidate);
        if (!found) {
            printLine("You are using VorrelSettings.ini but it doesn't work");
            printLine("Vorrel folder not found " + candidate);
            printLine("Trying alternative way of detecting Vorrel folder");
        }
    }
    if (!found) found = tryCandidate(tool, tool.baseFolder + "inc\\Vorrel");
    if (!found) found = tryCandidate(tool, tool.baseFolder + "hotinc\\Vorrel");
    if (!found) {
        printLine("No settings found, no inc directory");
        return;
    }
    tool.catalogueList.clear();
    addLine(tool.catalogueList, buildCatalogue(tool.vorrelFolder));
    tool.folderFound = true;
}

}  // namespace vorrel
