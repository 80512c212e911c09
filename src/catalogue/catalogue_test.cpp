// The catalogue lines of module file names, and the catalogue of a real folder.
#include "catalogue/catalogue.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

namespace vorrel {
namespace {

namespace fs = std::filesystem;

// The line of a module named name whose file is folder\file, by its key.
std::string line(const std::string& key, const std::string& name, const std::string& file,
                 const std::string& folder = "Vorrel") {
    return key + ";$IFNDEF " + name + "~$DEFINE " + name + "~$include \"" + folder + "\\" + file + "\"~$ENDIF\r\n";
}

TEST(Catalogue, TheModuleKindAndNameFollowTheUpperCasedBaseName) {
    EXPECT_EQ(catalogueLine("Mods", "Widget.inc"),
              "WIDGET(;$IFNDEF WIDGET~$DEFINE WIDGET~$include \"Mods\\Widget.inc\"~$ENDIF\r\n");
    const std::vector<std::vector<std::string>> table = {
        // file, key, module name
        {"o_timer.inc", " AS TIMER", "TIMER"},
        {"O_O_Clock.inc", " AS O_CLOCK", "O_CLOCK"},
        {"Fo_o.inc", "FO_O(", "FO_O"},
        {"Widget.Tools.INC", "WIDGET(", "WIDGET"},
        {"O_.inc", " AS ", ""},
        {".inc", "(", ""},
        {"\xe4x;~.inc", "\xe4X;~(", "\xe4X;~"},
    };
    for (const auto& row : table) EXPECT_EQ(catalogueLine("Vorrel", row[0]), line(row[1], row[2], row[0]));
}

TEST(Catalogue, AFolderGivesALinePerIncEntryInListingOrder) {
    const fs::path folder = fs::temp_directory_path() / ("vorrel-catalogue-" + std::to_string(std::random_device()()));
    fs::create_directories(folder / "Lib" / "Old.inc");
    for (const char* name : {"b.inc", "O_Timer.INC", "c.incx", "notes.txt", "A.inc"})
        std::ofstream(folder / "Lib" / name);
    // The tool names the folder with a backslash before its last component.
    std::string catalogue = buildCatalogue(folder.string() + "\\Lib");
    std::string expected = line("A(", "A", "A.inc", "Lib") + line("B(", "B", "b.inc", "Lib") +
                           line("OLD(", "OLD", "Old.inc", "Lib") + line(" AS TIMER", "TIMER", "O_Timer.INC", "Lib");
#ifdef _WIN32
    // The order there is the file system's, not the tool's: the same bytes in any order.
    std::sort(catalogue.begin(), catalogue.end());
    std::sort(expected.begin(), expected.end());
#endif
    EXPECT_EQ(catalogue, expected);
    if (!HasFailure()) fs::remove_all(folder);
}

}  // namespace
}  // namespace vorrel
