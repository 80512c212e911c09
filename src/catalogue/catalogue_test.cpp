#include "catalogue/catalogue.h"

#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

namespace vorrel {
namespace {

namespace fs = std::filesystem;

TEST(CutOperations, CutAtFirstAndLastDelimiter) {
    EXPECT_EQ(textBeforeFirst("abc", "x"), "abc");
    EXPECT_EQ(textBeforeFirst("Widget.Tools.inc", "."), "Widget");
    EXPECT_EQ(textBeforeFirst(".inc", "."), "");
    EXPECT_EQ(textAfterFirst("O_O_X", "O_"), "O_X");
    EXPECT_EQ(textAfterFirst("O_", "O_"), "");
    EXPECT_EQ(textAfterFirst("abc", "x"), "abc");
    EXPECT_EQ(textAfterLast("a\\b\\", "\\"), "");
    EXPECT_EQ(textAfterLast("abc", "\\"), "abc");
    EXPECT_EQ(textAfterLast("D:\\HB\\inc\\Vorrel", "\\"), "Vorrel");
    EXPECT_EQ(textAfterLast("$include \"Vorrel\\O_Timer.inc\"~$ENDIF", "\\"), "O_Timer.inc\"~$ENDIF");
}

TEST(CatalogueLine, WorkedExamplesByteForByte) {
    const std::string widget = catalogueLine("Vorrel", "Widget.inc");
    EXPECT_EQ(widget, "WIDGET(;$IFNDEF WIDGET~$DEFINE WIDGET~$include \"Vorrel\\Widget.inc\"~$ENDIF\r\n");
    EXPECT_EQ(widget.size(), 75u);
    const std::string timer = catalogueLine("Vorrel", "O_Timer.inc");
    EXPECT_EQ(timer, " AS TIMER;$IFNDEF TIMER~$DEFINE TIMER~$include \"Vorrel\\O_Timer.inc\"~$ENDIF\r\n");
    EXPECT_EQ(timer.size(), 76u);
}

TEST(CatalogueLine, ModuleKindAndNameFollowTheUpperCasedBaseName) {
    EXPECT_EQ(catalogueLine("Vorrel", "o_timer.inc"),
              " AS TIMER;$IFNDEF TIMER~$DEFINE TIMER~$include \"Vorrel\\o_timer.inc\"~$ENDIF\r\n");
    EXPECT_EQ(catalogueLine("Vorrel", "O_O_Clock.inc"),
              " AS O_CLOCK;$IFNDEF O_CLOCK~$DEFINE O_CLOCK~$include \"Vorrel\\O_O_Clock.inc\"~$ENDIF\r\n");
    EXPECT_EQ(catalogueLine("Vorrel", "Fo_o.inc"),
              "FO_O(;$IFNDEF FO_O~$DEFINE FO_O~$include \"Vorrel\\Fo_o.inc\"~$ENDIF\r\n");
    EXPECT_EQ(catalogueLine("Vorrel", "Widget.Tools.inc"),
              "WIDGET(;$IFNDEF WIDGET~$DEFINE WIDGET~$include \"Vorrel\\Widget.Tools.inc\"~$ENDIF\r\n");
    EXPECT_EQ(catalogueLine("Vorrel", "O_.inc"), " AS ;$IFNDEF ~$DEFINE ~$include \"Vorrel\\O_.inc\"~$ENDIF\r\n");
    EXPECT_EQ(catalogueLine("Vorrel", ".inc"), "(;$IFNDEF ~$DEFINE ~$include \"Vorrel\\.inc\"~$ENDIF\r\n");
    EXPECT_EQ(catalogueLine("Vorrel", "Widget.INC"),
              "WIDGET(;$IFNDEF WIDGET~$DEFINE WIDGET~$include \"Vorrel\\Widget.INC\"~$ENDIF\r\n");
    EXPECT_EQ(catalogueLine("Mods", "Widget.inc"),
              "WIDGET(;$IFNDEF WIDGET~$DEFINE WIDGET~$include \"Mods\\Widget.inc\"~$ENDIF\r\n");
    // Bytes above 127 keep their value; separators inside names are copied as they are.
    EXPECT_EQ(catalogueLine("Vorrel", "\xe4x;~.inc"),
              "\xe4X;~(;$IFNDEF \xe4X;~~$DEFINE \xe4X;~~$include \"Vorrel\\\xe4x;~.inc\"~$ENDIF\r\n");
}

class BuildCatalogue : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        folder_ = fs::temp_directory_path() / ("vorrel-catalogue-test-" + std::to_string(random())) / "Vorrel";
        fs::create_directories(folder_);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(folder_.parent_path());
    }
    void touch(const std::string& name) const { std::ofstream(folder_ / name) << "x"; }
    // The tool always names the folder with a backslash before its last component.
    std::string vorrelFolder() const { return folder_.parent_path().string() + "\\Vorrel"; }

    fs::path folder_;
};

TEST_F(BuildCatalogue, EmptyFolderGivesEmptyCatalogue) {
    touch("readme.txt");
    EXPECT_EQ(buildCatalogue(vorrelFolder()), "");
}

TEST_F(BuildCatalogue, OneLinePerMatchingEntryFoldersIncluded) {
    touch("Widget.inc");
    touch("notes.txt");
    fs::create_directory(folder_ / "Old.inc");
    const std::string catalogue = buildCatalogue(vorrelFolder());
    const std::string old = "OLD(;$IFNDEF OLD~$DEFINE OLD~$include \"Vorrel\\Old.inc\"~$ENDIF\r\n";
    EXPECT_EQ(catalogue, old + catalogueLine("Vorrel", "Widget.inc"));
}

}  // namespace
}  // namespace vorrel
