// POSIX back end of the system services. Only POSIX calls go here; Windows
// paths written with backslashes are read with slashes.
#include "system/system.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <limits>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

#include "system/command_line.h"
#include "system/path_rules.h"

namespace vorrel {

namespace {

void writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;  // console output has nobody to report to
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

bool endsWithSeparator(std::string_view path) { return !path.empty() && (path.back() == '/' || path.back() == '\\'); }

std::string folderPart(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The file a path finally names once symbolic links are followed, so that a
// save replaces the link's target and the link itself stays.
std::string followLinks(std::string path) {
    for (int depth = 0; depth < 40; ++depth) {
        struct stat info;
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
        std::string target(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : PATH_MAX), '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0) return path;
        target.resize(static_cast<std::size_t>(length));
        if (!target.empty() && target.front() == '/') {
            path = target;
        } else {
            const std::string folder = folderPart(path);
            path = (folder == "/" ? std::string("/") : folder + "/") + target;
        }
    }
    return path;
}

SaveStatus statusOfWriteError(int error) {
    if (error == EFBIG) return SaveStatus::tooLarge;
    return (error == ENOSPC || error == EDQUOT) ? SaveStatus::diskFull : SaveStatus::writeFailed;
}

// A save whose file cannot be looked at: gone, or out of reach for now.
SaveStatus statusOfLookError(int error) {
    return error == ENOENT || error == ENOTDIR ? SaveStatus::vanished : SaveStatus::replaceFailed;
}

FileStamp stampOf(const struct stat& info) {
    FileStamp stamp;
    stamp.volume = static_cast<std::uint64_t>(info.st_dev);
    stamp.file = static_cast<std::uint64_t>(info.st_ino);
    stamp.size = static_cast<std::uint64_t>(info.st_size);
    stamp.written = static_cast<std::uint64_t>(info.st_mtim.tv_sec) * 1000000000u +
                    static_cast<std::uint64_t>(info.st_mtim.tv_nsec);
    return stamp;
}

// The temporary file of a save under way, for a signal that ends the program
// to remove: only async-signal-safe calls may be made from the handler.
const char* volatile pendingTemporary = nullptr;
constexpr int endingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction previousActions[std::size(endingSignals)];

extern "C" void removeTemporaryAndEnd(int signal) {
    const char* temporary = pendingTemporary;
    if (temporary != nullptr) ::unlink(temporary);
    // The handler was reset on entry: the signal, delivered again once this
    // returns, ends the program as it would have without the handler.
    ::raise(signal);
}

sigset_t endingSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : endingSignals) sigaddset(&set, signal);
    return set;
}

// Creates the temporary file for a save and arranges for the signals that end
// a program to remove it first; signals ignored before stay ignored.
int createTemporary(std::string& temporary) {
    const sigset_t ending = endingSignalSet();
    sigset_t before;
    ::sigprocmask(SIG_BLOCK, &ending, &before);
    const int fd = ::mkstemp(temporary.data());
    const int error = errno;
    if (fd >= 0) {
        pendingTemporary = temporary.c_str();
        for (std::size_t i = 0; i < std::size(endingSignals); ++i) {
            ::sigaction(endingSignals[i], nullptr, &previousActions[i]);
            if (previousActions[i].sa_handler == SIG_IGN) continue;
            struct sigaction action {};
            action.sa_handler = removeTemporaryAndEnd;
            action.sa_flags = SA_RESETHAND;
            sigemptyset(&action.sa_mask);
            ::sigaction(endingSignals[i], &action, nullptr);
        }
    }
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
    errno = error;
    return fd;
}

// Once the temporary file is renamed or removed, the signals act as before.
void forgetTemporary() {
    const sigset_t ending = endingSignalSet();
    sigset_t before;
    ::sigprocmask(SIG_BLOCK, &ending, &before);
    for (std::size_t i = 0; i < std::size(endingSignals); ++i) {
        if (previousActions[i].sa_handler != SIG_IGN) ::sigaction(endingSignals[i], &previousActions[i], nullptr);
    }
    pendingTemporary = nullptr;
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
}

// The temporary file of a save under way: on every return that did not put
// it in place, it is closed and removed, and the signals act as before.
struct TemporaryFile {
    std::string name;
    int fd;
    bool placed = false;
    ~TemporaryFile() {
        if (fd >= 0) ::close(fd);
        if (!placed) ::unlink(name.c_str());
        forgetTemporary();
    }
};

// The errno of the call that failed the last save, for lastSaveError.
int lastSaveErrorNumber = 0;

SaveStatus failed(SaveStatus status, int error = errno) {
    lastSaveErrorNumber = error;
    return status;
}

// One write of a whole large text is slow by spells: 100 MiB took from
// 0.02 to 0.29 s in one call on Linux 6.18 and ext4, and a steady 0.02 s in
// calls of 1 MiB (likely the kernel's page-cache blocks, sized by the write,
// which it may first have to free up).
constexpr std::size_t writeChunk = std::size_t(1) << 20;

SaveStatus writePieces(int fd, const std::vector<std::string_view>& pieces) {
    for (std::string_view piece : pieces) {
        const char* data = piece.data();
        std::size_t size = piece.size();
        while (size > 0) {
            const ssize_t written = ::write(fd, data, std::min<std::size_t>(size, writeChunk));
            if (written < 0) {
                if (errno == EINTR) continue;
                return statusOfWriteError(errno);
            }
            data += written;
            size -= static_cast<std::size_t>(written);
        }
    }
    return SaveStatus::saved;
}

}  // namespace

std::vector<std::string> commandLineTokens(int argc, char** argv) {
    std::vector<std::string> tokens;
    for (int i = 0; i < argc; ++i) tokens.emplace_back(argv[i] ? argv[i] : "");
    return tokens;
}

std::string programFolder(const std::vector<std::string>& tokens) { return folderOfProgram(tokens, "/\\"); }

void failOutOfMemory() {
    static const char message[] = "Insufficient memory\r\n";
    writeAll(STDERR_FILENO, message, sizeof message - 1);
    ::_exit(3);
}

void printText(std::string_view text) { writeAll(STDOUT_FILENO, text.data(), text.size()); }

std::uint32_t pathAttributes(const std::string& path) {
    if (path.empty() || endsWithSeparator(path)) return 0;
    struct stat info;
    if (::stat(posixPath(path).c_str(), &info) != 0) return 0;
    return S_ISDIR(info.st_mode) ? folderAttribute : 32;
}

std::string firstFile(FileEnumeration& enumeration, const std::string& pattern) {
    enumeration = FileEnumeration();
    const std::string path = posixPath(pattern);
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    enumeration.wildcard = slash == std::string::npos ? path : path.substr(slash + 1);
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr) return {};
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..") continue;
        if (matchesWildcard(enumeration.wildcard, name)) enumeration.names.emplace_back(name);
    }
    ::closedir(listing);
    std::sort(enumeration.names.begin(), enumeration.names.end(),
              [](const std::string& a, const std::string& b) { return listsBefore(a, b); });
    return nextFile(enumeration);
}

std::string nextFile(FileEnumeration& enumeration) {
    if (enumeration.next >= enumeration.names.size()) {
        enumeration = FileEnumeration();
        return {};
    }
    return enumeration.names[enumeration.next++];
}

namespace {

// Offers large pages for the whole pages inside the block; its neighbours
// are none of our business.
void adviseLargePages(void* block, std::size_t size) {
#ifdef MADV_HUGEPAGE
    static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t from = (start + page - 1) & ~(page - 1);
    const std::uintptr_t to = (start + size) & ~(page - 1);
    if (block != nullptr && to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    (void)block;
    (void)size;
#endif
}

// Grows text to size bytes. A large buffer is backed by huge pages where the
// system offers them, which makes first touching it several times cheaper;
// the bytes text already holds are kept, so re-reading a file into the text
// it was read into before writes no filler at all.
void growTo(std::string& text, std::size_t size) {
    constexpr std::size_t large = std::size_t(8) << 20;
    if (size > text.capacity() && size >= large) {
        text.reserve(size);
        adviseLargePages(text.data(), text.capacity());
    }
    text.resize(size);
}

}  // namespace

LoadStatus loadFile(const std::string& path, std::string& text, FileStamp* stamp) {
    if (path.empty()) {
        text.clear();
        return LoadStatus::missing;
    }
    // Without O_NONBLOCK, opening a named pipe would wait for a writer.
    const int fd = ::open(posixPath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        text.clear();
        if (error == ENOENT || error == ENOTDIR || error == ENAMETOOLONG) return LoadStatus::missing;
        // A folder that may not be listed cannot be opened either, yet it is still a folder.
        struct stat info;
        if (::stat(posixPath(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return LoadStatus::folder;
        return LoadStatus::unreadable;
    }
    struct stat info {};
    // Only a regular file has an end to read to; a pipe or a device may never end.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const bool folder = S_ISDIR(info.st_mode);
        ::close(fd);
        text.clear();
        return folder ? LoadStatus::folder : LoadStatus::unreadable;
    }
    // Stamped before reading: a write while the file is read changes it too.
    if (stamp != nullptr) *stamp = stampOf(info);
    // Read to the end rather than trusting the size, which a writer may change.
    std::size_t used = 0;
    growTo(text, info.st_size > 0 ? static_cast<std::size_t>(info.st_size) + 1 : 4096);
    for (;;) {
        if (used == text.size()) growTo(text, text.size() * 2);
        const ssize_t got = ::read(fd, text.data() + used, std::min<std::size_t>(text.size() - used, 1u << 30));
        if (got < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            text.clear();
            return LoadStatus::unreadable;
        }
        if (got == 0) break;
        used += static_cast<std::size_t>(got);
    }
    ::close(fd);
    text.resize(used);
    return LoadStatus::loaded;
}

SaveStatus saveFile(const std::string& path, const std::vector<std::string_view>& pieces, const FileStamp* readAs) {
    lastSaveErrorNumber = 0;
    const std::string target = followLinks(posixPath(path));
    struct stat original;
    if (::stat(target.c_str(), &original) != 0) {
        // A save only ever replaces the source; one that has gone since it
        // was read is not made again.
        return failed(statusOfLookError(errno));
    }
    if (!S_ISREG(original.st_mode)) return SaveStatus::notAFile;
    // Root may write anything; a file without any write bit is still meant
    // to stay as it is. Anyone else may replace only what they may write:
    // the folder alone would let them put another owner's file aside.
    if ((original.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return SaveStatus::readOnly;
    if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES) {
        return failed(SaveStatus::readOnly);
    }

    const std::size_t slash = target.rfind('/');
    std::string name = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    name += ".vorrel-XXXXXX";
    const int fd = createTemporary(name);
    if (fd < 0)
        return failed(errno == ENOSPC || errno == EDQUOT ? SaveStatus::diskFull : SaveStatus::cannotCreateTemporary);
    TemporaryFile temporary{name, fd};
    const SaveStatus written = writePieces(fd, pieces);
    if (written != SaveStatus::saved) return failed(written);
    // Only root may give a file away. Anyone may keep its group, when they
    // belong to it, so that a file shared through its group stays shared.
    if (::fchown(fd, original.st_uid, original.st_gid) != 0)
        (void)::fchown(fd, static_cast<uid_t>(-1), original.st_gid);
    ::fchmod(fd, original.st_mode & 07777);
    // On the disk before the rename: after a crash the file then holds its
    // old bytes or its new ones, never a file not written out yet. A file
    // system that cannot flush at all says so, and is no failure.
    if (::fsync(fd) != 0 && errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        return failed(statusOfWriteError(errno));
    }
    temporary.fd = -1;
    if (::close(fd) != 0) return failed(statusOfWriteError(errno));
    // Writing and flushing a large file takes a while: what another program
    // did to the file meanwhile, or since it was read, is not overwritten.
    // (Only the moment between this look and the rename is left.)
    struct stat now;
    if (::stat(target.c_str(), &now) != 0) return failed(statusOfLookError(errno));
    if (readAs != nullptr && stampOf(now) != *readAs) return SaveStatus::changed;
    if (::rename(name.c_str(), target.c_str()) != 0) return failed(SaveStatus::replaceFailed);
    temporary.placed = true;
    return SaveStatus::saved;
}

std::string lastSaveError() { return lastSaveErrorNumber == 0 ? std::string() : std::strerror(lastSaveErrorNumber); }

void keepRunningOnRefusedWrites() {
    // Console output goes on to no one once its pipe is closed, which is no
    // reason to end a run that may be saving; a write past RLIMIT_FSIZE
    // then fails with EFBIG, which a save reports.
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
}

void pauseSeconds(double seconds) {
    const long long milliseconds = static_cast<long long>(seconds * 1000.0 + 0.5);
    if (milliseconds <= 0) return;
    struct timespec wait;
    wait.tv_sec = static_cast<time_t>(milliseconds / 1000);
    wait.tv_nsec = static_cast<long>((milliseconds % 1000) * 1000000);
    while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {}
}

void* allocateBlock(std::size_t size) {
    // Blocks below 32 MiB come from the heap. Where the C library lets us,
    // it grows in steps of 32 MiB, each offered large pages, and keeps 64 MiB
    // it no longer uses. Larger blocks are mapped each on its own and
    // unmapped when freed; they begin on a 2 MiB boundary, so that their
    // first bytes get large pages too.
    constexpr std::size_t heapStep = std::size_t{32} << 20;
    constexpr std::size_t largePage = std::size_t{2} << 20;
#if defined(__GLIBC__)
    static const bool stepsSet = ::mallopt(M_MMAP_THRESHOLD, heapStep) != 0 && ::mallopt(M_TOP_PAD, heapStep) != 0 &&
                                 ::mallopt(M_TRIM_THRESHOLD, 2 * heapStep) != 0;
    static char* advisedEnd = static_cast<char*>(::sbrk(0));
#endif
    if (size >= heapStep) {
        if (size > std::numeric_limits<std::size_t>::max() - largePage) return nullptr;
        // aligned_alloc takes a whole number of alignments.
        void* const block = std::aligned_alloc(largePage, (size + largePage - 1) / largePage * largePage);
        adviseLargePages(block, size);
        return block;
    }
    void* const block = std::malloc(size);
#if defined(__GLIBC__)
    // Advised as it grows, and again after it shrank and grows back.
    char* const end = static_cast<char*>(::sbrk(0));
    if (stepsSet && end > advisedEnd) adviseLargePages(advisedEnd, static_cast<std::size_t>(end - advisedEnd));
    advisedEnd = end;
#endif
    return block;
}

}  // namespace vorrel
