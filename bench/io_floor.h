// The file work every vorrel run on a file that needs re-casing must do,
// and nothing else, done by the tool's own file functions: a baseline closer
// to vorrel than a kernel-side copy.
#pragma once

#include <string>

namespace vorrel_bench {

/// Reads the file, saves the same bytes through a temporary file (flushed
/// to the disk) and a rename, waits the tool's 0.1 s, reads it again and
/// saves it once more with one line put in front. Returns an exit code.
int ioFloor(const std::string& path);

}  // namespace vorrel_bench
