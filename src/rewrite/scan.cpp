#include "rewrite/scan.h"

#include <unordered_set>

#include "rewrite/members.h"
#include "text/text.h"

namespace vorrel {

namespace {

// The include blocks collected so far, for a quick "seen before?" test. A
// block compares by whole line, the way the list is searched, as long as no
// collected block holds a lone CR or LF; past that, the list itself is
// searched.
struct CollectedBlocks {
    std::unordered_set<std::string> seen;
    bool plain = true;
};

bool holdsLineBreakByte(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

void collectBlock(ToolState& tool, CollectedBlocks& collected, const std::string& block) {
    const bool known = collected.plain ? collected.seen.count(block) != 0 : findLine(tool.foundBlocks, block) != -1;
    if (known) return;
    addLine(tool.foundBlocks, block);
    ++tool.foundBlockCount;
    if (holdsLineBreakByte(block)) collected.plain = false;
    if (collected.plain) collected.seen.insert(block);
}

void scanCatalogueLine(ToolState& tool, ModuleFiles& modules, CollectedBlocks& collected, std::string_view line) {
    const std::string key = toUpper(line.substr(0, line.find(';')));
    if (key.empty()) return;
    std::int64_t position = findText(1, tool.upperSource, key);
    if (position == 0) return;
    const std::string block = fieldAt(line, ";", 2);
    const bool objectKey = leftPart(key, 4) == " AS ";
    do {
        const std::string spelling = midPart(tool.sourceText, position - 1, static_cast<std::int64_t>(key.size()));
        if (spelling != key) {
            tool.sourceText = replaceAll(tool.sourceText, spelling, key);
            tool.sourceChanged = true;
        }
        if (objectKey) {
            tool.declaredName = std::string(declaredNameAt(tool.sourceText, static_cast<std::size_t>(position - 1)));
            tool.includeBlock = block;
            normaliseMemberCase(tool, modules);
        }
        position = findText(position + 1, tool.upperSource, key);
    } while (position != 0);
    ++tool.addedCount;
    collectBlock(tool, collected, block);
}

}  // namespace

std::string_view declaredNameAt(std::string_view text, std::size_t offset) {
    std::size_t start = offset;
    while (start > 0 && text[start - 1] != ' ' && text[start - 1] != '\n' && text[start - 1] != '\r') --start;
    return text.substr(start, offset - start);
}

void scanText(ToolState& tool, ModuleFiles& modules) {
    tool.upperSource = toUpper(tool.sourceText);
    tool.sourceChanged = false;
    CollectedBlocks collected;
    const std::string_view list = tool.catalogueList;
    for (std::size_t start = 0;;) {
        const std::size_t end = list.find(lineBreak, start);
        scanCatalogueLine(tool, modules, collected, list.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) break;
        start = end + lineBreak.size();
    }
}

LoadStatus scanSource(ToolState& tool) {
    const LoadStatus status = loadFile(tool.sourcePath, tool.sourceText);
    if (status != LoadStatus::loaded) return status;
    ModuleFiles disk;
    scanText(tool, disk);
    return status;
}

}  // namespace vorrel
