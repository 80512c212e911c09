// Faults of the machine around a run, staged for real, one row per kind:
// whatever happens, the console and exit code say what, the source holds all
// of its old bytes or all of its new ones, and no temporary file stays.
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>

#include <optional>
#include <regex>

#include "harness.h"

namespace e2e {
namespace {

const std::string source = "w = widget(1)\r\n" + std::string(16 * 4096 - 15, '.');  // 16 pages; a run saves twice
const std::string recased = "w = WIDGET" + source.substr(10);
const std::string finished = block("WIDGET", "Widget.inc") + recased;
const std::string big = source + std::string(48 << 20, '-');  // its saves outlast the test's reaction
const std::string huge = source + std::string(96 << 20, '-');

const char* natively(const char* why) { return underWine() ? why : nullptr; }
const char* asRoot(const char* why) { return underWine() ? why : ::geteuid() != 0 ? "staging it needs root" : nullptr; }

struct Fault {
    const char* label;
    const char* skip;  // why it cannot be staged here, or nullptr
    std::function<void(Options&)> stage;
    std::string path;  // the argument; a link's target is the file that changes
    std::string out;   // the line after the banner, if any
    int code;
    std::optional<std::string> after;  // the source's bytes after the run; none when it must not exist
    std::string err = "";
};

class Faults : public ToolTest {
protected:
    // A tmpfs of that many bytes at root/disk holding prog.bas, or a link
    // there, and then read-only if asked; tmpfs counts whole pages.
    std::function<void(Options&)> onDisk(std::size_t bytes, bool readOnly, const char* link = nullptr) const {
        return [=](Options&) {
            fs::create_directories(root / "disk");
            const std::string size = "size=" + std::to_string(bytes);
            ASSERT_EQ(::mount("tmpfs", (root / "disk").c_str(), "tmpfs", 0, size.c_str()), 0);
            if (link) fs::create_symlink(link, root / "disk/prog.bas");
            if (!link) write("disk/prog.bas", source);
            const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
            ASSERT_EQ(::mount(nullptr, (root / "disk").c_str(), nullptr, flags, size.c_str()), 0);
        };
    }

    void own(uid_t user, gid_t group, mode_t mode) const {
        ASSERT_EQ(::geteuid() == 0 ? ::chown((root / "prog.bas").c_str(), user, group) : 0, 0);
        ASSERT_EQ(::chmod((root / "prog.bas").c_str(), mode), 0);
    }

    // A large source and a run stopped once its temporary file appears, for
    // act to do its deed; the watch starts before the run.
    std::function<void(Options&)> large(std::function<void(pid_t)> act) const {
        return [=](Options& options) {
            write("prog.bas", big);
            const int watch = ::inotify_init1(IN_CLOEXEC);
            ::inotify_add_watch(watch, root.c_str(), IN_CREATE);
            options.during = [=](pid_t child) {
                alignas(inotify_event) char buf[4096];
                const auto* event = reinterpret_cast<const inotify_event*>(buf);
                for (pollfd ready = {watch, POLLIN, 0}; ::poll(&ready, 1, 60000) > 0;) {
                    if (::read(watch, buf, sizeof buf) <= 0 || std::string(event->name).rfind(".vorrel-", 0)) continue;
                    ::kill(child, SIGSTOP);
                    ::waitpid(child, nullptr, WUNTRACED);
                    // Too late once the temporary file has been renamed.
                    EXPECT_TRUE(fs::exists(root / event->name)) << "the save was over before the test saw it";
                    act(child);
                    ::kill(child, SIGCONT);
                    break;
                }
                ::close(watch);
            };
        };
    }
};

TEST_F(Faults, TheSourceKeepsItsOldOrItsNewBytesAndNoTemporaryFileStays) {
    const std::string fail = "Could not save prog.bas: ", diskFail = "Could not save disk/prog.bas: ";
    const char* sanitized = std::getenv("VORREL_SANITIZED") ? "AddressSanitizer cannot start under a limit" : nullptr;
    // clang-format off
    const std::vector<Fault> table = {
        {"a read-only source", nullptr, [&](Options&) { fs::permissions(root / "prog.bas", fs::perms::owner_read); },
         "prog.bas", fail + "the file is read-only", 1, source},
        {"a folder where nothing can be created", asRoot(nullptr), onDisk(1 << 20, true), "disk/prog.bas",
         diskFail + "cannot create a temporary file in its folder (...)", 1, source},
        // The first save needs 16 pages more, the second 17 while the re-cased text holds its 16.
        {"a full disk at the first save", asRoot(nullptr), onDisk(31 * 4096, false), "disk/prog.bas",
         diskFail + "the disk is full (...)", 1, source},
        {"a full disk at the second save", asRoot(nullptr), onDisk(32 * 4096, false), "disk/prog.bas",
         diskFail + "the disk is full (...)", 1, recased},
        // The link's folder takes no new file; its target's folder does.
        {"a symbolic link", asRoot("wine 8 shows Windows programs no Linux link"), onDisk(1 << 20, true, "../prog.bas"),
         "disk/prog.bas", "", 0, finished},
        {"permission bits and owner", natively("Windows files have no POSIX mode or owner"),
         [&](Options&) { own(4321, 8765, 04751); }, "prog.bas", "", 0, finished},
        {"a signal during a save", natively("wine turns no signal into a console break"),
         large([](pid_t child) { ::kill(child, SIGTERM); }), "prog.bas", "", 128 + SIGTERM, big},
        {"another program's change during a save", nullptr,
         large([&](pid_t) { std::ofstream(root / "prog.bas", std::ios::app) << "x"; }), "prog.bas",
         fail + "another program changed the file after vorrel read it", 1, big + "x"},
        {"the source removed during a save", nullptr, large([&](pid_t) { fs::remove(root / "prog.bas"); }), "prog.bas",
         fail + "the file is no longer there (...)", 1, std::nullopt},
        {"memory running out", underWine() ? "wine needs more address space to start" : sanitized,
         [&](Options& options) { write("prog.bas", huge), options.memory = 64 << 20; }, "prog.bas", "", 3, huge,
         "Insufficient memory\r\n"},
    };
    // clang-format on
    for (const Fault& row : table) {
        SCOPED_TRACE(row.label);
        if (row.skip) std::printf("skipped %s: %s\n", row.label, row.skip);
        if (row.skip) continue;
        clear();
        write("app/inc/Vorrel/Widget.inc");
        write("prog.bas", source);
        Options options;
        row.stage(options);
        if (HasFatalFailure()) return;
        auto expected = snapshot();
        const std::string file = fs::relative(root / row.path, root).string();
        const Result result = run({row.path}, options);
        // The system's own reason ends a save failure's line, worded as that system words it.
        const std::string out = std::regex_replace(result.out, std::regex(" \\([^)\r]+\\)\r\n"), " (...)\r\n");
        EXPECT_EQ(out, banner + (row.out.empty() ? "" : lines({row.out})) + (row.code == 0 ? report(1) : ""));
        EXPECT_EQ(result.err, row.err);
        EXPECT_EQ(result.code, row.code);
        if (row.after) expected[file] = digest(*row.after);
        if (!row.after) expected.erase(file), expected.erase(file + " mode");
        EXPECT_EQ(snapshot(), expected);
    }
}

}  // namespace
}  // namespace e2e
