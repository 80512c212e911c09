// Runs the built program as a child process in fresh temporary folders and
// hands back its console bytes and exit code. The program under test comes
// from VORREL_PROGRAM; VORREL_WINE names wine when it is a Windows build.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
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

/// The reference build (VORREL_REFERENCE: the same tool with the step-by-step
/// scan), or an empty path when none is given.
fs::path referenceProgram();

/// True when the program under test is built with AddressSanitizer
/// (VORREL_SANITIZED is set), which cannot run under an address-space limit.
bool testingSanitizedBuild();

/// Everything about one run beyond the program and its arguments.
struct RunOptions {
    fs::path cwd;                          // the test's root when empty
    std::string argv0;                     // as for ToolTest::run
    std::uint64_t addressSpaceLimit = 0;   // RLIMIT_AS of the child in bytes; 0 for none
    std::uint64_t fileSizeLimit = 0;       // RLIMIT_FSIZE of the child in bytes; 0 for none
    bool outputClosed = false;             // standard output is a pipe whose reader is gone
    std::uint32_t user = 0;                // run as this user (the test must be root); 0 as the test's own
    std::uint32_t group = 0;               // with this group and
    std::vector<std::uint32_t> groups;     // these supplementary groups, when user is set
    std::vector<std::string> environment;  // "NAME=value" entries set for the child
    bool native = false;                   // run the program directly, never under wine
    int timeoutSeconds = 120;              // the child is killed after this long
    /// Called in the test process once the child has started, with its
    /// process id; the console output is collected after it returns, so the
    /// child must not write more than a pipe holds (64 KiB) before then.
    std::function<void(pid_t)> whileRunning;
};

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

    /// Runs tool with args as the options say.
    Result runWith(const fs::path& tool, const std::vector<std::string>& args, const RunOptions& options) const;
    /// One run, as runWith makes it.
    Result runOnce(const fs::path& tool, const std::vector<std::string>& args, const RunOptions& options) const;

    /// Copies the reference build into folder (made if needed) under the file
    /// name of the program under test; returns its path, or an empty path
    /// when there is no reference build.
    fs::path installReference(const fs::path& folder) const;

    /// Writes bytes to the file at root/relative, making its folders.
    void writeFile(const fs::path& relative, std::string_view bytes) const;

    /// The bytes of the file at root/relative.
    std::string readFile(const fs::path& relative) const;

    /// Every path below the root, relative and sorted, folders ending in "/".
    std::vector<std::string> tree() const;

    fs::path root;
};

}  // namespace e2e
