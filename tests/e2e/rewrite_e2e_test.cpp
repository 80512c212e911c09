// Rewriting a source file from end to end: the uses of the library's modules
// are put in upper case, the members of declared objects take the spelling
// that their module lists, and the include blocks of the modules used go
// below the source's leading "$" lines. Every run is checked on the bytes of
// the file, the console bytes, the exit code and the folder listing.
#include "harness.h"

#include <chrono>
#include <string>
#include <vector>

namespace e2e {
namespace {

using namespace std::string_literals;

struct Module {
    std::string name;
    std::string bytes;
};
using Modules = std::vector<Module>;

// The four lines that pull one module into a HotBasic source.
std::string block(const std::string& symbol, const std::string& file, const std::string& folder = "Vorrel") {
    return crlfLines({"$IFNDEF " + symbol, "$DEFINE " + symbol, "$include \"" + folder + "\\" + file + "\"", "$ENDIF"});
}

std::string report(int count) {
    return banner() + crlfLines({"Added " + std::to_string(count) + " vorrels to your Hotbasic application", " "});
}

const std::string widget = block("WIDGET", "Widget.inc");
const std::string timer = block("TIMER", "O_Timer.inc");

const Module widgetModule = {"Widget.inc", "SUB Widget(n AS INTEGER)\r\nEND SUB\r\n"};
const Module timerModule = {"O_Timer.inc", "X;Start;Interval\r\nTYPE TIMER\r\nEND TYPE\r\n"};

// One run of the tool on one source file, and what it must leave behind.
struct Case {
    std::string label;
    Modules modules;
    std::string source;
    std::string expected;  // the source file after the run
    int count;             // the number in the closing report
    std::string settings = "";            // first line of VorrelSettings.ini; no file when empty
    std::string library = "inc/Vorrel";  // the modules' folder below the program folder
};

class Rewrite : public ToolTest {
protected:
    // Installs the tool in <where>/app with its modules (and settings file).
    fs::path prepare(const fs::path& where, const Modules& modules, const std::string& library = "inc/Vorrel",
                     const std::string& settings = "") const {
        const fs::path tool = installTool(where / "app");
        fs::create_directories(root / where / "app" / library);
        for (const Module& module : modules) writeFile(where / "app" / library / module.name, module.bytes);
        if (!settings.empty()) writeFile(where / "app/VorrelSettings.ini", settings + "\r\n");
        return tool;
    }

    // Runs the case in a folder of its own, on prog.bas there: a successful
    // run that leaves the expected bytes and creates or removes nothing.
    void expectCase(const Case& c) {
        SCOPED_TRACE(c.label);
        const fs::path where = "case" + std::to_string(++cases);
        const fs::path tool = prepare(where, c.modules, c.library, c.settings);
        writeFile(where / "prog.bas", c.source);
        expectRun(tool, where, c.expected, c.count);
        for (const Module& module : c.modules) {
            EXPECT_EQ(readFile(where / "app" / c.library / module.name), module.bytes) << module.name;
        }
    }

    void expectRun(const fs::path& tool, const fs::path& where, const std::string& expected, int count) const {
        const std::vector<std::string> before = tree();
        const Result result = run(tool, {"prog.bas"}, where);
        EXPECT_EQ(result.out, report(count));
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(readFile(where / "prog.bas"), expected);
        EXPECT_EQ(tree(), before);
    }

    // Gives the file an old modification time and returns it.
    fs::file_time_type ageFile(const fs::path& relative) const {
        const auto old = fs::file_time_type::clock::now() - std::chrono::hours(24 * 30);
        fs::last_write_time(root / relative, old);
        return fs::last_write_time(root / relative);
    }

    int cases = 0;
};

TEST_F(Rewrite, TypicalRunRecasesCallDeclarationAndMemberAndInsertsBothBlocks) {
    expectCase({"typical run",
                {{"Widget.inc", "SUB Widget(n AS INTEGER)\r\nEND SUB\r\n"}, {"O_Timer.inc", "X;Start\r\nTYPE TIMER\r\n"}},
                "w = Widget(1)\r\nDIM t as Timer\r\nt.start\r\n",
                widget + timer + "w = WIDGET(1)\r\nDIM t AS TIMER\r\nt.Start\r\n",
                2});
}

TEST_F(Rewrite, UsesAreFoundAsPlainTextInAnyLetterCase) {
    const Modules both = {widgetModule, timerModule};
    const std::vector<Case> table = {
        {"every spelling of a key is brought to the key's own", both,
         "DIM t as Timer\r\nw = widget(1) + Widget(2)\r\n",
         widget + timer + "DIM t AS TIMER\r\nw = WIDGET(1) + WIDGET(2)\r\n", 2},
        {"inside longer words, comments and string literals", both,
         "x = myWidget(2) ' widget(\r\nPRINT \"wIdGeT(\"\r\nDIM t as Timers\r\n",
         widget + timer + "x = myWIDGET(2) ' WIDGET(\r\nPRINT \"WIDGET(\"\r\nDIM t AS TIMERs\r\n", 2},
        // The key A(A( occurs at offsets 4 and 6; only a search that resumes
        // inside the first occurrence reaches the last lower-case a.
        {"overlapping occurrences", {{"A(A.inc", ""}}, "x = a(A(a(1)))\r\n",
         block("A(A", "A(A.inc") + "x = A(A(A(1)))\r\n", 1},
        // Widget.Beta.inc lists first; the blocks come out in reverse.
        {"one key in two modules", {widgetModule, {"Widget.Beta.inc", ""}}, "w = widget(1)\r\n",
         widget + block("WIDGET", "Widget.Beta.inc") + "w = WIDGET(1)\r\n", 2},
        {"a zero byte is an ordinary byte", {widgetModule}, "$APPTYPE CONSOLE\0\r\nw = widget(1)\r\n"s,
         "$APPTYPE CONSOLE\0\r\n"s + widget + "w = WIDGET(1)\r\n", 1},
        {"LF-only source", both, "w = widget(1)\nDIM t as timer\nt.START\n",
         widget + timer + "w = WIDGET(1)\nDIM t AS TIMER\nt.Start\n", 2},
    };
    for (const Case& c : table) expectCase(c);
}

TEST_F(Rewrite, DeclaredObjectsTakeTheMemberSpellingOfTheirModule) {
    const Modules timerOnly = {timerModule};
    const std::vector<Case> table = {
        {"members after the declared name", timerOnly, "DIM t AS TIMER\r\nT.START\r\nt.interval = 5\r\n",
         timer + "DIM t AS TIMER\r\nt.Start\r\nt.Interval = 5\r\n", 1},
        {"members before ( or = inside longer words", timerOnly,
         "DIM t AS TIMER\r\nt.START(1)\r\nRESTART(2)\r\nx.INTERVAL=3\r\n",
         timer + "DIM t AS TIMER\r\nt.Start(1)\r\nREStart(2)\r\nx.Interval=3\r\n", 1},
        {"two declarations of one type", timerOnly, "DIM t AS TIMER\r\nDIM u as timer\r\nt.START\r\nU.interval\r\n",
         timer + "DIM t AS TIMER\r\nDIM u AS TIMER\r\nt.Start\r\nu.Interval\r\n", 1},
        {"DIM a, b declares b", timerOnly, "DIM a, b AS TIMER\r\nA.START\r\nB.START\r\n",
         timer + "DIM a, b AS TIMER\r\nA.START\r\nb.Start\r\n", 1},
        {"DIM a,b declares a,b", timerOnly, "DIM a,b AS TIMER\r\nA.START\r\nB.START\r\nA,B.START\r\n",
         timer + "DIM a,b AS TIMER\r\nA.START\r\nB.START\r\na,b.Start\r\n", 1},
        {"declaration at the start of the file", timerOnly, "t as timer\r\nT.START\r\n",
         timer + "t AS TIMER\r\nt.Start\r\n", 1},
        {"no name before the key", timerOnly, " as timer\r\nT.START\r\n", timer + " AS TIMER\r\nT.Start\r\n", 1},
        // The empty member name re-cases "t." wherever it stands.
        {"empty member name", {{"O_Timer.inc", "X;;Start\r\n"}}, "DIM t AS TIMER\r\nT.FOO = T.START + LIST.COUNT\r\n",
         timer + "DIM t AS TIMER\r\nt.FOO = t.Start + LISt.COUNT\r\n", 1},
        {"each object module lists its own members", {{"O_Clock.inc", "X;Tick\r\n"}, {"O_Timer.inc", "X;Start\r\n"}},
         "DIM c AS CLOCK\r\nDIM t AS TIMER\r\nc.TICK\r\nt.START\r\n",
         timer + block("CLOCK", "O_Clock.inc") + "DIM c AS CLOCK\r\nDIM t AS TIMER\r\nc.Tick\r\nt.Start\r\n", 2},
        {"members stay as written outside a folder named ...vorrel", timerOnly, "DIM t as timer\r\nt.START\r\n",
         block("TIMER", "O_Timer.inc", "Commands") + "DIM t AS TIMER\r\nt.START\r\n", 1, "lib\\Commands",
         "lib/Commands"},
        {"a folder name ending in vorrel in any case", timerOnly, "DIM t as timer\r\nt.START\r\n",
         block("TIMER", "O_Timer.inc", "MyVORREL") + "DIM t AS TIMER\r\nt.Start\r\n", 1, "lib\\MyVORREL",
         "lib/MyVORREL"},
    };
    for (const Case& c : table) expectCase(c);
}

TEST_F(Rewrite, IncludeBlocksGoBelowTheLeadingMetacommandLines) {
    const Modules widgetOnly = {widgetModule};
    const std::vector<Case> table = {
        // Gadget lists before O_Timer, so the TIMER block ends up first.
        {"below a $include line", {{"Gadget.inc", ""}, {"O_Timer.inc", "X;Start\r\n"}},
         "$include \"other.inc\"\r\nw = Gadget(1)\r\nDIM t as Timer\r\n",
         "$include \"other.inc\"\r\n" + timer + block("GADGET", "Gadget.inc") + "w = GADGET(1)\r\nDIM t AS TIMER\r\n", 2},
        {"above an empty line; later $ lines do not count", widgetOnly,
         "$APPTYPE CONSOLE\r\n$TYPECHECK ON\r\n\r\nw = widget(1)\r\n$late\r\n",
         "$APPTYPE CONSOLE\r\n$TYPECHECK ON\r\n" + widget + "\r\nw = WIDGET(1)\r\n$late\r\n", 1},
        {"above a line with a blank before its $", widgetOnly, "$APPTYPE CONSOLE\r\n $OPTIMIZE ON\r\nw = widget(1)\r\n",
         "$APPTYPE CONSOLE\r\n" + widget + " $OPTIMIZE ON\r\nw = WIDGET(1)\r\n", 1},
        {"every line a $ line, final CR LF", widgetOnly, "$APPTYPE CONSOLE\r\n$DEFINE CALL widget(1)\r\n",
         "$APPTYPE CONSOLE\r\n$DEFINE CALL WIDGET(1)\r\n" + widget, 1},
        {"every line a $ line, no final CR LF", widgetOnly, "$APPTYPE CONSOLE\r\n$DEFINE CALL widget(1)",
         "$APPTYPE CONSOLE\r\n$DEFINE CALL WIDGET(1)", 1},
        {"LF-only source beginning with $", widgetOnly, "$APPTYPE CONSOLE\nw = widget(1)\n",
         "$APPTYPE CONSOLE\nw = WIDGET(1)\n", 1},
        {"a lone CR does not end a line", widgetOnly, "$APPTYPE CONSOLE\rw = widget(1)\r\n",
         "$APPTYPE CONSOLE\rw = WIDGET(1)\r\n" + widget, 1},
    };
    for (const Case& c : table) expectCase(c);
}

TEST_F(Rewrite, ASecondRunInsertsTheBlocksAgainBelowTheFirstOnes) {
    const fs::path tool = prepare("", {{"Beeper.inc", ""}, {"Gadget.inc", ""}, {"O_Timer.inc", "X;Start\r\n"}});
    writeFile("prog.bas", "$APPTYPE CONSOLE\r\nb = beeper(1)\r\ng = Gadget(2)\r\nDIM t as timer\r\n");
    const std::string blocks = timer + block("GADGET", "Gadget.inc") + block("BEEPER", "Beeper.inc");
    const std::string code = "b = BEEPER(1)\r\ng = GADGET(2)\r\nDIM t AS TIMER\r\n";
    expectRun(tool, "", "$APPTYPE CONSOLE\r\n" + blocks + code, 3);
    expectRun(tool, "", "$APPTYPE CONSOLE\r\n" + blocks + blocks + code, 3);
}

TEST_F(Rewrite, TheFileIsWrittenOnlyWhenTheRunChangesIt) {
    const fs::path tool = prepare("", {widgetModule, timerModule});
    struct Untouched {
        std::string label, source;
        int count;
    };
    const std::vector<Untouched> untouched = {
        {"no key occurs", "$APPTYPE CONSOLE\r\nw = Widget (1)\r\nDIM t AS\tTimer\r\n", 0},
        {"keys in upper case, nowhere to insert", "$APPTYPE CONSOLE\r\n$DEFINE W WIDGET(1)", 1},
    };
    for (const Untouched& c : untouched) {
        SCOPED_TRACE(c.label);
        writeFile("prog.bas", c.source);
        const auto old = ageFile("prog.bas");
        expectRun(tool, "", c.source, c.count);
        EXPECT_EQ(fs::last_write_time(root / "prog.bas"), old);
    }

    // Nothing to re-case, but the blocks still have to go in.
    const std::string source = "DIM t AS TIMER\r\nt.Start\r\nw = WIDGET(1)\r\n";
    writeFile("prog.bas", source);
    const auto old = ageFile("prog.bas");
    expectRun(tool, "", widget + timer + source, 2);
    EXPECT_NE(fs::last_write_time(root / "prog.bas"), old);
}

TEST_F(Rewrite, ASourceThatCannotBeReadEndsTheRunAndCreatesNothing) {
    const fs::path tool = prepare("", {widgetModule});
    fs::create_directories(root / "src/old.bas");
    const std::vector<std::string> before = tree();
    fs::create_symlink("loop.bas", root / "loop.bas");  // a link to itself cannot be opened
    const std::vector<std::pair<std::string, std::string>> table = {
        {"src\\missing.bas", "Source file not found src\\missing.bas"},
        {"gone\\missing.bas", "Source file not found gone\\missing.bas"},
        {"src\\old.bas", "Source file is a folder src\\old.bas"},
        {"loop.bas", "Source file cannot be read loop.bas"},
    };
    for (const auto& [path, line] : table) {
        SCOPED_TRACE(path);
        const Result result = run(tool, {path});
        EXPECT_EQ(result.out, banner() + crlfLines({line}));
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exitCode, 1);
    }
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(root / "loop.bas")));
    fs::remove(root / "loop.bas");
    EXPECT_EQ(tree(), before);
}

TEST_F(Rewrite, AReadOnlySourceKeepsItsBytes) {
    const fs::path tool = prepare("", {widgetModule});
    // The first needs its case fixed; the second only the block inserted.
    for (const std::string source : {"w = widget(1)\r\n", "w = WIDGET(1)\r\n"}) {
        SCOPED_TRACE(source);
        writeFile("prog.bas", source);
        const auto old = ageFile("prog.bas");
        fs::permissions(root / "prog.bas", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        const std::vector<std::string> before = tree();
        const Result result = run(tool, {"prog.bas"});
        EXPECT_EQ(result.out, banner() + crlfLines({"Could not save prog.bas: the file is read-only"}));
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(readFile("prog.bas"), source);
        EXPECT_EQ(fs::last_write_time(root / "prog.bas"), old);
        EXPECT_EQ(tree(), before);
        fs::remove(root / "prog.bas");
    }
}

TEST_F(Rewrite, AModuleFileThatCannotBeReadGivesNoMembersAndIsNotCreated) {
    // A folder named like an object module is listed as one.
    const fs::path tool = prepare("", {});
    fs::create_directories(root / "app/inc/Vorrel/O_Clock.inc");
    writeFile("prog.bas", "DIM c as clock\r\nc.TICK\r\n");
    expectRun(tool, "", block("CLOCK", "O_Clock.inc") + "DIM c AS CLOCK\r\nc.TICK\r\n", 1);

    // A link to a missing file; Windows listings leave such links out.
    if (testingWindowsBuild()) return;
    fs::create_symlink("nowhere.inc", root / "app/inc/Vorrel/O_Timer.inc");
    writeFile("prog.bas", "DIM t as timer\r\nt.START\r\n");
    expectRun(tool, "", timer + "DIM t AS TIMER\r\nt.START\r\n", 1);
    EXPECT_FALSE(fs::exists(root / "app/inc/Vorrel/nowhere.inc"));
}

}  // namespace
}  // namespace e2e
