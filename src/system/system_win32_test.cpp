// What only the Win32 back end has to get right: sharing with programs that
// hold a file open, file stamps, links, either slash in the program's path,
// and a command line whose characters the ANSI code page lacks.
#include "system/system.h"
#include "system/folder_test.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>
#include <windows.h>

namespace vorrel {
namespace {

namespace fs = std::filesystem;

// Started again by CommandLineTest with VORREL_TOKENS_TO set, this test
// program writes the tokens of its own command line to that file, each ended
// by a zero byte, and ends before any test runs.
[[maybe_unused]] const bool tokensWritten = [] {
    wchar_t file[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"VORREL_TOKENS_TO", file, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    std::string bytes;
    for (const std::string& token : commandLineTokens(0, nullptr)) bytes += token + '\0';
    std::ofstream(fs::path(file), std::ios::binary) << bytes;
    ExitProcess(0);
}();

class Win32Test : public FolderTest {
protected:
    FileStamp stamp(const std::string& name) const {
        std::string text;
        FileStamp result;
        EXPECT_EQ(loadFile(path(name), text, &result), LoadStatus::loaded) << name;
        return result;
    }

    FILETIME writeTime(const std::string& name) const {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        EXPECT_TRUE(GetFileAttributesExA(path(name).c_str(), GetFileExInfoStandard, &data)) << name;
        return data.ftLastWriteTime;
    }

    void setWriteTime(const std::string& name, FILETIME time) const {
        const HANDLE file = CreateFileA(path(name).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << name;
        EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &time));
        CloseHandle(file);
    }

    // Puts a new file with the given bytes and write time in place of name,
    // as an editor that saves through a file of its own does.
    void putAnotherInPlace(const std::string& name, const std::string& bytes, FILETIME time) const {
        write("other.tmp", bytes);
        setWriteTime("other.tmp", time);
        ASSERT_TRUE(MoveFileExA(path("other.tmp").c_str(), path(name).c_str(), MOVEFILE_REPLACE_EXISTING));
    }

    // Makes link name a symbolic link to target, or says why it cannot.
    bool makeLink(const std::string& name, const std::string& target) const {
        CreateSymbolicLinkA(path(name).c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
        const DWORD attributes = GetFileAttributesA(path(name).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    }

};

// Editors and build tools keep files open for writing while sharing them; a
// module that could not be read would lose its members' letter case.
TEST_F(Win32Test, LoadReadsAFileAnotherProgramHoldsOpenForWriting) {
    write("Widget.inc", "Sub Widget_Draw");
    for (const DWORD sharing : {DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE},
                                DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE}}) {
        const HANDLE writer = CreateFileA(path("Widget.inc").c_str(), GENERIC_READ | GENERIC_WRITE, sharing, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(writer, INVALID_HANDLE_VALUE);
        std::string text;
        FileStamp stamp;
        EXPECT_EQ(loadFile(path("Widget.inc"), text, &stamp), LoadStatus::loaded) << sharing;
        EXPECT_EQ(text, "Sub Widget_Draw");
        EXPECT_NE(stamp, FileStamp());
        CloseHandle(writer);
    }
}

// The file, its size and its write time each tell on their own that the file
// is not the one read; the same file in the same state stamps the same.
TEST_F(Win32Test, StampTellsEveryChangeApart) {
    write("source.bas", "0123456789");
    const FileStamp first = stamp("source.bas");
    EXPECT_EQ(stamp("source.bas"), first);
    const FILETIME writtenAt = writeTime("source.bas");

    FILETIME later = writtenAt;
    later.dwHighDateTime += 1;
    setWriteTime("source.bas", later);
    EXPECT_NE(stamp("source.bas"), first) << "written later";
    setWriteTime("source.bas", writtenAt);
    EXPECT_EQ(stamp("source.bas"), first) << "the same file in the same state";

    write("source.bas", "01234");
    setWriteTime("source.bas", writtenAt);
    EXPECT_NE(stamp("source.bas"), first) << "shorter";

    putAnotherInPlace("source.bas", "0123456789", writtenAt);
    EXPECT_NE(stamp("source.bas"), first) << "another file with the same bytes and write time";

    std::string text = "stale";
    FileStamp none;
    none.size = 1;
    EXPECT_EQ(loadFile(path("missing.bas"), text, &none), LoadStatus::missing);
    EXPECT_EQ(none, FileStamp());
}

// Whatever another program did to the file since it was read wins over the
// save, which leaves the file as that program left it and no temporary file.
TEST_F(Win32Test, SaveReplacesOnlyTheFileAsItWasRead) {
    write("source.bas", "old");
    FileStamp readAs = stamp("source.bas");
    EXPECT_EQ(saveFile(path("source.bas"), {"mine"}, &readAs), SaveStatus::saved);
    EXPECT_EQ(read("source.bas"), "mine");

    readAs = stamp("source.bas");
    write("source.bas", "theirs, longer");
    EXPECT_EQ(saveFile(path("source.bas"), {"mine again"}, &readAs), SaveStatus::changed);
    EXPECT_EQ(read("source.bas"), "theirs, longer");
    EXPECT_EQ(entries(), std::vector<std::string>{"source.bas"});

    readAs = stamp("source.bas");
    putAnotherInPlace("source.bas", "theirs, longer", writeTime("source.bas"));
    EXPECT_EQ(saveFile(path("source.bas"), {"mine again"}, &readAs), SaveStatus::changed);
    EXPECT_EQ(read("source.bas"), "theirs, longer");
    EXPECT_EQ(entries(), std::vector<std::string>{"source.bas"});

    readAs = stamp("source.bas");
    ASSERT_TRUE(DeleteFileA(path("source.bas").c_str()));
    EXPECT_EQ(saveFile(path("source.bas"), {"mine again"}, &readAs), SaveStatus::vanished);
    EXPECT_EQ(entries(), std::vector<std::string>{});
}

// The source is most often named relative to the current folder; the
// temporary file then goes beside it and replaces it like any other.
TEST_F(Win32Test, SaveTakesAPathInTheCurrentFolder) {
    write("source.bas", "old");
    char before[MAX_PATH];
    ASSERT_NE(GetCurrentDirectoryA(MAX_PATH, before), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(folder_.string().c_str()));
    const SaveStatus bare = saveFile("source.bas", {"new"});
    const SaveStatus dotted = saveFile(".\\source.bas", {"newer"});
    SetCurrentDirectoryA(before);
    EXPECT_EQ(bare, SaveStatus::saved);
    EXPECT_EQ(dotted, SaveStatus::saved);
    EXPECT_EQ(read("source.bas"), "newer");
    EXPECT_EQ(entries(), std::vector<std::string>{"source.bas"});
}

// A save through a link gives its target the new text and keeps the link;
// a link that leads nowhere is neither replaced by a plain file nor followed
// to make its target again.
TEST_F(Win32Test, SaveGoesThroughLinksOrNowhere) {
    write("target.bas", "old");
    if (!makeLink("link.bas", "target.bas")) GTEST_SKIP() << "no symbolic links here for this user";
    FileStamp readAs;
    std::string text;
    ASSERT_EQ(loadFile(path("link.bas"), text, &readAs), LoadStatus::loaded);
    EXPECT_EQ(readAs, stamp("target.bas"));
    EXPECT_EQ(saveFile(path("link.bas"), {"new"}, &readAs), SaveStatus::saved);
    EXPECT_EQ(read("target.bas"), "new");
    EXPECT_TRUE(fs::is_symlink(folder_ / "link.bas"));

    ASSERT_TRUE(makeLink("dangling.bas", "nothing.bas"));
    EXPECT_EQ(saveFile(path("dangling.bas"), {"new"}), SaveStatus::vanished);
    EXPECT_TRUE(fs::is_symlink(folder_ / "dangling.bas"));
    EXPECT_EQ(entries(), (std::vector<std::string>{"dangling.bas", "link.bas", "target.bas"}));
}

// Git Bash and editors start the program as C:/tools/vorrel.exe.
TEST(ProgramFolderTest, EitherSlashEndsTheFolder) {
    EXPECT_EQ(programFolder({"C:/tools/vorrel.exe", "x.bas"}), "C:/tools/");
    EXPECT_EQ(programFolder({"\"C:\\tools/bin\\vorrel.exe"}), "C:\\tools/bin\\");
    EXPECT_EQ(programFolder({"C:\\tools\\bin/vorrel.exe"}), "C:\\tools\\bin/");
    EXPECT_EQ(programFolder({"vorrel"}), "");
}

// The tokens this test program reads from its own command line when started
// again with the given arguments after its name.
std::vector<std::string> tokensGiven(const std::wstring& arguments, const fs::path& out) {
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    std::wstring line = L"\"" + std::wstring(self) + L"\" " + arguments;
    SetEnvironmentVariableW(L"VORREL_TOKENS_TO", out.wstring().c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const BOOL started =
        CreateProcessW(self, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableW(L"VORREL_TOKENS_TO", nullptr);
    if (!started) return {};
    WaitForSingleObject(process.hProcess, 60000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::ifstream in(out, std::ios::binary);
    std::vector<std::string> tokens;
    for (std::string token; std::getline(in, token, '\0');) tokens.push_back(token);
    return tokens;
}

// "Zł.bas" must not be read as its look-alike "Zl.bas", which the run would
// then rewrite; the other tokens, é included, come through as they are.
TEST_F(Win32Test, CommandLineNeverNamesALookAlikeFile) {
    if (GetACP() != 1252) GTEST_SKIP() << "the expected bytes are those of the Western code page 1252";
    write("Zl.bas", "keep");
    const std::vector<std::string> tokens = tokensGiven(
        L"\"" + folder_.wstring() + L"\\Z\u0142.bas\" \"caf\u00e9 x.bas\" Zl.bas", folder_ / "tokens.out");
    ASSERT_EQ(tokens.size(), 4u);
    EXPECT_EQ(tokens[1], path("Z?.bas"));
    EXPECT_EQ(tokens[2], "caf\xe9 x.bas");
    EXPECT_EQ(tokens[3], "Zl.bas");
    std::string text;
    EXPECT_EQ(loadFile(tokens[1], text), LoadStatus::missing);
    EXPECT_NE(saveFile(tokens[1], {"changed"}), SaveStatus::saved);
    EXPECT_EQ(read("Zl.bas"), "keep");
}

}  // namespace
}  // namespace vorrel
