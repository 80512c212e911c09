// Runs the built program as a child process in fresh temporary folders and
// hands back its console bytes and exit code. The program under test comes
// from VORREL_PROGRAM; VORREL_WINE names wine when it is a Windows build.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace e2e {

namespace fs = std::filesystem;

/// What one run of the program printed and returned.
struct Result {
    std::string out;
    std::string err;
    int exitCode = -1;
};

/// The lines, each followed by CR LF.
std::string crlfLines(std::initializer_list<std::string_view> lines);

/// The banner line that opens every run, with its CR LF.
std::string banner();

/// True when the program under test is a Windows build run through wine.
bool testingWindowsBuild();

/// File name of the program under test ("vorrel" or "vorrel.exe").
std::string programFileName();

/// The program folder that the tool sees when started by the absolute path
/// tool: natively its folder and "/", under wine its DOS form on drive Z:
/// with backslashes ("Z:\tmp\x\app\"), as wine hands it over.
std::string programFolderSeen(const fs::path& tool);

/// A fresh temporary folder per test, left behind when the test fails.
class ToolTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    /// Copies the program under test into folder (made if needed); returns its path.
    fs::path installTool(const fs::path& folder) const;

    /// Runs tool with args, in folder cwd (the test's root when empty). With
    /// argv0 set, a native program sees that as its name and is looked up on
    /// PATH when it holds no slash, with the tool's folder added to PATH.
    Result run(const fs::path& tool, const std::vector<std::string>& args, const fs::path& cwd = {},
               const std::string& argv0 = {}) const;

    /// Writes bytes to the file at root/relative, making its folders.
    void writeFile(const fs::path& relative, std::string_view bytes) const;

    /// The bytes of the file at root/relative.
    std::string readFile(const fs::path& relative) const;

    /// Every path below the root, relative and sorted, folders ending in "/".
    std::vector<std::string> tree() const;

    fs::path root;
};

}  // namespace e2e
