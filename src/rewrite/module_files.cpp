#include "rewrite/module_files.h"

#include "system/system.h"

namespace vorrel {

std::string readModuleFile(ModuleFiles& modules, const std::string& path) {
    modules.reads.push_back(path);
    if (modules.files) {
        const auto found = modules.files->find(path);
        return found == modules.files->end() ? std::string() : found->second;
    }
    std::string text;
    loadFile(path, text);
    return text;
}

}  // namespace vorrel
