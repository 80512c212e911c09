// Bad and extreme inputs from end to end: every byte value in the source, an
// empty source, no line breaks, a 10 MB line, a 1 GB source (when asked for),
// 10,000 modules, odd module file names, modules that are folders, empty or
// huge, odd settings files and odd arguments. Each run has an exact expected
// result worked out here; where the reference build (the same tool with the
// step-by-step scan) can run the case in reasonable time, it runs an
// identical copy too and must leave the same bytes and print the same lines.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {
namespace {

using namespace std::string_literals;

std::string block(const std::string& symbol, const std::string& file, const std::string& folder = "Vorrel") {
    return crlfLines({"$IFNDEF " + symbol, "$DEFINE " + symbol, "$include \"" + folder + "\\" + file + "\"", "$ENDIF"});
}

std::string report(int count) {
    return banner() + crlfLines({"Added " + std::to_string(count) + " vorrels to your Hotbasic application", " "});
}

std::string settingsFailure(const std::string& testedPath) {
    return crlfLines({"You are using VorrelSettings.ini but it doesn't work", "Vorrel folder not found " + testedPath,
                      "Trying alternative way of detecting Vorrel folder"});
}

std::string repeat(const std::string& piece, std::size_t times) {
    std::string text;
    text.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) text += piece;
    return text;
}

std::string upperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    return text;
}

std::string allBytes() {
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
    return bytes;
}

const std::string widget = block("WIDGET", "Widget.inc");
const std::string timer = block("TIMER", "O_Timer.inc");

// One file or folder of a case, below the case's folder; the tool lives in app/.
struct Entry {
    std::string path;
    std::string bytes;
    bool folder = false;
};
using Layout = std::vector<Entry>;

Layout standardLibrary() {
    return {{"app/inc/Vorrel/Widget.inc", "SUB Widget(n AS INTEGER)\r\nEND SUB\r\n"},
            {"app/inc/Vorrel/O_Timer.inc", "X;Start;Interval\r\nTYPE TIMER\r\nEND TYPE\r\n"}};
}

Layout with(Layout layout, const std::vector<Entry>& more) {
    layout.insert(layout.end(), more.begin(), more.end());
    return layout;
}

// What a case must give. Without expected bytes, the reference build's
// result is the expectation.
struct Expectation {
    std::optional<std::string> bytes;  // the source after the run
    std::string out;
    int exitCode = 0;
    bool reference = true;  // run the reference build on a copy too
};

// Under wine, file names reach the Windows build in its ANSI code page,
// Windows-1252 when wine runs in a UTF-8 locale; the Linux names are their
// UTF-8 form. Bytes 0x80 (the euro sign) and 0xA0-0xFF map this way.
std::string hostName(const std::string& bytes) {
    if (!testingWindowsBuild()) return bytes;
    std::string name;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            name += c;
        } else if (b == 0x80) {
            name += "\xe2\x82\xac";
        } else {
            name += static_cast<char>(0xc0 | (b >> 6));
            name += static_cast<char>(0x80 | (b & 0x3f));
        }
    }
    return name;
}

const std::vector<std::string> utf8Locale = {"LC_ALL=C.UTF-8"};

class BadInput : public ToolTest {
protected:
    // Lays the entries out below folder and installs the program under test,
    // or the reference build, in folder/app.
    fs::path stage(const fs::path& folder, const Layout& layout, bool reference) const {
        fs::create_directories(root / folder);
        const fs::path tool = reference ? installReference(folder / "app") : installTool(folder / "app");
        for (const Entry& entry : layout) {
            const std::string path = reference ? entry.path : hostName(entry.path);
            if (entry.folder) {
                fs::create_directories(root / folder / path);
            } else {
                writeFile(folder / path, entry.bytes);
            }
        }
        return tool;
    }

    std::vector<std::string> treeOf(const fs::path& folder) const {
        std::vector<std::string> paths;
        for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
            paths.push_back(fs::relative(entry.path(), root / folder).string());
        }
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    // Runs a case: the program under test on one copy, the reference build
    // on another, each in its copy's folder with args, and checks the
    // console, exit code and the source's bytes, and that no file appeared
    // or vanished.
    void expectCase(const std::string& label, const Layout& layout, const std::vector<std::string>& args,
                    const std::string& sourcePath, const Expectation& expected, RunOptions options = {}) {
        SCOPED_TRACE(label);
        const fs::path folder = "case" + std::to_string(++cases);
        const fs::path tool = stage(folder, layout, false);
        const std::vector<std::string> before = treeOf(folder);
        options.cwd = folder;
        const Result result = runWith(tool, args, options);
        const std::string bytes = readFile(folder / hostName(sourcePath));
        EXPECT_EQ(treeOf(folder), before);
        EXPECT_EQ(result.err, "");
        if (expected.bytes) {
            EXPECT_TRUE(result.out == expected.out) << "console:\n" << shorten(result.out);
            EXPECT_EQ(result.exitCode, expected.exitCode);
            EXPECT_TRUE(bytes == *expected.bytes) << "source after the run:\n" << shorten(bytes);
        }
        if (expected.reference) {
            if (referenceProgram().empty()) {
                std::printf("no reference build given (VORREL_REFERENCE); %s is checked without it\n", label.c_str());
                if (!expected.bytes) ADD_FAILURE() << "nothing to compare with";
            } else {
                const fs::path referenceFolder = "reference" + std::to_string(cases);
                const fs::path reference = stage(referenceFolder, layout, true);
                RunOptions native = options;
                native.cwd = referenceFolder;
                native.native = true;
                const Result referenceResult = runWith(reference, args, native);
                EXPECT_TRUE(result.out == referenceResult.out) << "console:\n"
                                                               << shorten(result.out) << "reference build:\n"
                                                               << shorten(referenceResult.out);
                EXPECT_EQ(result.exitCode, referenceResult.exitCode);
                EXPECT_EQ(referenceResult.err, "");
                EXPECT_TRUE(bytes == readFile(referenceFolder / sourcePath)) << "the reference build left other bytes";
                if (!HasFailure()) fs::remove_all(root / referenceFolder);
            }
        }
        if (!HasFailure()) fs::remove_all(root / folder);
    }

    static std::string shorten(const std::string& text) {
        return text.size() <= 2000 ? text : text.substr(0, 2000) + "... (" + std::to_string(text.size()) + " bytes)";
    }

    int cases = 0;
};

// ---- the source --------------------------------------------------------------

TEST_F(BadInput, EveryByteValueInTheSourceIsAnOrdinaryByte) {
    const std::string all = allBytes();
    const std::string reversed(all.rbegin(), all.rend());
    // No run of 0..255 or 255..0 holds a key, a member or CR LF.
    expectCase(
        "0..255 around the uses",
        with(standardLibrary(),
             {{"prog.bas", all + "\r\nw = widget(1)\r\nDIM t as timer\r\nt.start " + all + "\r\n" + reversed}}),
        {"prog.bas"}, "prog.bas",
        {widget + timer + all + "\r\nw = WIDGET(1)\r\nDIM t AS TIMER\r\nt.Start " + all + "\r\n" + reversed, report(2)},
        {});
    std::string lines, recasedLines;
    for (int b = 0; b < 256; ++b) {
        lines += static_cast<char>(b) + "w = widget("s + std::to_string(b) + ")\r\n";
        recasedLines += static_cast<char>(b) + "w = WIDGET("s + std::to_string(b) + ")\r\n";
    }
    // Line 0 begins with byte 0, so the block goes on top.
    expectCase("every byte value begins a line", with(standardLibrary(), {{"prog.bas", lines}}), {"prog.bas"},
               "prog.bas", {widget + recasedLines, report(1)});
    expectCase("every byte value in a leading $ line",
               with(standardLibrary(), {{"prog.bas", "$" + all + "\r\nw = widget(1)\r\n"}}), {"prog.bas"}, "prog.bas",
               {"$" + all + "\r\n" + widget + "w = WIDGET(1)\r\n", report(1)});

    // Random bytes with uses strewn in: the reference build is the judge.
    std::mt19937 random(20240611);
    const std::vector<std::string> uses = {"widget(",     "WiDgEt(", " as timer", "t.start",
                                           "t.interval=", "start ",  "\r\n$",     "\r\n"};
    for (int round = 0; round < 4; ++round) {
        std::string bytes;
        while (bytes.size() < 32768) {
            if (random() % 8 == 0) {
                bytes += uses[random() % uses.size()];
            } else {
                bytes += static_cast<char>(random() % 256);
            }
        }
        expectCase("random bytes, round " + std::to_string(round), with(standardLibrary(), {{"prog.bas", bytes}}),
                   {"prog.bas"}, "prog.bas", {std::nullopt, ""});
    }
    // Every byte value in the member list of an object module.
    std::string members = all;
    members.replace(members.find('\r'), 1, "\x01");  // keep the list on one line
    expectCase("every byte value in a member list",
               {{"app/inc/Vorrel/O_Timer.inc", "X;" + members + "\r\n"},
                {"prog.bas", "DIM t as timer\r\nt." + all + "\r\n" + upperAscii(all) + "(\r\n"}},
               {"prog.bas"}, "prog.bas", {std::nullopt, ""});
}

TEST_F(BadInput, AnEmptySourceStaysEmptyAndUntouched) {
    const fs::path tool = stage("", standardLibrary(), false);
    writeFile("prog.bas", "");
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(24 * 30);
    fs::last_write_time(root / "prog.bas", old);
    const auto aged = fs::last_write_time(root / "prog.bas");
    const std::vector<std::string> before = tree();
    const Result result = run(tool, {"prog.bas"});
    EXPECT_EQ(result.out, report(0));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(fs::file_size(root / "prog.bas"), 0u);
    EXPECT_EQ(fs::last_write_time(root / "prog.bas"), aged);
    EXPECT_EQ(tree(), before);
    expectCase("empty source, reference build", with(standardLibrary(), {{"prog.bas", ""}}), {"prog.bas"}, "prog.bas",
               {"", report(0)});
}

TEST_F(BadInput, ASourceWithoutLineBreaks) {
    const std::vector<std::pair<std::string, Expectation>> table = {
        {"w = widget(1)", {widget + "w = WIDGET(1)", report(1)}},
        // One line that begins with $: no line to insert above.
        {"$APPTYPE CONSOLE: w = widget(1)", {"$APPTYPE CONSOLE: w = WIDGET(1)", report(1)}},
        {"DIM t as timer: t.start = widget(1)", {widget + timer + "DIM t AS TIMER: t.Start = WIDGET(1)", report(2)}},
        {"x", {"x", report(0)}},
        {"\r", {"\r", report(0)}},
        {"\n", {"\n", report(0)}},
        {"$", {"$", report(0)}},
        {"w = widget(1)\r", {widget + "w = WIDGET(1)\r", report(1)}},
        {"w = widget(1)\nDIM t as timer\nt.start",
         {widget + timer + "w = WIDGET(1)\nDIM t AS TIMER\nt.Start", report(2)}},
    };
    for (const auto& [source, expected] : table) {
        expectCase("\"" + source + "\"", with(standardLibrary(), {{"prog.bas", source}}), {"prog.bas"}, "prog.bas",
                   expected);
    }
}

TEST_F(BadInput, ATenMegabyteLine) {
    constexpr std::size_t tenMegabytes = 10u << 20;
    // One declaration, then members and calls, all on one line without a break.
    const std::string piece = "x = widget(1): t.start ";
    const std::size_t times = tenMegabytes / piece.size() + 1;
    expectCase("declaration, members and calls on one line",
               with(standardLibrary(), {{"prog.bas", "DIM t as timer: " + repeat(piece, times)}}), {"prog.bas"},
               "prog.bas", {widget + timer + "DIM t AS TIMER: " + repeat("x = WIDGET(1): t.Start ", times), report(2)});
    // A leading $ line of 10 MB, then the line the block goes above.
    const std::string call = "REM widget(1) ";
    const std::size_t calls = tenMegabytes / call.size() + 1;
    expectCase("a 10 MB $ line",
               with(standardLibrary(), {{"prog.bas", "$" + repeat(call, calls) + "\r\nw = widget(1)\r\n"}}),
               {"prog.bas"}, "prog.bas",
               {"$" + repeat("REM WIDGET(1) ", calls) + "\r\n" + widget + "w = WIDGET(1)\r\n", report(1)});
}

// Needs about 6 GB of free memory and 3 GB of disk, and takes about half a
// minute on either build. The native and the Windows runs take turns (a lock
// file), so that they never need that memory twice at once.
TEST_F(BadInput, AOneGigabyteSource) {
    if (testingSanitizedBuild() && std::getenv("VORREL_HUGE_TESTS") == nullptr) {
        GTEST_SKIP() << "under AddressSanitizer the 1 GB source needs several times the memory and time; "
                        "set VORREL_HUGE_TESTS to run it anyway";
    }
    const int lock = ::open((fs::temp_directory_path() / "vorrel-e2e-huge.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    struct Unlock {
        int fd;
        ~Unlock() { ::close(fd); }
    } unlock{lock};
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    long long kilobytes = 0, available = 0;
    while (meminfo >> key >> kilobytes) {
        if (key == "MemAvailable:") available = kilobytes;
        meminfo.ignore(1 << 10, '\n');
    }
    if (available < (6ll << 20))
        GTEST_SKIP() << "needs 6 GB of free memory, the machine has " << available / 1024 << " MB";
    struct statvfs disk;
    if (::statvfs(root.c_str(), &disk) == 0 && disk.f_bavail * disk.f_frsize < (3ull << 30)) {
        GTEST_SKIP() << "needs 3 GB of free disk in " << root.parent_path() << ", there are "
                     << disk.f_bavail * disk.f_frsize / (1 << 20) << " MB";
    }
    const std::string line = "w = widget(1): t.start\r\n";
    const std::size_t lines = (1ull << 30) / line.size() + 1;
    std::string source = "DIM t as timer\r\n" + repeat(line, lines);
    {
        const fs::path tool = stage("", standardLibrary(), false);
        writeFile("prog.bas", source);
        source.clear();
        source.shrink_to_fit();
        RunOptions slow;
        slow.timeoutSeconds = 1200;
        const Result result = runWith(tool, {"prog.bas"}, slow);
        EXPECT_EQ(result.out, report(2));
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exitCode, 0);
    }
    const std::string expected = widget + timer + "DIM t AS TIMER\r\n" + repeat("w = WIDGET(1): t.Start\r\n", lines);
    EXPECT_TRUE(readFile("prog.bas") == expected) << "the 1 GB source was not rewritten as expected";
}

// ---- the library folder --------------------------------------------------------

TEST_F(BadInput, TenThousandModules) {
    // Creating files is the slow part, so the library is made once and both
    // builds run beside it: the program under test, and the reference build
    // copied in next to it.
    const fs::path tool = installTool("app");
    char name[32];
    for (int i = 0; i < 10000; ++i) {
        std::snprintf(name, sizeof name, "M%05d", i);
        writeFile("app/inc/Vorrel/" + std::string(name) + ".inc", "' module " + std::string(name) + "\r\n");
    }
    struct Uses {
        std::string label;
        int step;  // every step-th module is used
        bool reference;
    };
    for (const Uses& uses : {Uses{"every hundredth used", 100, true}, Uses{"all used", 1, false}}) {
        SCOPED_TRACE(uses.label);
        // The blocks come in reverse listing order, above the first line
        // that does not begin with "$".
        std::string source = "$APPTYPE CONSOLE\r\n", recased = source, blocks;
        int count = 0;
        for (int i = 0; i < 10000; i += uses.step, ++count) {
            std::snprintf(name, sizeof name, "m%05d", i);
            source += "x = " + std::string(name) + "(1)\r\n";
            recased += "x = " + upperAscii(name) + "(1)\r\n";
            blocks = block(upperAscii(name), upperAscii(name) + ".inc") + blocks;
        }
        writeFile("prog.bas", source);
        const std::vector<std::string> before = tree();
        const Result result = run(tool, {"prog.bas"});
        EXPECT_EQ(result.out, report(count));
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exitCode, 0);
        const std::string expected = "$APPTYPE CONSOLE\r\n" + blocks + recased.substr(18);
        EXPECT_TRUE(readFile("prog.bas") == expected) << "the source was not rewritten as expected";
        EXPECT_TRUE(tree() == before) << "files appeared or vanished";
        if (uses.reference && !referenceProgram().empty()) {
            const fs::path reference = root / "app/reference";
            fs::copy_file(referenceProgram(), reference);
            writeFile("prog.bas", source);
            RunOptions native;
            native.native = true;
            const Result referenceResult = runWith(reference, {"prog.bas"}, native);
            EXPECT_EQ(referenceResult.out, result.out);
            EXPECT_EQ(referenceResult.exitCode, 0);
            EXPECT_TRUE(readFile("prog.bas") == expected) << "the reference build left other bytes";
            fs::remove(reference);
        }
    }
}

TEST_F(BadInput, ModuleFileNamesWithSeparatorsBlanksHighBytesAndCase) {
    const std::string vorrel = "app/inc/Vorrel/";
    const Layout layout = {
        {vorrel + "A;B.inc", "' a\r\n"},
        {vorrel + "C~D.inc", "' c\r\n"},
        {vorrel + "E F.inc", "' e\r\n"},
        {vorrel + "G\xe9.inc", "' g\r\n"},
        {vorrel + "WIDGET.inc", "' 1\r\n"},
        {vorrel + "Widget.inc", "' 2\r\n"},
        {vorrel + "widget.INC", "' 3\r\n"},
        {"prog.bas", "x = a;b(1)\r\ny = c~d(2)\r\nz = e f(3)\r\nw = widget(4)\r\nv = g\xe9(5)\r\n"},
    };
    // "A;B.inc" gives the line "A;B(;$IFNDEF A;B~...": its key is "A" (every
    // a in the source) and its block the text "B(". The "~" of "C~D.inc"
    // breaks its block's lines. The three spellings of Widget are three
    // modules, listed by upper-cased name, then by bytes.
    const std::string blocks =
        block("WIDGET", "widget.INC") + block("WIDGET", "Widget.inc") + block("WIDGET", "WIDGET.inc") +
        block("G\xe9", "G\xe9.inc") + block("E F", "E F.inc") +
        crlfLines({"$IFNDEF C", "D", "$DEFINE C", "D", "$include \"Vorrel\\C", "D.inc\"", "$ENDIF"}) +
        crlfLines({"B("});
    RunOptions options;
    options.environment = utf8Locale;
    expectCase("odd names", layout, {"prog.bas"}, "prog.bas",
               {blocks + "x = A;b(1)\r\ny = C~D(2)\r\nz = E F(3)\r\nw = WIDGET(4)\r\nv = G\xe9(5)\r\n", report(7)},
               options);
}

// Every byte value above 127 in a name. Windows programs see names only
// through a code page, so this is for the Linux build.
TEST_F(BadInput, ModuleFileNamesWithEveryByteAbove127) {
    if (testingWindowsBuild()) {
        GTEST_SKIP() << "Windows programs see file names only through their code page; names with every byte "
                        "above 127 are checked on the Linux build (the test above covers the Windows-1252 ones)";
    }
    const std::string vorrel = "app/inc/Vorrel/";
    Layout high;
    std::string source, recased, highBlocks;
    for (int b = 128; b < 256; ++b) {
        const std::string name = "K"s + static_cast<char>(b);
        high.push_back({vorrel + name + ".inc", ""});
        source += "k"s + static_cast<char>(b) + "(1)\r\n";
        recased += name + "(1)\r\n";
        highBlocks = block(name, name + ".inc") + highBlocks;
    }
    expectCase("every byte above 127", with(high, {{"prog.bas", source}}), {"prog.bas"}, "prog.bas",
               {highBlocks + recased, report(128)});
}

TEST_F(BadInput, ModulesThatAreFoldersEmptyOrHuge) {
    const std::string vorrel = "app/inc/Vorrel/";
    std::string filler;
    const std::string fillerLine = "' the body of a very large module, never read for members\r\n";
    filler = repeat(fillerLine, (50u << 20) / fillerLine.size() + 1);
    const Layout layout = {
        {vorrel + "Dir.inc", "", true},
        {vorrel + "Dir.inc/Inner.inc", "' not listed\r\n"},
        {vorrel + "O_Box.inc", "", true},
        {vorrel + "Empty.inc", ""},
        {vorrel + "O_Void.inc", ""},
        {vorrel + "O_Big.inc", "X;Open;Close\r\n" + filler},
        {"prog.bas",
         "d = dir(1)\r\ne = empty(2)\r\nDIM b as box\r\nb.OPEN\r\nDIM v as void\r\nv.START\r\n"
         "DIM g as big\r\ng.open = g.close\r\ni = inner(3)\r\n"},
    };
    const std::string blocks = block("VOID", "O_Void.inc") + block("BOX", "O_Box.inc") + block("BIG", "O_Big.inc") +
                               block("EMPTY", "Empty.inc") + block("DIR", "Dir.inc");
    expectCase("folders, empty files and a 50 MB module", layout, {"prog.bas"}, "prog.bas",
               {blocks + "d = DIR(1)\r\ne = EMPTY(2)\r\nDIM b AS BOX\r\nb.OPEN\r\nDIM v AS VOID\r\nv.START\r\n"
                         "DIM g AS BIG\r\ng.Open = g.Close\r\ni = inner(3)\r\n",
                report(5)});
    // A member list of 1 MB on a module's first line: one member of that length.
    const std::string longMember(1u << 20, 'q');
    expectCase("a member name of 1 MB",
               {{vorrel + "O_Wide.inc", "X;" + longMember + ";Short\r\n"},
                {"prog.bas", "DIM w as wide\r\nw." + upperAscii(longMember) + " = w.SHORT\r\n"}},
               {"prog.bas"}, "prog.bas",
               {block("WIDE", "O_Wide.inc") + "DIM w AS WIDE\r\nw." + longMember + " = w.Short\r\n", report(1)});
}

// ---- the settings file ---------------------------------------------------------

TEST_F(BadInput, ASettingsFileOf100Megabytes) {
    const std::string filler = repeat("not read: the rest of a very large settings file\r\n", (100u << 20) / 50 + 1);
    const std::string source = "w = widget(1)\r\n";
    expectCase("a short first line",
               {{"app/VorrelSettings.ini", "Lib\r\n" + filler}, {"app/Lib/Widget.inc", ""}, {"prog.bas", source}},
               {"prog.bas"}, "prog.bas", {block("WIDGET", "Widget.inc", "Lib") + "w = WIDGET(1)\r\n", report(1)});
    // A first line of 100 MB names no folder; the tool says so, naming it.
    const std::string entry = "Nope" + std::string(100u << 20, 'x');
    const fs::path tool = stage("huge", {{"app/VorrelSettings.ini", entry}, {"app/inc/Vorrel/Widget.inc", ""}}, false);
    writeFile("huge/prog.bas", source);
    RunOptions options;
    options.cwd = "huge";
    const Result result = runWith(tool, {"prog.bas"}, options);
    const std::string expected = banner() + settingsFailure(programFolderSeen(tool) + "\\" + entry) +
                                 crlfLines({"Added 1 vorrels to your Hotbasic application", " "});
    EXPECT_TRUE(result.out == expected) << "console of " << result.out.size() << " bytes, expected " << expected.size();
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(readFile("huge/prog.bas"), widget + "w = WIDGET(1)\r\n");
}

TEST_F(BadInput, SettingsEntriesThatClimbWithDotDot) {
    const std::string source = "w = widget(1)\r\nDIM t as timer\r\nt.start\r\n";
    const Layout library = {
        {"lib/Vorrel/Widget.inc", ""}, {"lib/Vorrel/O_Timer.inc", "X;Start\r\n"}, {"prog.bas", source}};
    const Expectation besideTheProgramFolder = {widget + timer + "w = WIDGET(1)\r\nDIM t AS TIMER\r\nt.Start\r\n",
                                                report(2)};
    expectCase("..\\lib\\Vorrel", with(library, {{"app/VorrelSettings.ini", "..\\lib\\Vorrel\r\n"}}), {"prog.bas"},
               "prog.bas", besideTheProgramFolder);
    expectCase("..\\app\\..\\lib\\Vorrel", with(library, {{"app/VorrelSettings.ini", "..\\app\\..\\lib\\Vorrel\r\n"}}),
               {"prog.bas"}, "prog.bas", besideTheProgramFolder);
    // ".." names the case folder itself, whose last component is "..": the
    // blocks say so, and the folder name does not end in "vorrel", so the
    // members keep their spelling.
    expectCase("..",
               {{"app/VorrelSettings.ini", "..\r\n"},
                {"Widget.inc", ""},
                {"O_Timer.inc", "X;Start\r\n"},
                {"prog.bas", source}},
               {"prog.bas"}, "prog.bas",
               {block("WIDGET", "Widget.inc", "..") + block("TIMER", "O_Timer.inc", "..") +
                    "w = WIDGET(1)\r\nDIM t AS TIMER\r\nt.start\r\n",
                report(2)});

    // Through a folder that does not exist: Linux resolves each component and
    // finds nothing, Windows drops "Gone\.." before looking.
    const fs::path tool = stage("gone",
                                {{"app/VorrelSettings.ini", "Gone\\..\\Lib2\r\n"},
                                 {"app/Lib2/Widget.inc", ""},
                                 {"app/inc/Vorrel/O_Timer.inc", "X;Start\r\n"},
                                 {"prog.bas", source}},
                                false);
    RunOptions options;
    options.cwd = "gone";
    const Result result = runWith(tool, {"prog.bas"}, options);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 0);
    if (testingWindowsBuild()) {
        EXPECT_EQ(result.out, report(1));
        EXPECT_EQ(readFile("gone/prog.bas"),
                  block("WIDGET", "Widget.inc", "Lib2") + "w = WIDGET(1)\r\nDIM t as timer\r\nt.start\r\n");
    } else {
        EXPECT_EQ(result.out, banner() + settingsFailure(programFolderSeen(tool) + "\\Gone\\..\\Lib2") +
                                  crlfLines({"Added 1 vorrels to your Hotbasic application", " "}));
        EXPECT_EQ(readFile("gone/prog.bas"), timer + "w = widget(1)\r\nDIM t AS TIMER\r\nt.Start\r\n");
    }
}

TEST_F(BadInput, ASettingsFileThatIsAFolderIsNoSettingsFile) {
    expectCase("settings folder",
               with(standardLibrary(), {{"app/VorrelSettings.ini", "", true},
                                        {"app/VorrelSettings.ini/Lib", "", true},
                                        {"app/VorrelSettings.ini/Lib/Other.inc", ""},
                                        {"prog.bas", "w = widget(1)\r\nz = other(1)\r\n"}}),
               {"prog.bas"}, "prog.bas", {widget + "w = WIDGET(1)\r\nz = other(1)\r\n", report(1)});
}

// ---- the argument ----------------------------------------------------------------

TEST_F(BadInput, AnArgumentThatIsAFolder) {
    for (const std::string argument : {".", "src", "src/", "./src", "src/inner/.."}) {
        expectCase(
            argument,
            with(standardLibrary(), {{"src", "", true}, {"src/inner", "", true}, {"src/prog.bas", "w = widget(1)"}}),
            {argument}, "src/prog.bas",
            {"w = widget(1)", banner() + crlfLines({"Source file is a folder " + argument}), 1});
    }
}

// Only a regular file has an end to read to: a named pipe would make the
// tool wait for a writer forever, and a device may never end. Anything that
// is neither a file nor a folder reads as unreadable: a source is reported,
// a module gives no members, a settings file names no folder.
TEST_F(BadInput, NamedPipesAndDevicesAreNotRead) {
    RunOptions bounded;
    bounded.timeoutSeconds = 20;
    if (testingWindowsBuild()) {
        // NUL is the Windows device that reads as empty.
        expectCase("NUL", standardLibrary(), {"NUL"}, "app/inc/Vorrel/Widget.inc",
                   {standardLibrary()[0].bytes, banner() + crlfLines({"Source file cannot be read NUL"}), 1, false},
                   bounded);
        GTEST_SKIP() << "a Windows folder cannot hold a named pipe, and wine's shared server opens files itself, "
                        "so opening one could block it for every test; the Linux build checks those";
    }
    for (const char* device : {"/dev/null", "/dev/zero"}) {
        expectCase(
            device, standardLibrary(), {device}, "app/inc/Vorrel/Widget.inc",
            {standardLibrary()[0].bytes, banner() + crlfLines({"Source file cannot be read "s + device}), 1, false},
            bounded);
    }
    const std::string source = "w = widget(1)\r\nDIM t as timer\r\nt.start\r\n";
    struct Pipe {
        std::string label, path;
        Expectation expected;
    };
    const fs::path base = root / "pipes";
    const std::vector<Pipe> pipes = {
        {"the source", "src.bas", {"", banner() + crlfLines({"Source file cannot be read src.bas"}), 1}},
        {"an object module",
         "app/inc/Vorrel/O_Timer.inc",
         {widget + timer + "w = WIDGET(1)\r\nDIM t AS TIMER\r\nt.start\r\n", report(2)}},
    };
    for (const Pipe& p : pipes) {
        SCOPED_TRACE(p.label);
        const fs::path tool = stage("pipes", with(standardLibrary(), {{"prog.bas", source}}), false);
        fs::remove(base / p.path);
        ASSERT_EQ(::mkfifo((base / p.path).c_str(), 0644), 0);
        const std::vector<std::string> before = tree();
        bounded.cwd = "pipes";
        const std::string argument = p.path == "src.bas" ? p.path : "prog.bas";
        const Result result = runWith(tool, {argument}, bounded);
        EXPECT_EQ(result.out, p.expected.out);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exitCode, p.expected.exitCode);
        EXPECT_EQ(readFile("pipes/prog.bas"), p.path == "src.bas" ? source : *p.expected.bytes);
        EXPECT_EQ(tree(), before);
        fs::remove_all(base);
    }
    // A settings file that is a named pipe names no folder: the search goes on.
    const fs::path tool = stage("pipes", with(standardLibrary(), {{"prog.bas", "w = widget(1)\r\n"}}), false);
    ASSERT_EQ(::mkfifo((base / "app/VorrelSettings.ini").c_str(), 0644), 0);
    bounded.cwd = "pipes";
    const Result result = runWith(tool, {"prog.bas"}, bounded);
    EXPECT_EQ(result.out, banner() + settingsFailure(programFolderSeen(tool) + "\\") +
                              crlfLines({"Added 1 vorrels to your Hotbasic application", " "}));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(readFile("pipes/prog.bas"), widget + "w = WIDGET(1)\r\n");
}

TEST_F(BadInput, PathsWithBlanks) {
    const std::string source = "w = widget(1)\r\n";
    const Expectation done = {widget + "w = WIDGET(1)\r\n", report(1)};
    for (const std::string path : {"my folder/my prog.bas", " lead.bas", "two  blanks.bas", "a b/c d/e f.bas"}) {
        expectCase(path, with(standardLibrary(), {{path, source}}), {path}, path, done);
    }
    // The program itself in a folder with blanks, its library beside it.
    const fs::path tool = installTool("spaced/my app");
    for (const Entry& entry : standardLibrary()) writeFile("spaced/my app/" + entry.path.substr(4), entry.bytes);
    writeFile("spaced/my prog.bas", source);
    const std::vector<std::string> before = tree();
    RunOptions options;
    options.cwd = "spaced";
    const Result result = runWith(tool, {"my prog.bas"}, options);
    EXPECT_EQ(result.out, report(1));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(tree(), before);
    EXPECT_EQ(readFile("spaced/my prog.bas"), widget + "w = WIDGET(1)\r\n");
}

}  // namespace
}  // namespace e2e
