// Faults of the machine around a run, staged for real, one row per kind:
// whatever happens, the console and exit code say what, the source holds all
// of its old bytes or all of its new ones, and no temporary file stays.
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <regex>

#include "harness.h"

namespace e2e {
namespace {

// A source whose run needs both saves, of 16 pages of 4 KiB.
const std::string source = [] {
    std::string text;
    for (int i = 0; i < 16; ++i) text += (i == 0 ? "w = widget(1)\r\n" : "'comment line\r\n") + std::string(4081, '.');
    return text;
}();
const std::string recased = "w = WIDGET" + source.substr(10);
const std::string finished = block("WIDGET", "Widget.inc") + recased;
const std::string big = source + std::string(48 << 20, '-');  // its saves outlast the test's reaction
const std::string huge = source + std::string(96 << 20, '-');

// Why a fault cannot be staged here, or nullptr.
const char* natively(const char* why) { return underWine() ? why : nullptr; }
const char* asRoot(const char* why) { return underWine() ? why : ::geteuid() != 0 ? "staging it needs root" : nullptr; }

struct Fault {
    const char* label;
    const char* skip;  // why it cannot be staged here, or nullptr
    std::function<void(Options&)> stage;
    std::string path;  // the argument
    std::string out;   // the line after the banner, if any
    int code;
    std::optional<std::string> after;  // the source's bytes after the run; none when it must not exist
    std::string err = "";
    std::string file = "";  // where after applies, when not at path
    std::string mode = "";  // its mode, owner and group after the run, when they change
};

class Faults : public ToolTest {
protected:
    void TearDown() override {
        ::umount2((root / "disk").c_str(), MNT_DETACH);
        ToolTest::TearDown();
    }

    // A tmpfs of that many bytes at root/disk until the test ends; tmpfs
    // counts whole pages and nothing for folders.
    void mountDisk(std::size_t bytes) const {
        fs::create_directories(root / "disk");
        const std::string size = "size=" + std::to_string(bytes);
        ASSERT_EQ(::mount("tmpfs", (root / "disk").c_str(), "tmpfs", 0, size.c_str()), 0);
    }

    // Stops the child once a temporary file appears in folder, calls act and
    // lets the child go on; the watch starts at once, before the run.
    std::function<void(pid_t)> atTemporary(const fs::path& folder, std::function<void(pid_t)> act) const {
        const int watch = ::inotify_init1(IN_CLOEXEC);
        ::inotify_add_watch(watch, (root / folder).c_str(), IN_CREATE);
        return [=](pid_t child) {
            alignas(inotify_event) char events[4096];
            for (pollfd ready = {watch, POLLIN, 0}; ::poll(&ready, 1, 60000) > 0;) {
                const ssize_t got = ::read(watch, events, sizeof events);
                const auto* event = reinterpret_cast<const inotify_event*>(events);
                if (got > 0 && event->len > 0 && std::string(event->name).rfind(".vorrel-", 0) == 0) {
                    ::kill(child, SIGSTOP);
                    siginfo_t info;
                    ::waitid(P_PID, static_cast<id_t>(child), &info, WSTOPPED);
                    // Too late once the temporary file has been renamed.
                    EXPECT_TRUE(fs::exists(root / folder / event->name)) << "the save was over before the test saw it";
                    act(child);
                    ::kill(child, SIGCONT);
                    break;
                }
            }
            ::close(watch);
        };
    }
};

TEST_F(Faults, TheSourceKeepsItsOldOrItsNewBytesAndNoTemporaryFileStays) {
    const std::string fail = "Could not save prog.bas: ", diskFail = "Could not save disk/prog.bas: ";
    const auto onDisk = [&](std::size_t bytes) {
        return [=](Options&) {
            mountDisk(bytes);
            write("disk/prog.bas", source);
        };
    };
    const auto large = [&](std::function<void(pid_t)> act) {
        return [=](Options& options) {
            write("prog.bas", big);
            options.during = atTemporary("", act);
        };
    };
    const char* sanitized = std::getenv("VORREL_SANITIZED") ? "AddressSanitizer cannot start under a limit" : nullptr;
    const std::vector<Fault> table = {
        {"a read-only source", nullptr, [&](Options&) { fs::permissions(root / "prog.bas", fs::perms::owner_read); },
         "prog.bas", fail + "the file is read-only", 1, source},
        {"a folder where nothing can be created", asRoot(nullptr),
         [&](Options& options) {
             onDisk(1 << 20)(options);
             ASSERT_EQ(::mount(nullptr, (root / "disk").c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
         },
         "disk/prog.bas", diskFail + "cannot create a temporary file in its folder (...)", 1, source},
        // The first save needs 16 pages more, the second 17 while the re-cased text holds its 16.
        {"a full disk at the first save", asRoot(nullptr), onDisk(31 * 4096), "disk/prog.bas",
         diskFail + "the disk is full (...)", 1, source},
        {"a full disk at the second save", asRoot(nullptr), onDisk(32 * 4096), "disk/prog.bas",
         diskFail + "the disk is full (...)", 1, recased},
        // The link's folder takes no new file; its target's folder does.
        {"a symbolic link", asRoot("wine 8 shows Windows programs no Linux link"),
         [&](Options&) {
             mountDisk(1 << 20);
             fs::create_symlink("../prog.bas", root / "disk/prog.bas");
             ASSERT_EQ(::mount(nullptr, (root / "disk").c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
         },
         "disk/prog.bas", "", 0, finished, "", "prog.bas"},
        {"permission bits and owner", natively("Windows files have no POSIX mode or owner"),
         [&](Options&) {
             ASSERT_EQ(::geteuid() == 0 ? ::chown((root / "prog.bas").c_str(), 4321, 8765) : 0, 0);
             ASSERT_EQ(::chmod((root / "prog.bas").c_str(), 04751), 0);
         },
         "prog.bas", "", 0, finished},
        {"a member of the file's group", asRoot("Windows files have no POSIX group"),
         [&](Options& options) {
             ASSERT_EQ(::chown((root / "prog.bas").c_str(), 4321, 8765), 0);
             ASSERT_EQ(::chmod((root / "prog.bas").c_str(), 0664), 0);
             ASSERT_EQ(::chmod(root.c_str(), 0777), 0);
             options = {0, 5555, {8765}, {}};
         },
         "prog.bas", "", 0, finished, "", "", "664 5555:8765"},
        {"a file the user may not write, in a folder of theirs", asRoot("Windows files have no POSIX owner"),
         [&](Options& options) {
             ASSERT_EQ(::chown(root.c_str(), 5555, 5555), 0);
             options = {0, 5555, {}, {}};
         },
         "prog.bas", fail + "the file is read-only (...)", 1, source},
        {"a signal during a save", natively("wine turns no signal into a console break"),
         large([](pid_t child) { ::kill(child, SIGTERM); }), "prog.bas", "", 128 + SIGTERM, big},
        {"another program's change during a save", nullptr,
         large([&](pid_t) { std::ofstream(root / "prog.bas", std::ios::app) << "x"; }), "prog.bas",
         fail + "another program changed the file after vorrel read it", 1, big + "x"},
        {"the source removed during a save", nullptr, large([&](pid_t) { fs::remove(root / "prog.bas"); }), "prog.bas",
         fail + "the file is no longer there (...)", 1, std::nullopt},
        {"memory running out", underWine() ? "wine needs more address space to start" : sanitized,
         [&](Options& options) {
             write("prog.bas", huge);
             options.memory = 64 << 20;
         },
         "prog.bas", "", 3, huge, "Insufficient memory\r\n"},
    };
    for (const Fault& row : table) {
        SCOPED_TRACE(row.label);
        if (row.skip) {
            std::printf("skipped %s: %s\n", row.label, row.skip);
            continue;
        }
        write("app/inc/Vorrel/Widget.inc");
        write("prog.bas", source);
        Options options;
        row.stage(options);
        if (HasFatalFailure()) return;
        auto expected = snapshot();
        const Result result = run({row.path}, options);
        // The system's own reason ends a save failure's line, worded as that system words it.
        const std::string out = std::regex_replace(result.out, std::regex(" \\([^)\r]+\\)\r\n"), " (...)\r\n");
        EXPECT_EQ(out, banner + (row.out.empty() ? "" : lines({row.out})) + (row.code == 0 ? report(1) : ""));
        EXPECT_EQ(result.err, row.err);
        EXPECT_EQ(result.code, row.code);
        const std::string file = row.file.empty() ? row.path : row.file;
        if (row.after) expected[file] = digest(*row.after);
        if (!row.after) expected.erase(file), expected.erase(file + " mode");
        if (!row.mode.empty()) expected[file + " mode"] = row.mode;
        EXPECT_EQ(snapshot(), expected);
        ::umount2((root / "disk").c_str(), MNT_DETACH);
        fs::remove_all(root / "disk");
        fs::remove(root / "prog.bas");
    }
}

}  // namespace
}  // namespace e2e
