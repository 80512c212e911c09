#include "catalogue/catalogue.h"

#include "system/system.h"
#include "text/text.h"

namespace vorrel {

std::string textBeforeFirst(std::string_view text, std::string_view delimiter) {
    const std::int64_t at = findText(1, text, delimiter);
    if (at == 0) return std::string(text);
    return leftPart(text, at - 1);
}

std::string textAfterFirst(std::string_view text, std::string_view delimiter) {
    const std::int64_t at = findText(1, text, delimiter);
    if (at == 0) return std::string(text);
    return rightPart(text,
                     static_cast<std::int64_t>(text.size()) - (at + static_cast<std::int64_t>(delimiter.size()) - 1));
}

std::string textAfterLast(std::string_view text, std::string_view delimiter) {
    const std::int64_t at = findText(1, reversed(text), reversed(delimiter));
    if (at == 0) return std::string(text);
    return rightPart(text, at - 1);
}

std::string catalogueLine(std::string_view folderName, std::string_view fileName) {
    const std::string baseName = toUpper(textBeforeFirst(fileName, "."));
    const bool objectModule = compareText("O_", leftPart(baseName, 2)) == 0;
    const std::string moduleName = objectModule ? textAfterFirst(baseName, "O_") : baseName;
    std::string line;
    line.reserve(4 * moduleName.size() + folderName.size() + fileName.size() + 48);
    if (objectModule) {
        line += " AS ";
        line += moduleName;
    } else {
        line += moduleName;
        line += '(';
    }
    line += ";$IFNDEF ";
    line += moduleName;
    line += "~$DEFINE ";
    line += moduleName;
    line += "~$include \"";
    line += folderName;
    line += '\\';
    line += fileName;
    line += "\"~$ENDIF";
    line += lineBreak;
    return line;
}

std::string buildCatalogue(const std::string& vorrelFolder) {
    const std::string folderName = textAfterLast(vorrelFolder, "\\");
    std::string catalogue;
    FileEnumeration listing;
    for (std::string entry = firstFile(listing, vorrelFolder + "\\*.inc"); !entry.empty(); entry = nextFile(listing)) {
        catalogue += catalogueLine(folderName, entry);
    }
    return catalogue;
}

}  // namespace vorrel
