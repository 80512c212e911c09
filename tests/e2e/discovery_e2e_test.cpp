// Finding the Vorrel folder: the folder named by VorrelSettings.ini in the
// program folder, else inc\Vorrel, else hotinc\Vorrel below that folder.
#include "harness.h"

#include <string>
#include <utility>
#include <vector>

namespace e2e {
namespace {

// The three lines that say VorrelSettings.ini names no folder.
std::string settingsFailure(const std::string& testedPath) {
    return crlfLines({"You are using VorrelSettings.ini but it doesn't work", "Vorrel folder not found " + testedPath,
                      "Trying alternative way of detecting Vorrel folder"});
}

const std::string noFolder = crlfLines({"No settings found, no inc directory"});
const std::string closingReport = crlfLines({"Added 0 vorrels to your Hotbasic application", " "});

// A source file that calls a module named Widget. Where a test offers that
// module, it lies in a folder that must lose, so the source stays as it is.
const std::string sourceText = "$APPTYPE CONSOLE\r\nw = widget(1)\r\nPRINT \"done\"\r\n";
const std::string widgetModule = "SUB Widget(n AS INTEGER)\r\nEND SUB\r\n";

class Discovery : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        tool = installTool("app");
        base = programFolderSeen(tool);
    }

    void folder(const fs::path& relative) const { fs::create_directories(root / relative); }
    void settings(std::string_view bytes) const { writeFile("app/VorrelSettings.ini", bytes); }

    // Runs the tool on prog.bas in cwd and expects the banner, the search's
    // own lines, then the closing report when a folder is found or the
    // no-folder line when not. With a folder the source exists (and must stay
    // as it is); without one it is absent (and must not be created). No other
    // file may appear, vanish or change either.
    void expectRun(const std::string& searchLines, bool found, const fs::path& cwd = {},
                   const std::string& argv0 = {}) const {
        const fs::path source = cwd / "prog.bas";
        if (found) writeFile(source, sourceText);
        const std::vector<std::string> before = tree();
        const Result result = run(tool, {"prog.bas"}, cwd, argv0);
        EXPECT_EQ(result.out, banner() + searchLines + (found ? closingReport : noFolder));
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(tree(), before);
        if (found) {
            EXPECT_EQ(readFile(source), sourceText);
        }
        fs::remove(root / source);
    }

    fs::path tool;
    std::string base;  // the program folder as the tool prints it
};

TEST_F(Discovery, WithoutSettingsTheFallbackFoldersAreTriedSilently) {
    expectRun("", false);
    writeFile("app/inc/Vorrel", "a plain file, not a folder");
    expectRun("", false);
    folder("app/hotinc/Vorrel");
    expectRun("", true);
    fs::remove(root / "app/inc/Vorrel");
    folder("app/inc/Vorrel");
    expectRun("", true);
    fs::remove_all(root / "app/hotinc");
    expectRun("", true);
}

// hotinc\Vorrel offers the Widget module that the source calls; the empty
// inc\Vorrel must win, so nothing is counted and the source keeps its text.
TEST_F(Discovery, IncVorrelWinsOverHotincVorrel) {
    folder("app/inc/Vorrel");
    writeFile("app/hotinc/Vorrel/Widget.inc", widgetModule);
    expectRun("", true);
}

TEST_F(Discovery, AFolderNamedVorrelSettingsIniIsNoSettingsFile) {
    folder("app/VorrelSettings.ini");
    expectRun("", false);
    folder("app/inc/Vorrel");
    expectRun("", true);
}

// inc\Vorrel offers the Widget module that the source calls; the empty
// folder named in the settings must win over it.
TEST_F(Discovery, ASettingsEntryNamingAFolderIsUsedSilently) {
    writeFile("app/inc/Vorrel/Widget.inc", widgetModule);
    folder("app/Lib");
    folder("app/pack/sub/Mods");
    for (const char* content : {"Lib", "Lib\r\n", "\\Lib\r\n", "\\Lib", "Lib\r\nMissing\r\n", "pack\\sub\\Mods\r\n"}) {
        SCOPED_TRACE(content);
        settings(content);
        expectRun("", true);
    }
}

TEST_F(Discovery, ASettingsEntryNamingNoFolderIsReportedBeforeTheFallbacks) {
    folder("app/Lib");
    writeFile("app/Notes.txt", "Lib\r\n");
    const std::vector<std::pair<std::string, std::string>> cases = {
        // settings file content, and what the tool appends to its folder
        {"Missing\r\n", "\\Missing"},
        {"\\Missing", "\\Missing"},
        {"Missing\r\nLib\r\n", "\\Missing"},
        {"Lib\\\r\n", "\\Lib\\"},
        {"\\Lib\\", "\\Lib\\"},
        {"Notes.txt\r\n", "\\Notes.txt"},
        {" Lib\r\n", "\\ Lib"},
        {"\tLib\r\n", "\\\tLib"},
        {"Lib\nMore\n", "\\Lib\nMore\n"},
        {"Lib\n", "\\Lib\n"},
        {"Lib\r", "\\Lib\r"},
        {"D:\\Lib\r\n", "\\D:\\Lib"},
        {"", "\\"},
        {"\r\nLib\r\n", "\\"},
    };
    for (bool fallback : {false, true}) {
        if (fallback) folder("app/hotinc/Vorrel");
        for (const auto& [content, appended] : cases) {
            SCOPED_TRACE("fallback " + std::to_string(fallback) + ", settings \"" + content + "\"");
            settings(content);
            expectRun(settingsFailure(base + appended), fallback);
        }
    }
}

// Started by its absolute path, the tool looks beside itself only, never in
// the current folder.
TEST_F(Discovery, TheCurrentFolderIsNotSearched) {
    folder("work/inc/Vorrel");
    folder("work/hotinc/Vorrel");
    folder("work/Lib");
    writeFile("work/VorrelSettings.ini", "Lib\r\n");
    expectRun("", false, "work");
    settings("Lib\r\n");
    folder("app/Lib");
    expectRun("", true, "work");
}

// Started by a relative path, the program folder is that path's folder part
// (natively as written, under wine made absolute), and lookups follow it.
TEST_F(Discovery, ARelativeStartPathLeadsToTheProgramFolder) {
    folder("app/inc/Vorrel");
    folder("app/Lib");
    for (const auto& [cwd, folderPart] : std::vector<std::pair<std::string, std::string>>{{"work", "../app/"},
                                                                                         {"", "app/"}}) {
        SCOPED_TRACE(folderPart);
        folder(root / cwd);
        const std::string argv0 = folderPart + programFileName();
        const std::string seen = testingWindowsBuild() ? base : folderPart;
        settings("Missing\r\n");
        expectRun(settingsFailure(seen + "\\Missing"), true, cwd, argv0);
        settings("Lib\r\n");
        expectRun("", true, cwd, argv0);
        fs::remove_all(root / "app/inc");
        settings("Missing\r\n");
        expectRun(settingsFailure(seen + "\\Missing"), false, cwd, argv0);
        folder("app/inc/Vorrel");
    }
}

// Started by a bare name found on PATH, the program folder is empty: the
// settings file and fallbacks are looked up in the current folder, and the
// settings entry, which gains a leading backslash, names a folder below the
// filesystem root.
TEST_F(Discovery, ABareStartNameSearchesTheCurrentFolder) {
    if (testingWindowsBuild()) GTEST_SKIP() << "wine always hands over the full program path";
    ASSERT_FALSE(fs::exists("/Mods"));
    tool = installTool("bin");
    const std::string name = programFileName();
    folder("bin/inc/Vorrel");
    folder("work/Mods");
    expectRun("", false, "work", name);
    folder("work/inc/Vorrel");
    expectRun("", true, "work", name);
    writeFile("work/VorrelSettings.ini", "Mods\r\n");
    expectRun(settingsFailure("\\Mods"), true, "work", name);
    fs::remove_all(root / "work/inc");
    expectRun(settingsFailure("\\Mods"), false, "work", name);
    std::string belowRoot = (root / "work" / "Mods").relative_path().string();
    for (char& c : belowRoot) c = c == '/' ? '\\' : c;
    writeFile("work/VorrelSettings.ini", belowRoot + "\r\n");
    expectRun("", true, "work", name);
}

}  // namespace
}  // namespace e2e
