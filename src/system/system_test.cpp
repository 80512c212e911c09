#include "system/system.h"
#include "system/folder_test.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <grp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vorrel {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class SystemTest : public FolderTest {};

TEST_F(SystemTest, PathAttributesTellFoldersFromFiles) {
    fs::create_directory(folder_ / "lib");
    write("file.bas", "x");
    EXPECT_NE(pathAttributes(path("lib")) & folderAttribute, 0u);
    EXPECT_EQ(pathAttributes(path("lib") + "\\"), 0u);
    EXPECT_EQ(pathAttributes(path("lib") + "/"), 0u);
    const std::uint32_t file = pathAttributes(path("file.bas"));
    EXPECT_EQ(file & folderAttribute, 0u);
    EXPECT_NE(file, 0u);
    EXPECT_EQ(pathAttributes(path("missing")), 0u);
    EXPECT_EQ(pathAttributes(""), 0u);
}

TEST_F(SystemTest, BackslashesSeparateFoldersEverywhere) {
    fs::create_directories(folder_ / "inc" / "Vorrel");
    write("inc/Vorrel/Widget.inc", "w");
    const std::string prefix = folder_.string() + "\\\\inc\\Vorrel";  // a doubled separator is one separator
    EXPECT_NE(pathAttributes(prefix) & folderAttribute, 0u);
    std::string text;
    EXPECT_EQ(loadFile(prefix + "\\Widget.inc", text), LoadStatus::loaded);
    EXPECT_EQ(text, "w");
}

TEST_F(SystemTest, FolderListingMatchesThePatternIgnoringCase) {
    write("b.inc", "");
    write("A.INC", "");
    write("c.incx", "");
    write("notes.txt", "");
    fs::create_directory(folder_ / "Old.inc");
    FileEnumeration listing;
    std::vector<std::string> names;
    for (std::string name = firstFile(listing, path("*.inc")); !name.empty(); name = nextFile(listing)) {
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    const std::vector<std::string> expected = {"A.INC", "Old.inc", "b.inc"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(nextFile(listing), "");
    EXPECT_EQ(firstFile(listing, path("*.none")), "");
    EXPECT_EQ(firstFile(listing, path("missing") + "\\*.inc"), "");
}

#ifndef _WIN32
TEST_F(SystemTest, FolderListingComesInNtfsOrder) {
    for (const char* name : {"b.inc", "O_Timer.inc", "a.inc", "Obj.inc", "_x.inc", "B.inc"}) write(name, "");
    FileEnumeration listing;
    std::vector<std::string> names;
    for (std::string name = firstFile(listing, path("*.inc")); !name.empty(); name = nextFile(listing)) {
        names.push_back(name);
    }
    const std::vector<std::string> expected = {"a.inc", "B.inc", "b.inc", "Obj.inc", "O_Timer.inc", "_x.inc"};
    EXPECT_EQ(names, expected);
}
#endif

TEST_F(SystemTest, LoadReadsEveryByteAndNeverCreates) {
    const std::string bytes = "line\r\n\0\xff\x80 end"s;
    write("source.bas", bytes);
    std::string text = "stale";
    EXPECT_EQ(loadFile(path("source.bas"), text), LoadStatus::loaded);
    EXPECT_EQ(text, bytes);

    text = "stale";
    EXPECT_EQ(loadFile(path("missing.bas"), text), LoadStatus::missing);
    EXPECT_EQ(text, "");
    EXPECT_FALSE(fs::exists(folder_ / "missing.bas"));
    EXPECT_EQ(loadFile(path("no-folder") + "\\x.bas", text), LoadStatus::missing);

    fs::create_directory(folder_ / "sub");
    EXPECT_EQ(loadFile(path("sub"), text), LoadStatus::folder);
    EXPECT_EQ(text, "");

    write("empty.bas", "");
    EXPECT_EQ(loadFile(path("empty.bas"), text), LoadStatus::loaded);
    EXPECT_EQ(text, "");
}

TEST_F(SystemTest, SaveReplacesTheWholeContentAndLeavesNothingElse) {
    write("source.bas", "old content that is longer");
    EXPECT_EQ(saveFile(path("source.bas"), {"new", "\r\n", "\0x"s}), SaveStatus::saved);
    EXPECT_EQ(read("source.bas"), "new\r\n\0x"s);
    EXPECT_EQ(entries(), std::vector<std::string>{"source.bas"});

    EXPECT_EQ(saveFile(path("source.bas"), {}), SaveStatus::saved);
    EXPECT_EQ(read("source.bas"), "");
}

// Files are moved a part at a time; pieces end inside, at and just past a part.
TEST_F(SystemTest, LargeFilesArriveWholeAfterASaveAndALoad) {
    std::string big(3 * (std::size_t(1) << 20) + 1, '\0');
    std::uint32_t state = 12345;
    for (char& c : big) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    const std::string_view all = big;
    const std::size_t mebibyte = std::size_t(1) << 20;
    write("source.bas", "old");
    ASSERT_EQ(saveFile(path("source.bas"), {all.substr(0, mebibyte - 1), all.substr(mebibyte - 1, 1),
                                            all.substr(mebibyte, mebibyte + 1), all.substr(2 * mebibyte + 1)}),
              SaveStatus::saved);
    std::string text;
    ASSERT_EQ(loadFile(path("source.bas"), text), LoadStatus::loaded);
    EXPECT_TRUE(text == big) << "loaded " << text.size() << " bytes of " << big.size();
}

TEST_F(SystemTest, SaveNeverCreatesAFile) {
    // The source may have gone since it was read: it is not made again.
    EXPECT_EQ(saveFile(path("gone.bas"), {"new"}), SaveStatus::vanished);
    EXPECT_EQ(saveFile(path("no-folder") + "/gone.bas", {"new"}), SaveStatus::vanished);
    EXPECT_EQ(entries(), std::vector<std::string>{});
}

TEST_F(SystemTest, SaveRefusesFoldersAndReadOnlyFiles) {
    fs::create_directory(folder_ / "sub");
    EXPECT_EQ(saveFile(path("sub"), {"x"}), SaveStatus::notAFile);
    EXPECT_TRUE(fs::is_directory(folder_ / "sub"));

    write("locked.bas", "keep");
#ifdef _WIN32
    ASSERT_TRUE(SetFileAttributesA(path("locked.bas").c_str(), FILE_ATTRIBUTE_READONLY));
#else
    fs::permissions(folder_ / "locked.bas", fs::perms::owner_read | fs::perms::group_read);
#endif
    EXPECT_EQ(saveFile(path("locked.bas"), {"changed"}), SaveStatus::readOnly);
    EXPECT_EQ(read("locked.bas"), "keep");
#ifdef _WIN32
    SetFileAttributesA(path("locked.bas").c_str(), FILE_ATTRIBUTE_NORMAL);
#endif
    EXPECT_EQ(entries(), (std::vector<std::string>{"locked.bas", "sub"}));
}

#ifndef _WIN32
TEST_F(SystemTest, SaveKeepsPermissionBitsAndFollowsLinks) {
    write("target.bas", "old");
    ASSERT_EQ(::chmod(path("target.bas").c_str(), 0640), 0);
    fs::create_directory(folder_ / "links");
    fs::create_symlink("../target.bas", folder_ / "links" / "link.bas");

    EXPECT_EQ(saveFile(path("links/link.bas"), {"new"}), SaveStatus::saved);
    EXPECT_TRUE(fs::is_symlink(folder_ / "links" / "link.bas"));
    EXPECT_EQ(read("target.bas"), "new");
    struct stat info;
    ASSERT_EQ(::stat(path("target.bas").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(entries(), (std::vector<std::string>{"links", "target.bas"}));
}

// In a folder of their own, a user could put aside any file by renaming over
// it; a file that is not theirs to write stays as it is, with its owner.
TEST_F(SystemTest, SaveRefusesAFileTheUserMayNotWrite) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to give the file and the folder to different users";
    const uid_t nobody = 65534;
    fs::create_directory(folder_ / "shared");
    ASSERT_EQ(::chown(path("shared").c_str(), nobody, nobody), 0);
    ASSERT_EQ(::chmod(folder_.c_str(), 0755), 0);
    write("shared/source.bas", "keep");
    ASSERT_EQ(::chmod(path("shared/source.bas").c_str(), 0644), 0);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0) ::_exit(100);
        ::_exit(static_cast<int>(saveFile(path("shared/source.bas"), {"changed"})));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_NE(WEXITSTATUS(status), 100) << "could not become user " << nobody;
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(SaveStatus::readOnly));
    EXPECT_EQ(read("shared/source.bas"), "keep");
    struct stat info;
    ASSERT_EQ(::stat(path("shared/source.bas").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 0u);
    EXPECT_EQ(fs::directory_iterator(folder_ / "shared")->path().filename(), "source.bas");
}

TEST_F(SystemTest, SaveInAFolderWithoutRoomForATemporaryFileKeepsTheFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "running as root, which may create files in any folder";
    fs::create_directory(folder_ / "closed");
    std::ofstream(folder_ / "closed" / "source.bas", std::ios::binary) << "keep";
    fs::permissions(folder_ / "closed", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(saveFile(path("closed/source.bas"), {"changed"}), SaveStatus::cannotCreateTemporary);
    EXPECT_EQ(read("closed/source.bas"), "keep");
}
#endif

TEST_F(SystemTest, PauseWaitsAboutAsLongAsAsked) {
    const auto start = std::chrono::steady_clock::now();
    pauseSeconds(0.1);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(95));
    EXPECT_LT(waited, std::chrono::seconds(5));
}

#ifdef __linux__
// The flags the kernel keeps for the mapping that holds address, from
// /proc/self/smaps; empty when it is not found.
std::string mappingFlags(const void* address) {
    std::ifstream smaps("/proc/self/smaps");
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        unsigned long long from = 0, to = 0;
        if (std::sscanf(line.c_str(), "%llx-%llx ", &from, &to) == 2 && line.find(':') > line.find(' ')) {
            inside = from <= at && at < to;
        } else if (inside && line.rfind("VmFlags:", 0) == 0) {
            return line.substr(8) + " ";
        }
    }
    return "";
}

TEST(LargeBlockTest, AdviceReachesTheWholePagesInsideTheBlockAndKeepsItsBytes) {
    if (!fs::exists("/sys/kernel/mm/transparent_hugepage")) GTEST_SKIP() << "this kernel has no large pages";
    const std::size_t size = std::size_t{32} << 20;
    // A mapping of its own, so its flags are the block's alone; the block
    // starts and ends off the page bounds, as a heap block does.
    void* mapping = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mapping, MAP_FAILED);
    char* bytes = static_cast<char*>(mapping);
    for (std::size_t k = 0; k < size; k += 4093) bytes[k] = static_cast<char>(k % 251);
    EXPECT_EQ(mappingFlags(bytes + size / 2).find(" hg "), std::string::npos);

    adviseLargeBlock(bytes + 16, size - 32);
    EXPECT_NE(mappingFlags(bytes + size / 2).find(" hg "), std::string::npos);
    // The partial pages at both ends stay as they were, and every byte is
    // kept (some advice, such as MADV_DONTNEED, would drop them).
    EXPECT_EQ(mappingFlags(bytes).find(" hg "), std::string::npos);
    EXPECT_EQ(mappingFlags(bytes + size - 1).find(" hg "), std::string::npos);
    for (std::size_t k = 0; k < size; k += 4093) ASSERT_EQ(bytes[k], static_cast<char>(k % 251)) << k;
    ::munmap(mapping, size);
}
#endif

}  // namespace
}  // namespace vorrel
