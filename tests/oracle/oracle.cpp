#include "oracle.h"

#include <algorithm>

#include "catalogue/catalogue.h"
#include "text/text.h"

namespace vorrel::oracle {

namespace {

const std::string crlf = "\r\n";

// The upper-case copy of the source the scan searches, made once.
std::string upperSource;

// Brings every occurrence of x's upper-case form to the spelling x, one
// distinct spelling at a time, resuming one byte after each occurrence.
void recase(RewriteState& tool, const std::string& x) {
    const std::string upperX = toUpper(x);
    std::int64_t p = findText(1, upperSource, upperX);
    while (p != 0) {
        const std::string hit = midPart(tool.sourceText, p - 1, static_cast<std::int64_t>(x.size()));
        if (compareText(hit, x) != 0) {
            tool.sourceText = replaceAll(tool.sourceText, hit, x);
            tool.sourceChanged = true;
        }
        p = findText(p + 1, upperSource, upperX);
    }
}

std::string declaredNameAt(const std::string& text, std::int64_t p) {
    std::string reversedName;
    for (std::int64_t j = p - 1; j >= 1; --j) {
        const char c = text[static_cast<std::size_t>(j - 1)];
        if (c == ' ' || c == '\n' || c == '\r') break;
        reversedName += c;
    }
    return reversed(reversedName);
}

}  // namespace

// The member case pass for the declaration of declaredName whose catalogue
// line has includeBlock.
static void normaliseMemberCase(RewriteState& tool, ModuleFiles& modules, const std::string& declaredName,
                         const std::string& includeBlock) {
    if (findText(1, toLower(includeBlock), "vorrel\\") == 0) return;
    const std::string modulePath = tool.vorrelPrefix + textBeforeFirst(textAfterLast(includeBlock, "\\"), "\"");
    if (compareText(fieldAt(tool.memberList, crlf, 1), modulePath) != 0) {
        tool.memberList = "";
        std::string moduleText = readModuleFile(modules, modulePath);
        addLine(tool.memberList, replaceAll(fieldAt(moduleText, crlf, 1), ";", crlf));
        deleteLine(tool.memberList, 0);
        insertLine(tool.memberList, modulePath, 0);
        moduleText = "";
    }
    const std::int64_t n = countOccurrences(tool.memberList, crlf);
    for (std::int64_t k = 1; k <= n - 1; ++k) {
        const std::string m = fieldAt(tool.memberList, crlf, k + 1);
        recase(tool, declaredName + "." + m);
        recase(tool, m + " ");
        recase(tool, m + "=");
        recase(tool, m + "(");
    }
}

void scanText(RewriteState& tool, ModuleFiles& modules) {
    upperSource = toUpper(tool.sourceText);
    tool.sourceChanged = false;
    const std::int64_t n = countOccurrences(tool.catalogueList, crlf);
    for (std::int64_t i = 0; i <= n; ++i) {
        const std::string line = fieldAt(tool.catalogueList, crlf, i + 1);
        const std::string key = fieldAt(toUpper(line), ";", 1);
        if (key.empty()) continue;
        const std::int64_t first = findText(1, upperSource, key);
        if (first == 0) continue;
        std::int64_t p = first;
        while (p != 0) {
            const std::string spelling = midPart(tool.sourceText, p - 1, static_cast<std::int64_t>(key.size()));
            if (compareText(spelling, key) != 0) {
                tool.sourceText = replaceAll(tool.sourceText, spelling, key);
                tool.sourceChanged = true;
            }
            if (leftPart(key, 4) == " AS ") {
                const std::string declaredName = declaredNameAt(tool.sourceText, p);
                const std::string includeBlock = fieldAt(line, ";", 2);
                normaliseMemberCase(tool, modules, declaredName, includeBlock);
            }
            p = findText(p + 1, upperSource, key);
        }
        const std::string block = fieldAt(line, ";", 2);
        tool.addedCount = tool.addedCount + 1;
        if (findLine(tool.foundBlocks, block) == -1) {
            addLine(tool.foundBlocks, block);
            tool.foundBlockCount = tool.foundBlockCount + 1;
        }
    }
}

std::string insertBlocks(const std::string& reloaded, const std::string& foundBlocks) {
    std::string text = reloaded;
    const std::int64_t m = countOccurrences(text, crlf);
    std::int64_t index = -1;
    for (std::int64_t i = 0; i <= m; ++i) {
        if (compareText("$", leftPart(fieldAt(text, crlf, i + 1), 1)) != 0) {
            index = i;
            break;
        }
    }
    if (index < 0) return text;
    const std::int64_t blocks = countOccurrences(foundBlocks, crlf);
    for (std::int64_t k = 0; k <= blocks; ++k) {
        const std::string block = fieldAt(foundBlocks, crlf, k + 1);
        if (!block.empty()) insertLine(text, replaceAll(block, "~", crlf), index);
    }
    return text;
}

}  // namespace vorrel::oracle
