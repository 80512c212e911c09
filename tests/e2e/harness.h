// Runs the built program (VORREL_PROGRAM, under wine when VORREL_WINE names
// it) as a child process in a fresh temporary folder per test, and hands
// back its console bytes and exit code and every file it left.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace e2e {

namespace fs = std::filesystem;

/// True when the program under test is a Windows build run through wine.
bool underWine();

/// The lines, each followed by CR LF.
std::string lines(const std::vector<std::string>& text);

/// The bytes, or for more than 200 of them their count and hash, as snapshot gives them.
std::string digest(const std::string& bytes);

/// What one run printed and returned.
struct Result {
    std::string out, err;
    int code = -1;
};

/// How to run the program beyond its arguments.
struct Options {
    fs::path cwd;                        // below the test's folder
    std::uint64_t memory = 0;            // the child's address-space limit in bytes; 0 for none
    uid_t user = 0;                      // run as this user and group (the test must be root); 0 as the test's own
    std::vector<gid_t> groups;           // the supplementary groups of that user
    std::function<void(pid_t)> during;   // called once the child has started
};

/// A fresh temporary folder per test holding the program in app/, kept when the test fails.
class ToolTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    /// Runs the program with args as the options say.
    Result run(const std::vector<std::string>& args, const Options& options = {}) const;

    /// Writes bytes to root/relative, making its folders; a path ending in "/" makes a folder.
    void write(const std::string& relative, const std::string& bytes = "") const;

    /// Every path below the root: a file's digest (none for the program), "/" for a folder, "-> target" for a
    /// link; natively also "path mode": its mode, owner and group.
    std::map<std::string, std::string> snapshot() const;

    /// The program folder as the program prints it: with backslashes on drive Z: under wine.
    std::string programFolder() const;

    fs::path root, tool;
};

}  // namespace e2e
