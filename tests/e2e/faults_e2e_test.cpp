// Faults of the machine around a run: a read-only source, a folder where no
// file can be created, a full disk during either save, a source reached
// through a symbolic link, permission bits and owner, memory running out, and
// a source removed or replaced between the two saves. Whatever happens, the
// source holds either all of its old bytes or all of its new ones, no
// temporary file stays behind, and the console and exit code say what
// happened.
#include <fcntl.h>
#include <linux/fs.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "harness.h"

namespace e2e {
namespace {

std::string block(const std::string& symbol, const std::string& file) {
    return crlfLines({"$IFNDEF " + symbol, "$DEFINE " + symbol, "$include \"Vorrel\\" + file + "\"", "$ENDIF"});
}

const std::string widget = block("WIDGET", "Widget.inc");
const std::string timer = block("TIMER", "O_Timer.inc");

// A source whose run changes the case (so both saves happen), the text of
// the first save and that of the second.
const std::string source = "w = widget(1)\r\nDIM t as timer\r\nt.start\r\n";
const std::string recased = "w = WIDGET(1)\r\nDIM t AS TIMER\r\nt.Start\r\n";
const std::string finished = widget + timer + recased;
// A source that only needs its blocks: the first save does not happen.
const std::string blocksOnly = "w = WIDGET(1)\r\n";

std::string report(int count) {
    return banner() + crlfLines({"Added " + std::to_string(count) + " vorrels to your Hotbasic application", " "});
}

std::string saveTrouble(const std::string& path, const std::string& reason) {
    return banner() + crlfLines({"Could not save " + path + ": " + reason});
}

std::string errorText(const std::string& what) { return what + ": " + std::strerror(errno); }

// Mounts go below the test's folder. Natively the test process moves to a
// mount namespace of its own first, so nothing it mounts can outlive it.
// Under wine the wine server opens and renames the files, and it lives in
// the namespace the tests were started in, so the mounts go there.
std::string mountTrouble() {
    static const std::string trouble = []() -> std::string {
        if (::geteuid() != 0) return "mounting a file system needs root";
        if (testingWindowsBuild()) return "";
        if (::unshare(CLONE_NEWNS) != 0) return errorText("unshare(CLONE_NEWNS)");
        if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return errorText("making / private");
        return "";
    }();
    return trouble;
}

// A file system mounted at a folder for as long as the object lives.
class Mount {
public:
    Mount(const fs::path& at, const char* type, unsigned long flags, const std::string& data,
          const char* source = nullptr)
        : at_(at) {
        fs::create_directories(at);
        trouble_ = mountTrouble();
        if (!trouble_.empty()) return;
        if (::mount(source ? source : type, at.c_str(), type, flags, data.c_str()) != 0) {
            trouble_ = errorText(std::string("mounting ") + (type ? type : "a bind mount") + " at " + at.string());
            return;
        }
        mounted_ = true;
    }
    // Makes a bind mount read-only.
    void remountReadOnly() {
        if (!mounted_) return;
        if (::mount(nullptr, at_.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
            trouble_ = errorText("remounting read-only");
        }
    }
    ~Mount() {
        if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
    }
    const std::string& trouble() const { return trouble_; }

private:
    fs::path at_;
    bool mounted_ = false;
    std::string trouble_;
};

// The immutable (chattr +i) or append-only (chattr +a) attribute of a folder
// or file for as long as the object lives: nothing, not even root, can
// create, remove or rename in such a folder, nor replace such a file.
class Immutable {
public:
    explicit Immutable(const fs::path& folder, int attribute = FS_IMMUTABLE_FL)
        : folder_(folder), attribute_(attribute) {
        if (!change(true)) return;
        set_ = true;
    }
    ~Immutable() {
        if (set_) change(false);
    }
    const std::string& trouble() const { return trouble_; }

private:
    bool change(bool on) {
        const int fd = ::open(folder_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            trouble_ = errorText("opening " + folder_.string());
            return false;
        }
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (done) {
            flags = on ? (flags | attribute_) : (flags & ~attribute_);
            done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        if (!done) trouble_ = errorText("setting the immutable attribute of " + folder_.string());
        ::close(fd);
        return done;
    }

    fs::path folder_;
    int attribute_;
    bool set_ = false;
    std::string trouble_;
};

// A source of exactly size bytes that needs both saves: a use to re-case,
// then comment lines.
std::string sourceOfSize(std::size_t size) {
    std::string text = "w = widget(1)\r\n";
    while (size - text.size() > 83) text += "' " + std::string(76, '-') + "\r\n";
    text += "'" + std::string(size - text.size() - 3, '.') + "\r\n";
    return text;
}

std::string recasedOfSize(std::size_t size) {
    std::string text = sourceOfSize(size);
    text.replace(4, 6, "WIDGET");
    return text;
}

class Faults : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        tool = installTool("app");
        writeFile("app/inc/Vorrel/Widget.inc", "SUB Widget(n AS INTEGER)\r\nEND SUB\r\n");
        writeFile("app/inc/Vorrel/O_Timer.inc", "X;Start;Interval\r\n");
    }

    // Runs the tool on path and checks its console, exit code, the bytes the
    // file is left with and that no file appeared or vanished.
    void expectRun(const std::string& path, const std::string& out, int exitCode, const std::string& bytes,
                   const RunOptions& options = {}) const {
        const std::vector<std::string> before = tree();
        const Result result = runWith(tool, {path}, options);
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exitCode, exitCode);
        EXPECT_EQ(readFile(path), bytes);
        EXPECT_EQ(tree(), before);
    }

    fs::file_time_type ageFile(const fs::path& relative) const {
        fs::last_write_time(root / relative, fs::file_time_type::clock::now() - std::chrono::hours(24 * 30));
        return fs::last_write_time(root / relative);
    }

    fs::path tool;
};

// ---- files and folders that cannot be written ------------------------------

TEST_F(Faults, AReadOnlySourceKeepsItsBytesAndTime) {
    const std::vector<std::pair<std::string, fs::perms>> table = {
        {source, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read},
        {blocksOnly, fs::perms::owner_read},
        {source, fs::perms::none},  // root can still read it
        {source, fs::perms::owner_exec | fs::perms::owner_read},
    };
    for (const auto& [bytes, mode] : table) {
        SCOPED_TRACE(bytes + " mode " + std::to_string(static_cast<int>(mode)));
        if (::geteuid() != 0 && mode == fs::perms::none) {
            std::printf("mode 0000 skipped: only root can read such a file\n");
            continue;
        }
        writeFile("prog.bas", bytes);
        const auto old = ageFile("prog.bas");
        fs::permissions(root / "prog.bas", mode);
        expectRun("prog.bas", saveTrouble("prog.bas", "the file is read-only"), 1, bytes);
        EXPECT_EQ(fs::last_write_time(root / "prog.bas"), old);
        EXPECT_EQ(fs::status(root / "prog.bas").permissions(), mode);
        fs::remove(root / "prog.bas");
    }
}

TEST_F(Faults, AnImmutableFolderKeepsTheSourceAsItWas) {
    writeFile("locked/prog.bas", source);
    writeFile("locked2/prog.bas", blocksOnly);
    const auto old = ageFile("locked/prog.bas");
    Immutable first(root / "locked");
    if (!first.trouble().empty())
        GTEST_SKIP() << "cannot stage a folder without room for new files: " << first.trouble();
    Immutable second(root / "locked2");
    ASSERT_EQ(second.trouble(), "");
    const std::string reason = "cannot create a temporary file in its folder";
    // Fails at the first save, then (nothing to re-case) at the second.
    expectRun("locked/prog.bas", saveTrouble("locked/prog.bas", reason), 1, source);
    EXPECT_EQ(fs::last_write_time(root / "locked/prog.bas"), old);
    expectRun("locked2/prog.bas", saveTrouble("locked2/prog.bas", reason), 1, blocksOnly);
}

TEST_F(Faults, AReadOnlyMountKeepsTheSourceAsItWas) {
    writeFile("shelf/prog.bas", source);
    writeFile("shelf/other.bas", blocksOnly);
    Mount mount(root / "shelf", nullptr, MS_BIND, "", (root / "shelf").c_str());
    mount.remountReadOnly();
    if (!mount.trouble().empty()) GTEST_SKIP() << "cannot stage a read-only mount: " << mount.trouble();
    const std::string reason = "cannot create a temporary file in its folder";
    expectRun("shelf/prog.bas", saveTrouble("shelf/prog.bas", reason), 1, source);
    expectRun("shelf/other.bas", saveTrouble("shelf/other.bas", reason), 1, blocksOnly);
}

// The file itself cannot be replaced: the temporary file is written in full,
// cannot take the file's place, and is removed again.
TEST_F(Faults, ASourceFileThatCannotBeReplacedKeepsItsBytes) {
    for (const int attribute : {FS_IMMUTABLE_FL, FS_APPEND_FL}) {
        for (const std::string& bytes : {source, blocksOnly}) {
            SCOPED_TRACE(bytes + (attribute == FS_APPEND_FL ? " append-only" : " immutable"));
            writeFile("prog.bas", bytes);
            const auto old = ageFile("prog.bas");
            Immutable locked(root / "prog.bas", attribute);
            if (!locked.trouble().empty())
                GTEST_SKIP() << "cannot stage a file that cannot be replaced: " << locked.trouble();
            expectRun("prog.bas", saveTrouble("prog.bas", "cannot replace the file"), 1, bytes);
            EXPECT_EQ(fs::last_write_time(root / "prog.bas"), old);
        }
    }
}

// ---- a full disk -----------------------------------------------------------
// tmpfs counts whole 4 KiB pages and nothing for folders. The source takes
// 16 pages; the first save needs 16 more, the second 17 while the re-cased
// text still holds its 16.

constexpr std::size_t page = 4096;
constexpr std::size_t sourcePages = 16;

TEST_F(Faults, AFullDiskDuringTheFirstSaveKeepsTheOldBytes) {
    Mount disk(root / "disk", "tmpfs", MS_NOSUID | MS_NODEV, "size=" + std::to_string((2 * sourcePages - 1) * page));
    if (!disk.trouble().empty()) GTEST_SKIP() << "cannot stage a full disk: " << disk.trouble();
    const std::string bytes = sourceOfSize(sourcePages * page);
    writeFile("disk/prog.bas", bytes);
    ASSERT_EQ(readFile("disk/prog.bas"), bytes);
    expectRun("disk/prog.bas", saveTrouble("disk/prog.bas", "the disk is full"), 1, bytes);
}

TEST_F(Faults, AFullDiskDuringTheSecondSaveKeepsTheFirstSavesBytes) {
    Mount disk(root / "disk", "tmpfs", MS_NOSUID | MS_NODEV, "size=" + std::to_string(2 * sourcePages * page));
    if (!disk.trouble().empty()) GTEST_SKIP() << "cannot stage a full disk: " << disk.trouble();
    writeFile("disk/prog.bas", sourceOfSize(sourcePages * page));
    expectRun("disk/prog.bas", saveTrouble("disk/prog.bas", "the disk is full"), 1, recasedOfSize(sourcePages * page));
}

// With room for the data but no inode left, the temporary file itself cannot
// be created: root, the source and its folder take the three inodes there are.
TEST_F(Faults, NoInodeLeftForTheTemporaryFileKeepsTheOldBytes) {
    Mount disk(root / "disk", "tmpfs", MS_NOSUID | MS_NODEV, "size=1m,nr_inodes=3");
    if (!disk.trouble().empty()) GTEST_SKIP() << "cannot stage a file system without free inodes: " << disk.trouble();
    writeFile("disk/sub/prog.bas", source);
    ASSERT_EQ(readFile("disk/sub/prog.bas"), source);
    expectRun("disk/sub/prog.bas", saveTrouble("disk/sub/prog.bas", "the disk is full"), 1, source);
}

TEST_F(Faults, AFullDiskThatStillHoldsTheResultSavesIt) {
    // One page more than the second save needs: the runs above fail for want
    // of space, not for anything else about the mount.
    Mount disk(root / "disk", "tmpfs", MS_NOSUID | MS_NODEV, "size=" + std::to_string((2 * sourcePages + 1) * page));
    if (!disk.trouble().empty()) GTEST_SKIP() << "cannot stage a full disk: " << disk.trouble();
    writeFile("disk/prog.bas", sourceOfSize(sourcePages * page));
    expectRun("disk/prog.bas", report(1), 0, widget + recasedOfSize(sourcePages * page));
}

// ---- links, permission bits, owner -------------------------------------------

TEST_F(Faults, ASymbolicLinkStaysALinkAndItsTargetIsRewritten) {
    if (testingWindowsBuild()) {
        GTEST_SKIP() << "wine 8 does not show a Linux symbolic link to Windows programs as a reparse point, so "
                        "the Windows build cannot tell it from a file and replaces the link itself";
    }
    struct Link {
        std::string label, link, target;                         // the link's path, and the file it finally names
        std::vector<std::pair<std::string, std::string>> links;  // every link: path and its text
    };
    const std::vector<Link> table = {
        {"beside its target", "prog.bas", "real.bas", {{"prog.bas", "real.bas"}}},
        {"into another folder", "prog.bas", "elsewhere/real.bas", {{"prog.bas", "elsewhere/real.bas"}}},
        {"by its absolute path",
         "prog.bas",
         "elsewhere/real.bas",
         {{"prog.bas", (root / "elsewhere/real.bas").string()}}},
        {"through a chain of two links",
         "prog.bas",
         "elsewhere/real.bas",
         {{"prog.bas", "hop/next.bas"}, {"hop/next.bas", "../elsewhere/real.bas"}}},
    };
    for (const Link& l : table) {
        SCOPED_TRACE(l.label);
        writeFile(l.target, source);
        fs::permissions(root / l.target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        for (const auto& [path, text] : l.links) {
            fs::create_directories((root / path).parent_path());
            fs::create_symlink(text, root / path);
        }
        expectRun(l.link, report(2), 0, finished);
        EXPECT_EQ(readFile(l.target), finished);
        for (const auto& [path, text] : l.links) {
            EXPECT_TRUE(fs::is_symlink(fs::symlink_status(root / path))) << path;
            EXPECT_EQ(fs::read_symlink(root / path).string(), text) << path;
        }
        EXPECT_EQ(fs::status(root / l.target).permissions(),
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        for (const auto& [path, text] : l.links) fs::remove(root / path);
        fs::remove(root / l.target);
    }
}

TEST_F(Faults, ALinkIsSavedBesideItsTargetNotBesideItself) {
    if (testingWindowsBuild()) GTEST_SKIP() << "wine 8 does not show Linux symbolic links as reparse points";
    // The link's own folder takes no new file; its target's folder does.
    writeFile("open/real.bas", source);
    fs::create_directories(root / "locked");
    fs::create_symlink("../open/real.bas", root / "locked/prog.bas");
    Immutable locked(root / "locked");
    if (!locked.trouble().empty())
        GTEST_SKIP() << "cannot stage a folder without room for new files: " << locked.trouble();
    expectRun("locked/prog.bas", report(2), 0, finished);
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(root / "locked/prog.bas")));
}

// Neither run gets as far as replacing anything, so the Windows build is held
// to this too.
TEST_F(Faults, ALinkToNothingOrToAReadOnlyFileChangesNothing) {
    fs::create_symlink("missing.bas", root / "dangling.bas");
    const std::vector<std::string> before = tree();
    const Result result = run(tool, {"dangling.bas"});
    EXPECT_EQ(result.out, banner() + crlfLines({"Source file not found dangling.bas"}));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(tree(), before);  // the link's target is not created
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(root / "dangling.bas")));

    writeFile("real.bas", source);
    fs::permissions(root / "real.bas", fs::perms::owner_read);
    fs::create_symlink("real.bas", root / "prog.bas");
    expectRun("prog.bas", saveTrouble("prog.bas", "the file is read-only"), 1, source);
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(root / "prog.bas")));
}

TEST_F(Faults, PermissionBitsAndOwnerAreKeptThroughBothSaves) {
    if (testingWindowsBuild()) {
        GTEST_SKIP() << "Windows files have no POSIX permission bits or owner; wine gives the new file its "
                        "default mode, and only the read-only attribute carries over";
    }
    const bool root_ = ::geteuid() == 0;
    for (const mode_t mode : {0600, 0640, 0604, 0755, 0711, 0200, 02750, 04755, 01777}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        if (!root_ && (mode & S_IRUSR) == 0) {
            std::printf("mode %o skipped: only root can read a file without its read bit\n", mode);
            continue;
        }
        writeFile("prog.bas", source);
        const std::string path = (root / "prog.bas").string();
        if (root_) {
            ASSERT_EQ(::chown(path.c_str(), 4321, 8765), 0) << std::strerror(errno);
        }
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
        struct stat before;
        ASSERT_EQ(::stat(path.c_str(), &before), 0);
        expectRun("prog.bas", report(2), 0, finished);
        struct stat after;
        ASSERT_EQ(::stat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & 07777, mode);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_gid, before.st_gid);
        fs::remove(root / "prog.bas");
    }
}

// ---- other users, limits and closed pipes ----------------------------------------

// Runs as another user need root, and the test's folders must let that user in.
std::string otherUserTrouble() {
    if (testingWindowsBuild()) return "Windows files have no POSIX owner or group";
    if (::geteuid() != 0) return "running the tool as another user needs root";
    return "";
}

TEST_F(Faults, AFileSharedThroughItsGroupStaysSharedWhenAnotherMemberSavesIt) {
    if (!otherUserTrouble().empty()) GTEST_SKIP() << otherUserTrouble();
    constexpr std::uint32_t owner = 4321, member = 5555, team = 8765;
    fs::permissions(root, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    writeFile("shared/prog.bas", source);
    const std::string folder = (root / "shared").string(), path = (root / "shared/prog.bas").string();
    ASSERT_EQ(::chown(folder.c_str(), owner, team), 0) << std::strerror(errno);
    ASSERT_EQ(::chmod(folder.c_str(), 0775), 0);  // new files there take the maker's own group
    ASSERT_EQ(::chown(path.c_str(), owner, team), 0) << std::strerror(errno);
    ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
    RunOptions options;
    options.cwd = "shared";
    options.user = member;
    options.group = member;
    options.groups = {team};
    const Result result = runWith(tool, {"prog.bas"}, options);
    EXPECT_EQ(result.out, report(2));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(readFile("shared/prog.bas"), finished);
    struct stat after;
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    // Only root may give the file back to its owner; its group it keeps, so
    // the owner may still write it.
    EXPECT_EQ(after.st_uid, member);
    EXPECT_EQ(after.st_gid, team);
    EXPECT_EQ(after.st_mode & 07777, 0664u);
}

TEST_F(Faults, AFolderTheUserMayNotListIsStillReportedAsAFolder) {
    if (!otherUserTrouble().empty()) GTEST_SKIP() << otherUserTrouble();
    fs::permissions(root, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    fs::create_directory(root / "d.bas");
    fs::permissions(root / "d.bas", fs::perms::owner_write | fs::perms::owner_exec | fs::perms::group_exec |
                                        fs::perms::others_exec);
    RunOptions options;
    options.user = 5555;
    options.group = 5555;
    const Result result = runWith(tool, {"d.bas"}, options);
    EXPECT_EQ(result.out, banner() + crlfLines({"Source file is a folder d.bas"}));
    EXPECT_EQ(result.exitCode, 1);
}

TEST_F(Faults, AFileSizeLimitIsReportedAndLeavesNoTemporaryFile) {
    if (testingWindowsBuild()) GTEST_SKIP() << "wine's server writes the files, outside the tool's resource limits";
    std::string big = source;
    while (big.size() < (64u << 10)) big += "PRINT \"a line that stays as it is\"\r\n";
    writeFile("prog.bas", big);
    RunOptions options;
    options.fileSizeLimit = 32u << 10;
    expectRun("prog.bas", saveTrouble("prog.bas", "the file would be larger than this system allows"), 1, big, options);
}

// Nobody reads the console any more (a pager quit early, say): the run
// still completes, as it does when a console write fails on Windows.
TEST_F(Faults, AClosedConsolePipeDoesNotStopTheRun) {
    writeFile("prog.bas", source);
    RunOptions options;
    options.outputClosed = true;
    expectRun("prog.bas", "", 0, finished, options);
}

// ---- memory --------------------------------------------------------------------

TEST_F(Faults, RunningOutOfMemoryEndsTheRunWithExitCode3AndNoChange) {
    if (testingWindowsBuild()) {
        GTEST_SKIP() << "wine itself cannot start with less than about 1 GiB of address space (its virtual_init "
                        "fails), and the Windows build reports running out in a message box";
    }
    if (testingSanitizedBuild()) {
        GTEST_SKIP() << "AddressSanitizer reserves terabytes of shadow address space and cannot start under an "
                        "address-space limit";
    }
    constexpr std::uint64_t limit = 64u << 20;
    constexpr std::size_t tooBig = 96u << 20;  // more than the whole address space allowed
    RunOptions limited;
    limited.addressSpaceLimit = limit;
    const std::string outOfMemory = "Insufficient memory\r\n";
    const std::string big(tooBig, 'x');
    struct Stage {
        std::string label;
        std::string settings, module, bytes;  // VorrelSettings.ini (none when empty), O_Big.inc, prog.bas
    };
    const std::vector<Stage> table = {
        {"the source cannot be held", "", "", "w = widget(1)\r\n" + big},
        {"the settings entry cannot be held", "\\" + big, "", source},
        {"the member list of a declared object cannot be held", "", "X;" + big, "DIM b AS BIG\r\nb.x = widget(1)\r\n"},
    };
    for (const Stage& s : table) {
        SCOPED_TRACE(s.label);
        if (!s.settings.empty()) writeFile("app/VorrelSettings.ini", s.settings);
        if (!s.module.empty()) writeFile("app/inc/Vorrel/O_Big.inc", s.module);
        writeFile("prog.bas", s.bytes);
        const auto old = ageFile("prog.bas");
        const std::vector<std::string> before = tree();
        const Result result = runWith(tool, {"prog.bas"}, limited);
        EXPECT_EQ(result.out, banner());
        EXPECT_EQ(result.err, outOfMemory);
        EXPECT_EQ(result.exitCode, 3);
        EXPECT_TRUE(readFile("prog.bas") == s.bytes) << "the source changed";
        EXPECT_EQ(fs::last_write_time(root / "prog.bas"), old);
        EXPECT_EQ(tree(), before);
        fs::remove(root / "app/VorrelSettings.ini");
        fs::remove(root / "app/inc/Vorrel/O_Big.inc");
    }
    // A source well inside the limit completes: the size is what stopped the runs above.
    writeFile("prog.bas", "w = widget(1)\r\n" + std::string(1 << 20, 'x'));
    const Result unlimited = runWith(tool, {"prog.bas"}, limited);
    EXPECT_EQ(unlimited.out, report(1));
    EXPECT_EQ(unlimited.exitCode, 0);
}

// ---- the source changes between the saves --------------------------------------
// The tool saves the re-cased text, pauses 0.1 s, reads the file again and
// inserts the blocks. A watch on the folder sees the first save end; the test
// then stops the tool, changes the folder and lets the tool go on.

class BetweenSaves : public Faults {
protected:
    enum class Watched { firstSaveOver, missed, ended };

    // Runs the tool on case/prog.bas (holding source), calling change() while
    // the tool pauses after its first save. Tries again when the tool could
    // not be stopped within its pause.
    Result runChanging(const std::function<void()>& change) {
        for (int attempt = 0; attempt < 5; ++attempt) {
            fs::remove_all(root / "case");
            writeFile("case/prog.bas", source);
            const int watch = watchCase(IN_MOVED_TO | IN_OPEN | IN_CLOSE);
            Watched watched = Watched::ended;
            bool changed = false;
            RunOptions options;
            options.cwd = "case";
            options.whileRunning = [&](pid_t child) {
                watched = awaitFirstSave(watch, child);
                if (watched != Watched::firstSaveOver) return;
                stop(child);
                // Still the first save's bytes: the tool has not saved again.
                if (readFile("case/prog.bas") == recased) {
                    change();
                    changed = true;
                }
                ::kill(child, SIGCONT);
            };
            const Result result = runWith(tool, {"prog.bas"}, options);
            ::close(watch);
            if (changed) return result;
            if (watched == Watched::ended) {
                ADD_FAILURE() << "the first save was never seen: " << result.out << result.err;
                return result;
            }
        }
        ADD_FAILURE() << "the tool could not be stopped during its pause in five attempts";
        return {};
    }

    // A watch on the events of the folder root/case.
    int watchCase(std::uint32_t events) const {
        const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (watch < 0) throw std::runtime_error(errorText("inotify_init1"));
        if (::inotify_add_watch(watch, (root / "case").c_str(), events) < 0) {
            ::close(watch);
            throw std::runtime_error(errorText("inotify_add_watch"));
        }
        return watch;
    }

    struct WatchEvent {
        std::string name;
        std::uint32_t mask;
    };

    // The events of the folder watch that come within 20 ms; ended is set
    // once the child has exited (it stays a zombie for the test to collect).
    static std::vector<WatchEvent> pollEvents(int watch, pid_t child, bool& ended) {
        std::vector<WatchEvent> events;
        alignas(inotify_event) char buffer[4096];
        pollfd fd = {watch, POLLIN, 0};
        if (::poll(&fd, 1, 20) > 0) {
            const ssize_t got = ::read(watch, buffer, sizeof buffer);
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->len != 0) events.push_back({event->name, event->mask});
            }
        }
        siginfo_t info;
        info.si_pid = 0;
        ended = ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
        return events;
    }

    static std::chrono::steady_clock::time_point inAMinute() {
        return std::chrono::steady_clock::now() + std::chrono::seconds(60);
    }

    // Reads the folder's events until the first save is over: prog.bas
    // renamed into place and, under wine, whose ReplaceFileA closes its
    // handle on the new file after the rename, that handle closed too. An
    // open of prog.bas before then is the reload: the pause was missed.
    static Watched awaitFirstSave(int watch, pid_t child) {
        const bool awaitClose = testingWindowsBuild();
        bool renamed = false, ended = false;
        for (const auto deadline = inAMinute(); std::chrono::steady_clock::now() < deadline;) {
            for (const WatchEvent& event : pollEvents(watch, child, ended)) {
                if (event.name != "prog.bas") continue;
                if (!renamed) {
                    renamed = (event.mask & IN_MOVED_TO) != 0;
                    if (renamed && !awaitClose) return Watched::firstSaveOver;
                } else if (event.mask & IN_OPEN) {
                    return Watched::missed;
                } else if (event.mask & IN_CLOSE) {
                    return Watched::firstSaveOver;
                }
            }
            if (ended) return renamed ? Watched::missed : Watched::ended;
        }
        return Watched::ended;
    }

    // Reads the folder's events until a file whose name starts with prefix
    // is among them; false when the tool ended first.
    static bool awaitFile(int watch, pid_t child, const std::string& prefix) {
        bool ended = false;
        for (const auto deadline = inAMinute(); std::chrono::steady_clock::now() < deadline && !ended;) {
            for (const WatchEvent& event : pollEvents(watch, child, ended)) {
                if (event.name.compare(0, prefix.size(), prefix) == 0) return true;
            }
        }
        return false;
    }

    // Stops the child and waits until it has stopped.
    static void stop(pid_t child) {
        ::kill(child, SIGSTOP);
        siginfo_t info;
        ::waitid(P_PID, static_cast<id_t>(child), &info, WSTOPPED);
    }

    std::vector<std::string> listing(const fs::path& folder) const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(root / folder)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(BetweenSaves, ARemovedSourceIsReportedAndNotCreatedAgain) {
    const Result result = runChanging([&] { fs::remove(root / "case/prog.bas"); });
    EXPECT_EQ(result.out, banner() + crlfLines({"Source file not found prog.bas"}));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(listing("case"), std::vector<std::string>{});
}

TEST_F(BetweenSaves, AReplacedSourceGetsTheBlocksInsertedIntoItsNewText) {
    const std::string replacement = "$APPTYPE GUI\r\nPRINT \"new text\"\r\n";
    writeFile("stage/new.bas", replacement);
    const Result result = runChanging([&] { fs::rename(root / "stage/new.bas", root / "case/prog.bas"); });
    EXPECT_EQ(result.out, report(2));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(readFile("case/prog.bas"), "$APPTYPE GUI\r\n" + widget + timer + "PRINT \"new text\"\r\n");
    EXPECT_EQ(listing("case"), std::vector<std::string>{"prog.bas"});
}

TEST_F(BetweenSaves, ASourceReplacedByAFolderIsReported) {
    const Result result = runChanging([&] {
        fs::remove(root / "case/prog.bas");
        fs::create_directory(root / "case/prog.bas");
    });
    EXPECT_EQ(result.out, banner() + crlfLines({"Source file is a folder prog.bas"}));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(fs::is_directory(root / "case/prog.bas"));
    EXPECT_TRUE(fs::is_empty(root / "case/prog.bas"));
    EXPECT_EQ(listing("case"), std::vector<std::string>{"prog.bas"});
}

TEST_F(BetweenSaves, ASourceReplacedByAReadOnlyFileKeepsTheNewBytes) {
    const std::string replacement = "PRINT \"locked\"\r\n";
    writeFile("stage/new.bas", replacement);
    fs::permissions(root / "stage/new.bas", fs::perms::owner_read);
    const Result result = runChanging([&] { fs::rename(root / "stage/new.bas", root / "case/prog.bas"); });
    EXPECT_EQ(result.out, saveTrouble("prog.bas", "the file is read-only"));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(readFile("case/prog.bas"), replacement);
    EXPECT_EQ(listing("case"), std::vector<std::string>{"prog.bas"});
}

TEST_F(BetweenSaves, AFolderLockedDuringThePauseKeepsTheFirstSavesBytes) {
    std::unique_ptr<Immutable> locked;
    const Result result = runChanging([&] { locked = std::make_unique<Immutable>(root / "case"); });
    if (locked && !locked->trouble().empty()) {
        GTEST_SKIP() << "cannot stage a folder without room for new files: " << locked->trouble();
    }
    EXPECT_EQ(result.out, saveTrouble("prog.bas", "cannot create a temporary file in its folder"));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(readFile("case/prog.bas"), recased);
    EXPECT_EQ(listing("case"), std::vector<std::string>{"prog.bas"});
    locked.reset();
}

// ---- another program changes the source while the tool works on it -----------
// A watch on the folder sees the tool close the source after reading it, or
// create its temporary file; the test stops the tool there, changes the
// source as another program would and lets the tool go on. The change is
// never overwritten, nor a removed source made again.

class ChangedWhileRunning : public BetweenSaves {
protected:
    enum class At { scan, save };

    // Runs the tool on case/prog.bas holding text, calling change() while
    // the tool is stopped: after it read the source (at scan) or while its
    // temporary file exists and the source is still the old one (at save).
    // Large texts give the test time to react even on a busy machine; a
    // stop that comes too late is retried.
    Result runChangedAt(At at, const std::string& text, const std::function<void()>& change) {
        Result result;
        bool changed = false;
        for (int attempt = 0; attempt < 3 && !changed; ++attempt) {
            fs::remove_all(root / "case");
            writeFile("case/prog.bas", text);
            const int watch = watchCase(at == At::scan ? IN_CLOSE_NOWRITE | IN_CREATE : IN_CREATE);
            RunOptions options;
            options.cwd = "case";
            options.whileRunning = [&](pid_t child) {
                if (!awaitFile(watch, child, at == At::scan ? "prog.bas" : ".vorrel-")) return;
                stop(child);
                const std::vector<std::string> names = listing("case");
                const bool ready = at == At::scan ? names == std::vector<std::string>{"prog.bas"}
                                                  : names.size() == 2 && names[0].rfind(".vorrel-", 0) == 0 &&
                                                        names[1] == "prog.bas" && readFile("case/prog.bas") == text;
                if (ready) {
                    change();
                    changed = true;
                }
                ::kill(child, SIGCONT);
            };
            result = runWith(tool, {"prog.bas"}, options);
            ::close(watch);
        }
        if (!changed) ADD_FAILURE() << "the tool was never stopped at the moment the test needs";
        return result;
    }

    // A source large enough that the scan and the save each take a while.
    static std::string bigSource(std::size_t bytes) {
        std::string big = source;
        while (big.size() < bytes) big += "w = widget(2)\r\n";
        return big;
    }
};

// Removed while the tool scans it (16 MiB), or while the save writes its
// temporary file (48 MiB, so that the write outlasts the test's reaction).
TEST_F(ChangedWhileRunning, ARemovedSourceIsNotCreatedAgain) {
    for (const auto& [at, bytes] : {std::pair{At::scan, 16u << 20}, std::pair{At::save, 48u << 20}}) {
        SCOPED_TRACE(at == At::scan ? "during the scan" : "during the save");
        const Result result = runChangedAt(at, bigSource(bytes), [&] { fs::remove(root / "case/prog.bas"); });
        EXPECT_EQ(result.out, saveTrouble("prog.bas", "the file is no longer there"));
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(listing("case"), std::vector<std::string>{});
    }
}

// An editor either writes the file where it is or puts a new one in its
// place; the tool's text, read before, must not take the place of either.
TEST_F(ChangedWhileRunning, AnotherProgramsWriteIsKept) {
    const std::string edit = "PRINT \"typed while vorrel ran\"\r\n";
    const std::string big = bigSource(16u << 20);
    struct Stage {
        const char* label;
        At at;
        bool inPlace;
    };
    for (const Stage& stage : {Stage{"written in place during the scan", At::scan, true},
                               Stage{"replaced during the scan", At::scan, false},
                               Stage{"written in place during the save", At::save, true},
                               Stage{"replaced during the save", At::save, false}}) {
        SCOPED_TRACE(stage.label);
        const Result result = runChangedAt(stage.at, big, [&] {
            if (stage.inPlace) {
                std::ofstream(root / "case/prog.bas", std::ios::binary | std::ios::app) << edit;
            } else {
                writeFile("stage/new.bas", edit);
                fs::rename(root / "stage/new.bas", root / "case/prog.bas");
            }
        });
        EXPECT_EQ(result.out, saveTrouble("prog.bas", "another program changed the file after vorrel read it"));
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_TRUE(readFile("case/prog.bas") == (stage.inPlace ? big + edit : edit))
            << "the other program's write was lost";
        EXPECT_EQ(listing("case"), std::vector<std::string>{"prog.bas"});
    }
}

// ---- a signal ends the tool during a save --------------------------------------
// A watch on the folder sees the temporary file of the first save appear; the
// test stops the tool there, sends the signal and lets it go on.

class SignalDuringSave : public BetweenSaves {};

TEST_F(SignalDuringSave, RemovesTheTemporaryFileAndLeavesTheSourceAsItWas) {
    if (testingWindowsBuild()) GTEST_SKIP() << "wine turns no signal into a console break for a program without a console";
    // Large enough that the save takes a while after its file appears.
    std::string big = source;
    while (big.size() < (48u << 20)) big += "PRINT \"a line of the program that stays as it is\"\r\n";
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        bool stoppedWithTemporary = false;
        Result result;
        for (int attempt = 0; attempt < 3 && !stoppedWithTemporary; ++attempt) {
            fs::remove_all(root / "case");
            writeFile("case/prog.bas", big);
            const int watch = watchCase(IN_CREATE);
            RunOptions options;
            options.cwd = "case";
            options.whileRunning = [&](pid_t child) {
                if (!awaitFile(watch, child, ".vorrel-")) return;
                stop(child);
                const std::vector<std::string> names = listing("case");
                stoppedWithTemporary = std::any_of(names.begin(), names.end(),
                                                   [](const std::string& name) { return name.rfind(".vorrel-", 0) == 0; });
                ::kill(child, signal);
                ::kill(child, SIGCONT);
            };
            result = runWith(tool, {"prog.bas"}, options);
            ::close(watch);
        }
        ASSERT_TRUE(stoppedWithTemporary) << "the tool was never stopped while its temporary file existed";
        EXPECT_EQ(result.out, banner());
        EXPECT_EQ(result.exitCode, 128 + signal);
        EXPECT_EQ(listing("case"), std::vector<std::string>{"prog.bas"});
        EXPECT_TRUE(readFile("case/prog.bas") == big) << "the source changed";
    }
}

}  // namespace
}  // namespace e2e
