// Checks of what a run of the tool left behind, independent of the
// reference program: usable at any size.
#pragma once

#include <cstdint>
#include <string>

namespace vorrel_bench {

struct OutputCheck {
    bool ok = true;
    std::string problem;          // the first thing found wrong
    std::uint64_t recasedBytes = 0;  // bytes whose letter case the run changed
    std::uint64_t usesChecked = 0;
    std::uint32_t blocks = 0;     // include blocks inserted
};

/// Compares output with the input it was made from: the output must be the
/// input with only the letter case of A-Z changed, plus a run of four-line
/// include blocks ($IFNDEF, $DEFINE, $include, $ENDIF) inserted above the
/// first line not beginning with "$". With usesPath, every module use
/// recorded there must now be in upper case.
OutputCheck checkOutput(const std::string& inputPath, const std::string& outputPath, const std::string& usesPath,
                        bool checkUses);

/// The N of "Added N vorrels to your Hotbasic application" when the console
/// output is the tool's three CR LF lines, else -1.
long addedCount(const std::string& consoleOutput);

}  // namespace vorrel_bench
