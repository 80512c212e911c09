// Every outcome of a run from end to end: the about text, the search for the
// library folder, a completed rewrite, and a source that cannot be read. Each
// run is checked on its console bytes, its exit code and every file it left.
#include <algorithm>
#include <chrono>

#include "harness.h"

namespace e2e {
namespace {

// Over a megabyte: saves write, and Windows reads, a megabyte at a time. Stop, first on the member line, is no member.
const std::string tail = "t.stop\r\n'" + std::string(3 << 20, '.') + "\r\n";
const std::string source = "$APPTYPE CONSOLE\r\nw = widget(1)\r\nDIM t as timer\r\nt.start\r\n" + tail;
const std::string finished = "$APPTYPE CONSOLE\r\n" + block("WIDGET", "Widget.inc") + block("TIMER", "O_Timer.inc") +
                             "w = WIDGET(1)\r\nDIM t AS TIMER\r\nt.Start\r\n" + tail;
const std::string about = lines({" Hotbasic Vorrel optimizer", " Version 2.1", "   Brannox 2026",
                                 "   https://vorrel.example.org", "   vorrel@example.org", " "});
const std::string noFolder = lines({"No settings found, no inc directory"});

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
                                                                  {lib + "O_Timer.inc", "Stop;Start;Interval\r\n"}};

std::vector<std::pair<std::string, std::string>> with(std::vector<std::pair<std::string, std::string>> more) {
    more.insert(more.end(), library.begin(), library.end());
    return more;
}

using Outcomes = ToolTest;

TEST_F(Outcomes, EachRunPrintsItsLinesAndChangesOnlyWhatItShould) {
    const std::string dev = underWine() ? "NUL" : "/dev/null";
    // The program folder as the program prints it: with backslashes on drive Z: under wine.
    std::string app = (underWine() ? "Z:" : "") + tool.parent_path().string() + "/";
    if (underWine()) std::replace(app.begin(), app.end(), '/', '\\');
    const std::string settingsFail =
        lines({"You are using VorrelSettings.ini but it doesn't work", "Vorrel folder not found " + app + "\\Missing",
               "Trying alternative way of detecting Vorrel folder"});
    // Under wine, a character the ANSI code page lacks is never read as its look-alike "o".
    const std::string shown = std::string("pr") + (underWine() ? "?" : "\xc5\x8d") + "g.bas";
    const auto hotinc = std::make_pair("app/hotinc/Vorrel/Widget.inc", "");
    // clang-format off
    const std::vector<Outcome> table = {
        {"no argument: the about text", library, {}, about, 0, source},
        {"an empty argument is none", library, {"", "prog.bas"}, about, 0, source},
        {"no library folder", {}, {"prog.bas"}, noFolder, 0, source},
        {"a file is no library folder", {{"app/inc/Vorrel", ""}}, {"prog.bas"}, noFolder, 0, source},
        {"inc\\Vorrel", library, {"prog.bas"}, report(2), 0, finished},
        {"hotinc\\Vorrel", {hotinc}, {"prog.bas"}, report(1), 0,
         "$APPTYPE CONSOLE\r\n" + block("WIDGET", "Widget.inc") + "w = WIDGET(1)\r\nDIM t as timer\r\nt.start\r\n" +
         tail},
        {"inc\\Vorrel before hotinc\\Vorrel", {{lib, ""}, hotinc}, {"prog.bas"}, report(0), 0, source},
        {"the settings' folder; members only in a ...vorrel folder",
         with({{"app/VorrelSettings.ini", "lib\\Mods\r\nMissing"}, {"app/lib/Mods/O_Timer.inc", "X;Start\r\n"}}),
         {"prog.bas"}, report(1), 0, "$APPTYPE CONSOLE\r\n" + block("TIMER", "O_Timer.inc", "Mods") +
         "w = widget(1)\r\nDIM t AS TIMER\r\nt.start\r\n" + tail},
        {"settings naming no folder", with({{"app/VorrelSettings.ini", "Missing\r\nLib"}, {"app/Lib/", ""}}),
         {"prog.bas"}, settingsFail + report(2), 0, finished},
        {"settings naming no folder, no fallback", {{"app/VorrelSettings.ini", "\\Missing"}}, {"prog.bas"},
         settingsFail + noFolder, 0, source},
        {"nothing to change", library, {"prog.bas"}, report(0), 0, "PRINT 1\r\n", "PRINT 1\r\n"},
        {"used, upper case, nowhere to insert", library, {"prog.bas"}, report(1), 0, "$W(WIDGET(1)", "$W(WIDGET(1)"},
        {"not found", library, {"missing.bas"}, lines({"Source file not found missing.bas"}), 1, source},
        {"a folder", with({{"src/", ""}}), {"src"}, lines({"Source file is a folder src"}), 1, source},
        {"a device", library, {dev}, lines({"Source file cannot be read " + dev}), 1, source},
        {"not a look-alike", library, {"pr\xc5\x8dg.bas"}, lines({"Source file not found " + shown}), 1, source},
    };
    // clang-format on
    for (const Outcome& row : table) {
        SCOPED_TRACE(row.label);
        clear();
        write("prog.bas", row.before);
        for (const auto& [path, bytes] : row.files) write(path, bytes);
        const auto aged = fs::file_time_type::clock::now() - std::chrono::hours(24 * 30);
        fs::last_write_time(root / "prog.bas", aged);
        auto expected = snapshot();
        expected["prog.bas"] = digest(row.after);
        const Result result = run(row.args);
        EXPECT_EQ(result.out, banner + row.out);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.code, row.code);
        EXPECT_EQ(snapshot(), expected);
        EXPECT_TRUE(row.after != row.before || fs::last_write_time(root / "prog.bas") == aged) << "a new time";
    }
}

}  // namespace
}  // namespace e2e
