#include "io_floor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace vorrel_bench {
namespace {

// One read call per gigabyte at most, as the tool makes them.
bool readWhole(const std::string& path, std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info;
    bool ok = ::fstat(fd, &info) == 0;
    if (ok) text.resize(static_cast<std::size_t>(info.st_size));
    for (std::size_t used = 0; ok && used < text.size();) {
        const ssize_t got = ::read(fd, text.data() + used, std::min<std::size_t>(text.size() - used, 1u << 30));
        ok = got > 0;
        if (ok) used += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return ok;
}

bool saveWhole(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".floor-tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = true;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t put = ::write(fd, text.data() + done, std::min<std::size_t>(text.size() - done, 1u << 30));
        ok = put > 0;
        if (ok) done += static_cast<std::size_t>(put);
    }
    ok = ok && ::fsync(fd) == 0;  // as the tool does before it renames
    ok = ::close(fd) == 0 && ok;
    ok = ok && std::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

}  // namespace

int ioFloor(const std::string& path) {
    std::string text;
    if (!readWhole(path, text) || !saveWhole(path, text)) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!readWhole(path, text)) return 1;
    text.insert(0, "$include \"vorrel\\floor.inc\"\r\n");
    return saveWhole(path, text) ? 0 : 1;
}

}  // namespace vorrel_bench
