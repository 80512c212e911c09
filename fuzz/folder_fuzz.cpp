// libFuzzer target for the library folder side: the input becomes a real
// program folder (a settings file, library folders and the module file names
// in them), the library folder search and the catalogue run on it, and the
// result must be exactly what the rules below, written out here on their own,
// give for that folder: the folder chosen, and for every entry matching
// "*.inc", in listing order, the line
//   key ";$IFNDEF " NAME "~$DEFINE " NAME "~$include \"" folder "\" file "\"~$ENDIF" CR LF
// with key NAME "(" or " AS " NAME. Nothing below the folder may change.
//
// Input layout (every part may be cut short by the end of the input):
//   byte 0            what to create: 1 settings file, 2 it is a folder instead,
//                     4 the folder its first line names, 8 inc/Vorrel,
//                     16 hotinc/Vorrel, 32 module names go to the first folder only
//   bytes 1-2         length of the settings file's content (little-endian), then the content
//   then per entry    one byte kind (1 a folder, 2 a link to nowhere, else a file),
//                     one byte length, then the name's bytes
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "driver/discovery.h"
#include "driver/tool_state.h"

namespace {

namespace fs = std::filesystem;

struct Input {
    std::uint8_t flags = 0;
    std::string settings;
    struct Name {
        std::uint8_t kind;
        std::string bytes;
    };
    std::vector<Name> names;
};

Input decode(const std::uint8_t* data, std::size_t size) {
    Input input;
    std::size_t at = 0;
    auto take = [&](std::size_t count) {
        const std::size_t n = std::min(count, size - at);
        std::string bytes(reinterpret_cast<const char*>(data + at), n);
        at += n;
        return bytes;
    };
    if (at < size) input.flags = data[at++];
    std::size_t length = 0;
    if (at < size) length = data[at++];
    if (at < size) length |= static_cast<std::size_t>(data[at++]) << 8;
    input.settings = take(length);
    while (at + 2 <= size && input.names.size() < 32) {
        const std::uint8_t kind = data[at++];
        const std::uint8_t nameLength = data[at++];
        input.names.push_back({kind, take(nameLength)});
    }
    return input;
}

[[noreturn]] void fail(const std::string& what, const vorrel::ToolState& tool, const std::string& expected) {
    std::fprintf(stderr, "%s\nfolder: [%s]\ncatalogue: [%s]\nexpected: [%s]\n", what.c_str(), tool.vorrelFolder.c_str(),
                 tool.catalogueList.c_str(), expected.c_str());
    std::abort();
}

// A scratch folder of the process, on a RAM disk when there is one.
const fs::path& scratch() {
    static const fs::path folder = [] {
        std::string pattern =
            (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/vorrel-folder-XXXXXX");
        if (!mkdtemp(pattern.data())) std::abort();
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(scratch(), ignored);
        });
        return fs::path(pattern);
    }();
    return folder;
}

std::string slashes(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// The first line of the settings, cut at CR LF, as a relative path to
// create; empty when it is not a plain one.
std::string creatableEntry(const std::string& settings) {
    std::string line = settings.substr(0, settings.find("\r\n"));
    line = slashes(line);
    while (!line.empty() && line.front() == '/') line.erase(0, 1);
    if (line.empty() || line.size() > 512 || line.find('\0') != std::string::npos) return {};
    for (std::size_t start = 0; start <= line.size();) {
        const std::size_t end = std::min(line.find('/', start), line.size());
        const std::string part = line.substr(start, end - start);
        if (part == "." || part == ".." || part.size() > 255) return {};
        start = end + 1;
    }
    return line;
}

// What the program folder may hold: entry names may not hold "/" or a zero
// byte, nor be "." or "..".
std::string creatableName(std::string name) {
    for (char& c : name) {
        if (c == '/' || c == '\0') c = '_';
    }
    if (name.size() > 255) name.resize(255);
    if (name.empty() || name == "." || name == "..") return {};
    return name;
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Every path below the folder with its kind and size, in order.
std::vector<std::string> snapshot(const fs::path& folder) {
    std::vector<std::string> entries;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error); it != fs::recursive_directory_iterator();
         it.increment(error)) {
        struct stat info;
        const std::string path = it->path().string();
        if (lstat(path.c_str(), &info) != 0) continue;
        entries.push_back(path + " " + std::to_string(info.st_mode) + " " + std::to_string(info.st_size));
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

// ---- the rules, on their own -------------------------------------------------

// A path names a folder: not when it ends in a separator; backslashes read
// as slashes; the system sees it up to its first zero byte.
bool namesFolder(const std::string& path) {
    if (path.empty() || path.back() == '\\' || path.back() == '/') return false;
    std::string posix = slashes(path);
    posix.resize(std::min(posix.size(), posix.find('\0')));
    struct stat info;
    return stat(posix.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

std::string upperText(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), upper);
    return text;
}

bool endsWithInc(const std::string& name) {
    return name.size() >= 4 && upperText(name.substr(name.size() - 4)) == ".INC";
}

std::string expectedCatalogue(const std::string& folder) {
    std::string posix = slashes(folder);
    posix.resize(std::min(posix.size(), posix.find('\0')));
    std::vector<std::string> names;
    std::error_code error;
    for (auto it = fs::directory_iterator(posix, error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (endsWithInc(name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string ua = upperText(a), ub = upperText(b);
        if (ua != ub) {
            return std::lexicographical_compare(ua.begin(), ua.end(), ub.begin(), ub.end(), [](char x, char y) {
                return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
            });
        }
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
        });
    });
    const std::size_t lastBackslash = folder.rfind('\\');
    const std::string folderName = lastBackslash == std::string::npos ? folder : folder.substr(lastBackslash + 1);
    std::string catalogue;
    for (const std::string& name : names) {
        const std::string base = upperText(name.substr(0, name.find('.')));
        const bool object = base.compare(0, 2, "O_") == 0;
        const std::string module = object ? base.substr(2) : base;
        catalogue += (object ? " AS " + module : module + "(") + ";$IFNDEF " + module + "~$DEFINE " + module +
                     "~$include \"" + folderName + "\\" + name + "\"~$ENDIF\r\n";
    }
    return catalogue;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 16384) return 0;
    const Input input = decode(data, size);
    const fs::path app = scratch() / "app";
    std::error_code ignored;
    fs::remove_all(scratch(), ignored);
    fs::create_directories(app);

    // The program folder.
    std::vector<fs::path> libraries;
    const bool settingsFile = (input.flags & 1) != 0 && (input.flags & 2) == 0;
    if (settingsFile) writeBytes(app / "VorrelSettings.ini", input.settings);
    if ((input.flags & 3) == 3) fs::create_directories(app / "VorrelSettings.ini");
    const std::string entry = creatableEntry(input.settings);
    if ((input.flags & 4) && !entry.empty()) libraries.push_back(app / entry);
    if (input.flags & 8) libraries.push_back(app / "inc/Vorrel");
    if (input.flags & 16) libraries.push_back(app / "hotinc/Vorrel");
    if ((input.flags & 32) && libraries.size() > 1) libraries.resize(1);
    for (const fs::path& library : libraries) {
        fs::create_directories(library, ignored);
        for (const Input::Name& n : input.names) {
            const std::string name = creatableName(n.bytes);
            if (name.empty()) continue;
            const fs::path path = library / name;
            if (fs::exists(fs::symlink_status(path, ignored))) continue;
            if (n.kind == 1) {
                fs::create_directory(path, ignored);
            } else if (n.kind == 2) {
                fs::create_symlink("nowhere", path, ignored);
            } else {
                writeBytes(path, "' module\r\n");
            }
        }
    }
    const std::vector<std::string> before = snapshot(scratch());

    vorrel::ToolState tool;
    tool.baseFolder = app.string() + "/";
    vorrel::discoverVorrelFolder(tool);

    // Which folder the rules choose.
    std::string expectedFolder;
    if (settingsFile) {
        std::string line = input.settings.substr(0, input.settings.find("\r\n"));
        if (line.empty() || line.front() != '\\') line.insert(0, "\\");
        if (tool.settingsEntry != line) fail("settings entry " + line, tool, "");
        if (namesFolder(tool.baseFolder + line)) expectedFolder = tool.baseFolder + line;
    }
    for (const char* fallback : {"inc\\Vorrel", "hotinc\\Vorrel"}) {
        if (expectedFolder.empty() && namesFolder(tool.baseFolder + fallback))
            expectedFolder = tool.baseFolder + fallback;
    }
    if (tool.folderFound != !expectedFolder.empty()) fail("folder found or not", tool, expectedFolder);
    if (tool.folderFound) {
        if (tool.vorrelFolder != expectedFolder) fail("folder", tool, expectedFolder);
        if (tool.vorrelPrefix != expectedFolder + "\\") fail("folder prefix", tool, expectedFolder);
        const std::string expected = expectedCatalogue(expectedFolder) + "\r\n";
        if (tool.catalogueList != expected) fail("catalogue", tool, expected);
    }
    if (snapshot(scratch()) != before) fail("the search changed the program folder", tool, "");
    return 0;
}
