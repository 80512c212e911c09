// Console, command line, path, folder-listing, file and memory services. One
// implementation per platform: system_posix.cpp and system_win32.cpp, chosen
// by the build. Both give the same results for the same file-system contents.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vorrel {

/// Attribute bit that pathAttributes sets for a folder.
inline constexpr std::uint32_t folderAttribute = 16;

/// The command line as tokens, token 0 naming the program: argv on POSIX,
/// the tokenized GetCommandLineA() on Windows (argc and argv are unused there).
std::vector<std::string> commandLineTokens(int argc, char** argv);

/// The folder of the program, ending in its path separator, taken from
/// token 0; empty when the program was started by a bare name.
std::string programFolder(const std::vector<std::string>& tokens);

/// Makes every later failure to allocate memory end the process through
/// failOutOfMemory.
void installOutOfMemoryHandler();

/// Makes a write that the system refuses (to a closed pipe, past a limit on
/// the size of files) fail like any other instead of ending the process, so
/// that a save can still report it and clean up after itself.
void keepRunningOnRefusedWrites();

/// Reports "Insufficient memory" (a message box on Windows, standard error
/// elsewhere) and ends the process with exit code 3.
[[noreturn]] void failOutOfMemory();

/// Writes the bytes of text to standard output, without a line end.
void printText(std::string_view text);

/// Writes CR LF to standard output.
void printLineEnd();

/// Writes text, then CR LF, to standard output.
void printLine(std::string_view text);

/// Writes value in decimal: a minus sign when negative, no padding.
void printNumber(std::int32_t value);

/// 0 when nothing is at path; otherwise its attribute word, which has
/// folderAttribute set for a folder and some other bit set for anything else.
/// A path ending in a separator always gives 0.
std::uint32_t pathAttributes(const std::string& path);

/// State of one folder listing; start it with firstFile.
struct FileEnumeration {
    std::intptr_t handle = -1;       // the platform's find handle, if it keeps one
    std::string wildcard;            // the pattern's last component
    std::vector<std::string> names;  // matches still to deliver, if it collects them
    std::size_t next = 0;
};

/// Starts listing the entries that match pattern (a folder, a separator and
/// a wildcard name) and returns the first entry's bare name, or the empty text.
std::string firstFile(FileEnumeration& enumeration, const std::string& pattern);

/// The next entry's bare name, or the empty text once the listing is done.
std::string nextFile(FileEnumeration& enumeration);

/// Outcome of reading a whole file.
enum class LoadStatus { loaded, missing, folder, unreadable };

/// Which file a path led to and its state when read: the volume, the file's
/// number on it, its size and when it was last written. Another program that
/// writes the file, or puts another one in its place, changes the stamp.
struct FileStamp {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    std::uint64_t size = 0;
    std::uint64_t written = 0;  // in the system's own units
    bool operator==(const FileStamp& other) const {
        return volume == other.volume && file == other.file && size == other.size && written == other.written;
    }
    bool operator!=(const FileStamp& other) const { return !(*this == other); }
};

/// Reads the whole file at path into text (empty unless loaded), reusing the
/// memory text holds, and when stamp is given, stamps the file as it was
/// before the read. Never creates or changes anything. Only a regular file
/// is read: a named pipe or a device is unreadable, without waiting on it.
LoadStatus loadFile(const std::string& path, std::string& text, FileStamp* stamp = nullptr);

/// Outcome of replacing a file's content.
enum class SaveStatus {
    saved,
    vanished,  // the file is no longer there
    readOnly,
    notAFile,
    cannotCreateTemporary,
    diskFull,
    writeFailed,
    replaceFailed,
    keptAside,  // the system removed the file and could not put the new one in its place
    changed,    // another program wrote the file, or put another in its place, after it was read
    tooLarge,   // the system's limit on the size of a file forbids the new content
};

/// Replaces the content of the existing file at path with the pieces, one
/// after the other, all or nothing: either the file holds the new bytes,
/// written to the disk before they replace the old ones, or it keeps its old
/// ones, and no temporary file stays behind, not even when a signal or a
/// console break ends the program. A symbolic link is followed; a read-only
/// file, or one the user may not write, is left alone; a missing one is not
/// created. When readAs is given, the file is replaced only if its stamp,
/// taken once the new bytes are on the disk, still equals readAs.
SaveStatus saveFile(const std::string& path, const std::vector<std::string_view>& pieces,
                    const FileStamp* readAs = nullptr);

/// Short English description of a failed save, such as "the file is read-only".
const char* describeSaveStatus(SaveStatus status);

/// The system's own text for the call that made the last saveFile fail, such
/// as "No space left on device"; empty when no system call failed.
std::string lastSaveError();

/// Suspends the process for the given number of seconds (millisecond grain).
void pauseSeconds(double seconds);

/// A block of size bytes from the C heap, to free with std::free; null when
/// there is no room. Where the system can, its memory is backed by large
/// pages, which spares a page fault per 4 KiB on first touch.
void* allocateBlock(std::size_t size);

}  // namespace vorrel
