#include "rewrite/members.h"

#include "catalogue/catalogue.h"
#include "text/text.h"

namespace vorrel {

namespace {

// Brings every occurrence of pattern's upper-case form in the source to
// pattern's own spelling, one distinct spelling at a time.
void recasePattern(ToolState& tool, const std::string& pattern) {
    const std::string upperPattern = toUpper(pattern);
    for (std::int64_t at = findText(1, tool.upperSource, upperPattern); at != 0;
         at = findText(at + 1, tool.upperSource, upperPattern)) {
        const std::string hit = midPart(tool.sourceText, at - 1, static_cast<std::int64_t>(pattern.size()));
        if (hit != pattern) {
            tool.sourceText = replaceAll(tool.sourceText, hit, pattern);
            tool.sourceChanged = true;
        }
    }
}

void loadMemberList(ToolState& tool, ModuleFiles& modules, const std::string& modulePath) {
    tool.memberList.clear();
    const std::string moduleText = readModuleFile(modules, modulePath);
    addLine(tool.memberList, replaceAll(fieldAt(moduleText, lineBreak, 1), ";", lineBreak));
    deleteLine(tool.memberList, 0);
    insertLine(tool.memberList, modulePath, 0);
}

}  // namespace

void normaliseMemberCase(ToolState& tool, ModuleFiles& modules) {
    if (findText(1, toLower(tool.includeBlock), "vorrel\\") == 0) return;
    const std::string modulePath = tool.vorrelPrefix + textBeforeFirst(textAfterLast(tool.includeBlock, "\\"), "\"");
    if (fieldAt(tool.memberList, lineBreak, 1) != modulePath) loadMemberList(tool, modules, modulePath);

    // The list always ends with CR LF: line 0 is the module path, every later
    // line one member.
    const std::string_view list = tool.memberList;
    const std::size_t pathEnd = list.find(lineBreak);
    if (pathEnd == std::string_view::npos) return;
    std::size_t start = pathEnd + lineBreak.size();
    for (std::size_t end = list.find(lineBreak, start); end != std::string_view::npos;
         start = end + lineBreak.size(), end = list.find(lineBreak, start)) {
        const std::string member(list.substr(start, end - start));
        recasePattern(tool, tool.declaredName + "." + member);
        recasePattern(tool, member + " ");
        recasePattern(tool, member + "=");
        recasePattern(tool, member + "(");
    }
}

}  // namespace vorrel
