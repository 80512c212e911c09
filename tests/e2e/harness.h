// Runs the built program (VORREL_PROGRAM, under wine when VORREL_WINE names
// it) as a child process in a fresh temporary folder per test, and hands
// back its console bytes, its exit code and every file it left.
#pragma once

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace e2e {

namespace fs = std::filesystem;

inline bool underWine() { return std::getenv("VORREL_WINE") != nullptr; }

inline std::string lines(const std::vector<std::string>& text) {
    std::string all;
    for (const std::string& line : text) all += line + "\r\n";
    return all;
}

/// The include block of a module, as vorrel inserts it.
inline std::string block(const std::string& name, const std::string& file, const std::string& folder = "Vorrel") {
    return lines({"$IFNDEF " + name, "$DEFINE " + name, "$include \"" + folder + "\\" + file + "\"", "$ENDIF"});
}

inline const std::string banner = lines({"HotBasic Vorrel 2.1 by Brannox started"});

inline std::string report(int count) {
    return lines({"Added " + std::to_string(count) + " vorrels to your Hotbasic application", " "});
}

/// The bytes, or for more than 200 of them their count and hash, so that a failure prints briefly.
inline std::string digest(const std::string& bytes) {
    if (bytes.size() <= 200) return bytes;
    return std::to_string(bytes.size()) + " bytes, hash " + std::to_string(std::hash<std::string>()(bytes));
}

struct Result {
    std::string out, err;
    int code = -1;
};

struct Options {
    std::uint64_t memory = 0;           // the child's address-space limit in bytes; 0 for none
    std::function<void(pid_t)> during;  // called once the child has started
};

inline std::string contents(std::FILE* file) {
    std::string text(static_cast<std::size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    return text;
}

/// A fresh temporary folder per test holding the program in app/, kept when the test fails.
class ToolTest : public ::testing::Test {
protected:
    ToolTest() { clear(); }
    ~ToolTest() override {
        ::umount2((root / "disk").c_str(), MNT_DETACH);  // a fault test's own disk
        if (HasFailure()) std::printf("kept the folder of the failed test: %s\n", root.c_str());
        if (!HasFailure()) fs::remove_all(root);
    }

    // Leaves only the program in app/, for the next row of a table.
    void clear() const {
        ::umount2((root / "disk").c_str(), MNT_DETACH);
        fs::remove_all(root);
        fs::create_directories(root / "app");
        fs::copy_file(std::getenv("VORREL_PROGRAM"), tool);
    }

    Result run(const std::vector<std::string>& args, const Options& options = {}, bool retry = true) const {
        std::vector<std::string> command = {tool.string()};
        if (underWine()) command.insert(command.begin(), std::getenv("VORREL_WINE"));
        command.insert(command.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : command) argv.push_back(arg.data());
        argv.push_back(nullptr);
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        const pid_t child = ::fork();
        if (child == 0) {
            const rlimit limit = {options.memory, options.memory};
            ::dup2(::open("/dev/null", O_RDONLY), 0);
            if (::dup2(fileno(out), 1) < 0 || ::dup2(fileno(err), 2) < 0 || ::chdir(root.c_str()) != 0 ||
                (options.memory != 0 && ::setrlimit(RLIMIT_AS, &limit) != 0)) {
                ::_exit(125);
            }
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        if (options.during) options.during(child);
        int status = 0;
        ::waitpid(child, &status, 0);
        Result got = {contents(out), contents(err), WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)};
        // Under load, wine has now and then ended a run with exit code 1 before
        // the program printed its first line; such a run is made once more.
        const bool silent = underWine() && !options.during && got.code == 1 && got.out.empty();
        return retry && silent ? run(args, options, false) : got;
    }

    /// Writes bytes to root/relative, making its folders; a path ending in "/" makes a folder.
    void write(const std::string& relative, const std::string& bytes = "") const {
        fs::create_directories((root / relative).parent_path());
        if (relative.back() != '/') std::ofstream(root / relative, std::ios::binary) << bytes;
    }

    /// Every path below the root: a file's digest (none for the program), "/" for a folder, "-> target" for a
    /// link; natively also "path mode": its mode, owner and group.
    std::map<std::string, std::string> snapshot() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            const std::string name = entry.path().lexically_relative(root).string();
            struct stat info;
            char mode[64];
            if (!underWine() && ::lstat(entry.path().c_str(), &info) == 0) {
                std::snprintf(mode, sizeof mode, "%o %u:%u", info.st_mode & 07777, info.st_uid, info.st_gid);
                files[name + " mode"] = mode;
            }
            std::ifstream in(entry.path(), std::ios::binary);
            files[name] = entry.is_symlink()     ? "-> " + fs::read_symlink(entry.path()).string()
                          : entry.is_directory() ? "/"
                          : entry.path() == tool ? ""
                                                 : digest(std::string(std::istreambuf_iterator<char>(in), {}));
        }
        return files;
    }

    const fs::path root = fs::temp_directory_path() / ("vorrel-e2e-" + std::to_string(std::random_device()()));
    const fs::path tool = root / "app" / fs::path(std::getenv("VORREL_PROGRAM")).filename();
};

}  // namespace e2e
