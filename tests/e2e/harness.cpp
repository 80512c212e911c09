#include "harness.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>

namespace e2e {
namespace {

std::string variable(const char* name) { return std::getenv(name) ? std::getenv(name) : ""; }

// Everything an unlinked temporary file received.
std::string contents(std::FILE* file) {
    std::string text(static_cast<std::size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    return text;
}

Result runOnce(std::vector<std::string> argv, const fs::path& cwd, const Options& options) {
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit limit = {options.memory, options.memory};
        ::dup2(::open("/dev/null", O_RDONLY), 0);
        if (::dup2(fileno(out), 1) < 0 || ::dup2(fileno(err), 2) < 0 || ::chdir(cwd.c_str()) != 0 ||
            (options.memory != 0 && ::setrlimit(RLIMIT_AS, &limit) != 0) ||
            (options.user != 0 && (::setgroups(options.groups.size(), options.groups.data()) != 0 ||
                                   ::setgid(options.user) != 0 || ::setuid(options.user) != 0))) {
            ::_exit(125);
        }
        ::execvp(pointers[0], pointers.data());
        ::_exit(127);
    }
    if (options.during) options.during(child);
    int status = 0;
    ::waitpid(child, &status, 0);
    return {contents(out), contents(err), WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)};
}

}  // namespace

std::string digest(const std::string& bytes) {
    if (bytes.size() <= 200) return bytes;
    return std::to_string(bytes.size()) + " bytes, hash " + std::to_string(std::hash<std::string>()(bytes));
}

bool underWine() { return !variable("VORREL_WINE").empty(); }

std::string lines(const std::vector<std::string>& text) {
    std::string all;
    for (const std::string& line : text) all += line + "\r\n";
    return all;
}

void ToolTest::SetUp() {
    root = fs::temp_directory_path() / ("vorrel-e2e-" + std::to_string(std::random_device()()));
    fs::create_directories(root / "app");
    tool = root / "app" / fs::path(variable("VORREL_PROGRAM")).filename();
    fs::copy_file(variable("VORREL_PROGRAM"), tool);
}

void ToolTest::TearDown() {
    if (HasFailure()) {
        std::printf("kept the folder of the failed test: %s\n", root.c_str());
        return;
    }
    fs::remove_all(root);
}

Result ToolTest::run(const std::vector<std::string>& args, const Options& options) const {
    std::vector<std::string> argv = {tool.string()};
    if (underWine()) argv.insert(argv.begin(), variable("VORREL_WINE"));
    argv.insert(argv.end(), args.begin(), args.end());
    Result result = runOnce(argv, root / options.cwd, options);
    // Under load, wine has now and then ended a run with exit code 1 before
    // the program printed its first line; such a run is made once more.
    if (underWine() && !options.during && result.code == 1 && result.out.empty() && result.err.empty()) {
        result = runOnce(argv, root / options.cwd, options);
    }
    return result;
}

void ToolTest::write(const std::string& relative, const std::string& bytes) const {
    fs::create_directories((root / relative).parent_path());
    if (relative.back() != '/') std::ofstream(root / relative, std::ios::binary) << bytes;
}

std::map<std::string, std::string> ToolTest::snapshot() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = fs::relative(entry.path(), root).string();
        std::string& text = files[name];
        struct stat info;
        char mode[64];
        if (!underWine() && ::lstat(entry.path().c_str(), &info) == 0) {
            std::snprintf(mode, sizeof mode, "%o %u:%u", info.st_mode & 07777, info.st_uid, info.st_gid);
            files[name + " mode"] = mode;
        }
        if (entry.is_symlink()) {
            text = "-> " + fs::read_symlink(entry.path()).string();
        } else if (entry.is_directory()) {
            text = "/";
        } else if (entry.path() != tool) {
            std::ifstream in(entry.path(), std::ios::binary);
            text = digest(std::string(std::istreambuf_iterator<char>(in), {}));
        }
    }
    return files;
}

std::string ToolTest::programFolder() const {
    std::string folder = tool.parent_path().string() + "/";
    if (underWine()) std::replace(folder.begin(), folder.end(), '/', '\\');
    return underWine() ? "Z:" + folder : folder;
}

}  // namespace e2e
