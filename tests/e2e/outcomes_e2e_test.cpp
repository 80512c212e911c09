// Every outcome of a run from end to end: the about text, the search for the
// library folder, a completed rewrite, and a source that cannot be read. Each
// run is checked on its console bytes, its exit code and every file it left.
#include <chrono>

#include "harness.h"

namespace e2e {
namespace {

const std::string source = "$APPTYPE CONSOLE\r\nw = widget(1)\r\nDIM t as timer\r\nt.start\r\n";
const std::string finished = "$APPTYPE CONSOLE\r\n" + block("WIDGET", "Widget.inc") + block("TIMER", "O_Timer.inc") +
                             "w = WIDGET(1)\r\nDIM t AS TIMER\r\nt.Start\r\n";
const std::string about = lines({" Hotbasic Vorrel optimizer", " Version 2.1", "   Brannox 2026",
                                 "   https://vorrel.example.org", "   vorrel@example.org", " "});
const std::string noFolder = lines({"No settings found, no inc directory"});
const std::string settingsFail =
    lines({"You are using VorrelSettings.ini but it doesn't work", "Vorrel folder not found {app}\\Missing",
           "Trying alternative way of detecting Vorrel folder"});

struct Outcome {
    const char* label;
    std::vector<std::pair<std::string, std::string>> files;  // beside prog.bas, below the test's folder
    std::vector<std::string> args;
    std::string out;  // after the banner
    int code;
    std::string after;  // prog.bas after the run
    std::string before = source;
};

const std::string lib = "app/inc/Vorrel/";
const std::vector<std::pair<std::string, std::string>> library = {{lib + "Widget.inc", "SUB Widget(n)\r\n"},
                                                                  {lib + "O_Timer.inc", "X;Start;Interval\r\n"}};

std::vector<std::pair<std::string, std::string>> with(std::vector<std::pair<std::string, std::string>> more) {
    more.insert(more.end(), library.begin(), library.end());
    return more;
}

class Outcomes : public ToolTest {
protected:
    // {app} is the program folder as printed, {dev} a device, {o} a
    // character that the ANSI code page lacks and whose look-alike is "o".
    std::string expand(std::string text) const {
        const std::vector<std::pair<std::string, std::string>> names = {{"{app}", programFolder()},
                                                                        {"{dev}", underWine() ? "NUL" : "/dev/null"},
                                                                        {"{o}", underWine() ? "?" : "\xc5\x8d"}};
        for (const auto& [name, value] : names) {
            for (std::size_t at; (at = text.find(name)) != std::string::npos;) text.replace(at, name.size(), value);
        }
        return text;
    }
};

TEST_F(Outcomes, EachRunPrintsItsLinesAndChangesOnlyWhatItShould) {
    const std::string modsTimer = block("TIMER", "O_Timer.inc", "Mods");
    const std::vector<Outcome> table = {
        {"no argument: the about text", library, {}, about, 0, source},
        {"an empty argument is none", library, {"", "prog.bas"}, about, 0, source},
        {"no library folder", {}, {"prog.bas"}, noFolder, 0, source},
        {"a file is no library folder", {{"app/inc/Vorrel", ""}}, {"prog.bas"}, noFolder, 0, source},
        {"inc\\Vorrel", library, {"prog.bas"}, report(2), 0, finished},
        {"hotinc\\Vorrel",
         {{"app/hotinc/Vorrel/Widget.inc", ""}},
         {"prog.bas"},
         report(1),
         0,
         "$APPTYPE CONSOLE\r\n" + block("WIDGET", "Widget.inc") + "w = WIDGET(1)\r\nDIM t as timer\r\nt.start\r\n"},
        {"inc\\Vorrel before hotinc\\Vorrel",
         {{lib, ""}, {"app/hotinc/Vorrel/Widget.inc", ""}},
         {"prog.bas"},
         report(0),
         0,
         source},
        {"the settings' folder; members only in a ...vorrel folder",
         with({{"app/VorrelSettings.ini", "lib\\Mods\r\nMissing"}, {"app/lib/Mods/O_Timer.inc", "X;Start\r\n"}}),
         {"prog.bas"},
         report(1),
         0,
         "$APPTYPE CONSOLE\r\n" + modsTimer + "w = widget(1)\r\nDIM t AS TIMER\r\nt.start\r\n"},
        {"settings naming no folder",
         with({{"app/VorrelSettings.ini", "Missing\r\nLib"}, {"app/Lib/", ""}}),
         {"prog.bas"},
         settingsFail + report(2),
         0,
         finished},
        {"settings naming no folder, no fallback",
         {{"app/VorrelSettings.ini", "\\Missing"}},
         {"prog.bas"},
         settingsFail + noFolder,
         0,
         source},
        {"nothing to change", library, {"prog.bas"}, report(0), 0, "PRINT 1\r\n", "PRINT 1\r\n"},
        {"used, upper case, nowhere to insert", library, {"prog.bas"}, report(1), 0, "$W(WIDGET(1)", "$W(WIDGET(1)"},
        {"not found", library, {"missing.bas"}, lines({"Source file not found missing.bas"}), 1, source},
        {"a folder", with({{"src/", ""}}), {"src"}, lines({"Source file is a folder src"}), 1, source},
        {"a device", library, {"{dev}"}, lines({"Source file cannot be read {dev}"}), 1, source},
        {"not read as a look-alike",
         library,
         {"pr\xc5\x8dg.bas"},
         lines({"Source file not found pr{o}g.bas"}),
         1,
         source},
    };
    for (const Outcome& row : table) {
        SCOPED_TRACE(row.label);
        std::vector<fs::path> old = {root / "prog.bas", root / "src"};
        for (const auto& entry : fs::directory_iterator(root / "app")) old.push_back(entry.path());
        for (const fs::path& path : old) {
            if (path != tool) fs::remove_all(path);
        }
        write("prog.bas", row.before);
        for (const auto& [path, bytes] : row.files) write(path, bytes);
        const auto aged = fs::file_time_type::clock::now() - std::chrono::hours(24 * 30);
        fs::last_write_time(root / "prog.bas", aged);
        auto expected = snapshot();
        expected["prog.bas"] = row.after;
        std::vector<std::string> args;
        for (const std::string& arg : row.args) args.push_back(expand(arg));
        const Result result = run(args);
        EXPECT_EQ(result.out, banner + expand(row.out));
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.code, row.code);
        EXPECT_EQ(snapshot(), expected);
        if (row.after == row.before) {
            EXPECT_EQ(fs::last_write_time(root / "prog.bas"), aged);
        }
    }
}

}  // namespace
}  // namespace e2e
