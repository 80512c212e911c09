// Files on disk through the back end the build picked: loads, all-or-nothing
// saves and their refusals, the stamp that tells another program's change,
// and what only the Win32 back end must get right.
#include "system/system.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <tuple>

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

namespace vorrel {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class Files : public ::testing::Test {
protected:
    Files() { fs::create_directories(folder / "sub"); }
    ~Files() override {
        if (!HasFailure()) fs::remove_all(folder);
    }
    std::string path(const std::string& name) const { return (folder / name).string(); }
    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(folder / name, std::ios::binary) << bytes;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(folder / name, std::ios::binary);
        return fs::is_regular_file(folder / name) ? std::string(std::istreambuf_iterator<char>(in), {}) : "";
    }
    std::size_t count() const { return std::distance(fs::directory_iterator(folder), fs::directory_iterator()); }
    const fs::path folder = fs::temp_directory_path() / ("vorrel-files-" + std::to_string(std::random_device()()));
};

TEST_F(Files, LoadsReadEveryByteAndCreateNothing) {
    const std::string bytes = "line\r\n\0\xff\x80 end"s;
    write("all.bas", bytes);
    write("sub/inner.bas", "x");
    write("empty.bas", "");
    const std::vector<std::tuple<std::string, LoadStatus, std::string>> table = {
        {path("all.bas"), LoadStatus::loaded, bytes},
        {folder.string() + "\\\\sub\\inner.bas", LoadStatus::loaded, "x"},
        {path("empty.bas"), LoadStatus::loaded, ""},
        {path("no") + "\\x.bas", LoadStatus::missing, ""},
        {path("sub"), LoadStatus::folder, ""}};
    for (const auto& [name, status, text] : table) {
        std::string loaded = "stale";
        EXPECT_EQ(loadFile(name, loaded), status) << name;
        EXPECT_EQ(loaded, text) << name;
    }
    EXPECT_EQ(count(), 3u);
    EXPECT_EQ(pathAttributes(path("sub")) & folderAttribute, folderAttribute);
    EXPECT_EQ(pathAttributes(path("sub") + "\\") | pathAttributes(path("missing")), 0u);
    EXPECT_NE(pathAttributes(path("all.bas")) & ~folderAttribute, 0u);
#ifdef _WIN32
    // Editors keep files open for writing, sharing them: a module read as
    // empty would lose its members' letter case.
    const HANDLE writer = CreateFileA(path("all.bas").c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    std::string text;
    FileStamp stamp;
    EXPECT_EQ(loadFile(path("all.bas"), text, &stamp), LoadStatus::loaded);
    EXPECT_EQ(text, bytes);
    EXPECT_NE(stamp, FileStamp());
    CloseHandle(writer);
#endif
}

TEST_F(Files, SavesReplaceTheWholeFileOrNothingAndNeverCreateOne) {
    write("prog.bas", "old content that is longer");
    // A failed system call gives its own text as the reason; vorrel's own checks give none.
    const std::vector<std::tuple<std::string, SaveStatus, std::string, bool>> table = {
        {"prog.bas", SaveStatus::saved, "new\r\n\0x"s, false},
        {"gone.bas", SaveStatus::vanished, "", true},
        {"no/gone.bas", SaveStatus::vanished, "", true},
        {"sub", SaveStatus::notAFile, "", false}};
    for (const auto& [name, status, after, reason] : table) {
        EXPECT_EQ(saveFile(path(name), {"new", "\r\n", "\0x"s}), status) << name;
        EXPECT_EQ(read(name), after) << name;
        EXPECT_EQ(lastSaveError().empty(), !reason) << name << ": " << lastSaveError();
    }
    EXPECT_EQ(count(), 2u);
}

// The size, the write time and the file itself each tell that the file is
// no longer as it was read; the save then leaves it as the other program did.
TEST_F(Files, ASaveReplacesOnlyTheFileAsItWasRead) {
    write("prog.bas", "old");
    const auto later = fs::last_write_time(folder / "prog.bas") + std::chrono::hours(1);
    const std::vector<std::function<void()>> changes = {
        [&] { write("prog.bas", "theirs"); }, [&] { fs::last_write_time(folder / "prog.bas", later); },
        [&] {
            write("other.bas", read("prog.bas"));
            fs::last_write_time(folder / "other.bas", fs::last_write_time(folder / "prog.bas"));
            fs::rename(folder / "other.bas", folder / "prog.bas");
        }};
    for (std::size_t i = 0; i < changes.size(); ++i) {
        std::string text;
        FileStamp readAs;
        EXPECT_EQ(loadFile(path("prog.bas"), text, &readAs), LoadStatus::loaded);
        EXPECT_EQ(saveFile(path("prog.bas"), {"mine"}, &readAs), SaveStatus::saved);  // nobody else wrote it
        EXPECT_EQ(loadFile(path("prog.bas"), text, &readAs), LoadStatus::loaded);
        changes[i]();
        const std::string theirs = read("prog.bas");
        EXPECT_EQ(saveFile(path("prog.bas"), {"mine again"}, &readAs), SaveStatus::changed) << i;
        EXPECT_EQ(read("prog.bas"), theirs) << i;
    }
    EXPECT_EQ(count(), 2u);
}

}  // namespace
}  // namespace vorrel
