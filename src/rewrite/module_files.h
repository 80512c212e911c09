// Where the rewriting reads module files from: the disk, or a map standing in
// for it in tests. Every read is recorded, so tests can check which module
// files a run opened.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace vorrel {

struct ModuleFiles {
    const std::map<std::string, std::string>* files = nullptr;  // path -> content; the disk when null
    std::vector<std::string> reads;                             // every path read, in order
};

/// The whole content of the module file at path; empty when it cannot be read.
std::string readModuleFile(ModuleFiles& modules, const std::string& path);

}  // namespace vorrel
