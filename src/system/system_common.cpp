// Services whose logic is the same on every platform; they reach the system
// only through the back end's functions.
#include "system/system.h"

#include <new>

namespace vorrel {

void printLineEnd() { printText("\r\n"); }

void printLine(std::string_view text) {
    printText(text);
    printLineEnd();
}

void printNumber(std::int32_t value) { printText(std::to_string(value)); }

void installOutOfMemoryHandler() {
    std::set_new_handler([] { failOutOfMemory(); });
}

const char* describeSaveStatus(SaveStatus status) {
    switch (status) {
    case SaveStatus::saved: return "saved";
    case SaveStatus::vanished: return "the file is no longer there";
    case SaveStatus::keptAside:
        return "the system removed the file and could not put the new one in its place; its new text is in a .vorrel- "
               "file beside it";
    case SaveStatus::readOnly: return "the file is read-only";
    case SaveStatus::notAFile: return "it is not a file";
    case SaveStatus::cannotCreateTemporary: return "cannot create a temporary file in its folder";
    case SaveStatus::diskFull: return "the disk is full";
    case SaveStatus::writeFailed: return "writing failed";
    case SaveStatus::replaceFailed: return "cannot replace the file";
    case SaveStatus::changed: return "another program changed the file after vorrel read it";
    case SaveStatus::tooLarge: return "the file would be larger than this system allows";
    }
    return "unknown failure";
}

}  // namespace vorrel
