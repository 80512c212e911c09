#include "io_floor.h"

#include <string_view>

#include "system/system.h"

namespace vorrel_bench {

// Through the tool's own file layer, so that the floor reads, writes, flushes
// and renames exactly as a run does, and reuses the text's memory as it does.
int ioFloor(const std::string& path) {
    using vorrel::LoadStatus;
    using vorrel::SaveStatus;
    std::string text;
    vorrel::FileStamp stamp;
    if (vorrel::loadFile(path, text, &stamp) != LoadStatus::loaded) return 1;
    if (vorrel::saveFile(path, {text}, &stamp) != SaveStatus::saved) return 1;
    vorrel::pauseSeconds(0.1);
    if (vorrel::loadFile(path, text, &stamp) != LoadStatus::loaded) return 1;
    const std::string_view line = "$include \"vorrel\\floor.inc\"\r\n";
    return vorrel::saveFile(path, {line, text}, &stamp) == SaveStatus::saved ? 0 : 1;
}

}  // namespace vorrel_bench
