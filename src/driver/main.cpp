#include <new>
#include <stdexcept>

#include "driver/driver.h"
#include "system/system.h"

int main(int argc, char** argv) {
    vorrel::installOutOfMemoryHandler();
    vorrel::keepRunningOnRefusedWrites();
    try {
        vorrel::ToolState tool;
        tool.commandLine = vorrel::commandLineTokens(argc, argv);
        return vorrel::runTool(tool);
    } catch (const std::bad_alloc&) {
        vorrel::failOutOfMemory();
    } catch (const std::length_error&) {
        vorrel::failOutOfMemory();
    }
}
