#include "process.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <malloc.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include "files.h"

namespace vorrel_bench {

namespace {

double now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

std::string readSmallFile(const std::string& path, std::size_t limit) {
    std::ifstream in(path, std::ios::binary);
    std::string text(limit, '\0');
    in.read(&text[0], static_cast<std::streamsize>(limit));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

long largestResidentAtSpawn = 0;

}  // namespace

long largestResidentAtSpawnKiB() { return largestResidentAtSpawn; }

ChildRun runChild(const std::vector<std::string>& argv, const std::string& outputStem, int cpuSeconds) {
    const std::string outPath = outputStem + ".stdout";
    const std::string errPath = outputStem + ".stderr";
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (out < 0 || err < 0 || in < 0) throw std::runtime_error("cannot open output files for " + outputStem);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    // A forked child starts out with this process's resident pages, and its
    // ru_maxrss counts them: keep them few.
    ::malloc_trim(0);
    largestResidentAtSpawn = std::max(largestResidentAtSpawn, ownResidentKiB());

    ChildRun run;
    const double start = now();
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error(std::string("fork failed: ") + std::strerror(errno));
    if (pid == 0) {
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (cpuSeconds > 0) {
            const rlimit limit = {static_cast<rlim_t>(cpuSeconds), static_cast<rlim_t>(cpuSeconds) + 5};
            ::setrlimit(RLIMIT_CPU, &limit);
        }
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage;
    std::memset(&usage, 0, sizeof usage);
    while (::wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) throw std::runtime_error(std::string("wait4 failed: ") + std::strerror(errno));
    }
    run.seconds = now() - start;
    ::close(out);
    ::close(err);
    ::close(in);
    run.peakKiB = usage.ru_maxrss;
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    if (WIFEXITED(status)) {
        run.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        run.signal = WTERMSIG(status);
    }
    run.output = readSmallFile(outPath, 1 << 16);
    run.errors = readSmallFile(errPath, 4096);
    return run;
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

long ownResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

Machine describeMachine(const std::string& dataFolder) {
    Machine machine;
    {
        std::ifstream info("/proc/cpuinfo");
        std::string line;
        while (std::getline(info, line)) {
            if (line.rfind("model name", 0) == 0) {
                const std::size_t colon = line.find(':');
                if (colon != std::string::npos) machine.cpu = line.substr(colon + 2);
                break;
            }
        }
    }
    machine.cores = static_cast<int>(::sysconf(_SC_NPROCESSORS_ONLN));
    {
        std::ifstream info("/proc/meminfo");
        std::string key;
        long long kib = 0;
        while (info >> key >> kib) {
            if (key == "MemTotal:") {
                machine.memoryMiB = kib / 1024;
                break;
            }
            info.ignore(1 << 10, '\n');
        }
    }
    utsname names;
    if (::uname(&names) == 0) machine.kernel = std::string(names.sysname) + " " + names.release;
    struct statfs fs;
    if (::statfs(dataFolder.c_str(), &fs) == 0) {
        switch (static_cast<unsigned long>(fs.f_type)) {
        case 0xEF53: machine.fileSystem = "ext4"; break;
        case 0x01021994: machine.fileSystem = "tmpfs"; break;
        case 0x58465342: machine.fileSystem = "xfs"; break;
        case 0x9123683E: machine.fileSystem = "btrfs"; break;
        case 0x794C7630: machine.fileSystem = "overlayfs"; break;
        default: {
            char hex[32];
            std::snprintf(hex, sizeof hex, "type 0x%lx", static_cast<unsigned long>(fs.f_type));
            machine.fileSystem = hex;
        }
        }
    }
    return machine;
}

}  // namespace vorrel_bench
