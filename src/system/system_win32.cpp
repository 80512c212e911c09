// Win32 back end of the system services. Only Windows calls go here, always
// in their ANSI (A) variants, so that paths pass through byte for byte.
#include "system/system.h"

#include <algorithm>
#include <cstdio>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "system/command_line.h"
#include "system/path_rules.h"

namespace vorrel {

namespace {

constexpr DWORD largestChunk = 1u << 30;

HANDLE standardOutput() {
    static const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
    return handle;
}

bool endsWithSeparator(std::string_view path) {
    return !path.empty() && (path.back() == '\\' || path.back() == '/');
}

void closeFind(FileEnumeration& enumeration) {
    if (enumeration.handle != -1) FindClose(reinterpret_cast<HANDLE>(enumeration.handle));
    enumeration = FileEnumeration();
}

// The file a path finally names once symbolic links are followed, so that a
// save replaces the link's target and the link itself stays.
std::string followLinks(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return path;
    std::string finalPath(MAX_PATH, '\0');
    DWORD length = GetFinalPathNameByHandleA(file, finalPath.data(), static_cast<DWORD>(finalPath.size()), 0);
    if (length >= finalPath.size()) {
        finalPath.resize(length + 1);
        length = GetFinalPathNameByHandleA(file, finalPath.data(), static_cast<DWORD>(finalPath.size()), 0);
    }
    CloseHandle(file);
    if (length == 0 || length >= finalPath.size()) return path;
    finalPath.resize(length);
    return finalPath;
}

SaveStatus statusOfWriteError(DWORD error) {
    return (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) ? SaveStatus::diskFull
                                                                         : SaveStatus::writeFailed;
}

SaveStatus writePieces(HANDLE file, const std::vector<std::string_view>& pieces) {
    for (std::string_view piece : pieces) {
        const char* data = piece.data();
        std::size_t size = piece.size();
        while (size > 0) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, largestChunk));
            DWORD written = 0;
            if (!WriteFile(file, data, chunk, &written, nullptr)) return statusOfWriteError(GetLastError());
            if (written == 0) return SaveStatus::writeFailed;
            data += written;
            size -= written;
        }
    }
    return SaveStatus::saved;
}

bool isSharingTrouble(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT;
}

// Puts the finished temporary file in place of target in one step. A virus
// scanner or indexer that briefly holds the file open makes this fail for a
// moment, so it is retried for about a second. ReplaceFileA may fail after
// it has removed the file (it then still holds the new bytes under the
// temporary name); moving the temporary file over then puts it in place.
SaveStatus replaceWith(const std::string& target, const std::string& temporary) {
    for (int attempt = 0;; ++attempt) {
        if (ReplaceFileA(target.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                         nullptr)) {
            return SaveStatus::saved;
        }
        const DWORD replaceError = GetLastError();
        if (MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return SaveStatus::saved;
        }
        const DWORD moveError = GetLastError();
        if (attempt >= 20 || !(isSharingTrouble(replaceError) || isSharingTrouble(moveError))) {
            // The temporary file is then the only copy left, and stays.
            return GetFileAttributesA(target.c_str()) == INVALID_FILE_ATTRIBUTES ? SaveStatus::keptAside
                                                                                 : SaveStatus::replaceFailed;
        }
        SleepEx(50, TRUE);
    }
}

// The temporary file of a save under way, for a console break (Ctrl+C, the
// window closed) to remove before the program ends. The handler runs in a
// thread of its own; the file is opened for sharing its deletion.
const char* volatile pendingTemporary = nullptr;

BOOL WINAPI removeTemporaryOnBreak(DWORD) {
    const char* temporary = pendingTemporary;
    if (temporary != nullptr) DeleteFileA(temporary);
    return FALSE;  // the program then ends as it would have
}

}  // namespace

std::vector<std::string> commandLineTokens(int, char**) {
    const char* line = GetCommandLineA();
    return splitCommandLine(line ? line : "");
}

std::string programFolder(const std::vector<std::string>& tokens) { return folderOfProgram(tokens, "\\"); }

void failOutOfMemory() {
    MessageBoxA(nullptr, "Insufficient memory", "vorrel", MB_OK | MB_ICONERROR);
    ExitProcess(3);
}

void printText(std::string_view text) {
    const char* data = text.data();
    std::size_t size = text.size();
    while (size > 0) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, largestChunk));
        if (!WriteFile(standardOutput(), data, chunk, &written, nullptr) || written == 0) return;
        data += written;
        size -= written;
    }
}

std::uint32_t pathAttributes(const std::string& path) {
    if (path.empty() || endsWithSeparator(path)) return 0;
    WIN32_FIND_DATAA found;
    const HANDLE handle = FindFirstFileA(path.c_str(), &found);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    FindClose(handle);
    return found.dwFileAttributes != 0 ? found.dwFileAttributes : 1;
}

namespace {

// Windows also matches a wildcard against the short 8.3 alias of a name, so
// "*.inc" would deliver "Widget.incx" (alias WIDGET~1.INC); only entries
// whose own name matches are delivered.
std::string nextOwnMatch(FileEnumeration& enumeration, WIN32_FIND_DATAA& found, bool haveFound) {
    const HANDLE handle = reinterpret_cast<HANDLE>(enumeration.handle);
    for (;;) {
        if (!haveFound && !FindNextFileA(handle, &found)) {
            closeFind(enumeration);
            return {};
        }
        haveFound = false;
        if (matchesWildcard(enumeration.wildcard, found.cFileName)) return found.cFileName;
    }
}

}  // namespace

std::string firstFile(FileEnumeration& enumeration, const std::string& pattern) {
    closeFind(enumeration);
    WIN32_FIND_DATAA found;
    const HANDLE handle = FindFirstFileA(pattern.c_str(), &found);
    if (handle == INVALID_HANDLE_VALUE) return {};
    enumeration.handle = reinterpret_cast<std::intptr_t>(handle);
    const std::size_t separator = pattern.find_last_of("\\/:");
    enumeration.wildcard = separator == std::string::npos ? pattern : pattern.substr(separator + 1);
    return nextOwnMatch(enumeration, found, true);
}

std::string nextFile(FileEnumeration& enumeration) {
    if (enumeration.handle == -1) return {};
    WIN32_FIND_DATAA found;
    return nextOwnMatch(enumeration, found, false);
}

LoadStatus loadFile(const std::string& path, std::string& text) {
    if (path.empty()) {
        text.clear();
        return LoadStatus::missing;
    }
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        text.clear();
        const DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return LoadStatus::folder;
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME)
                   ? LoadStatus::missing
                   : LoadStatus::unreadable;
    }
    // Only a file on disk has an end to read to; a pipe or a device (NUL,
    // CON) may never end.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        text.clear();
        return LoadStatus::unreadable;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) size.QuadPart = 0;
    // Read to the end rather than trusting the size, which a writer may
    // change. The bytes text already holds are kept while it grows, so
    // re-reading a file into the text it was read into writes no filler.
    std::size_t used = 0;
    text.resize(size.QuadPart > 0 ? static_cast<std::size_t>(size.QuadPart) + 1 : 4096);
    for (;;) {
        if (used == text.size()) text.resize(text.size() * 2);
        DWORD got = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - used, largestChunk));
        if (!ReadFile(file, text.data() + used, chunk, &got, nullptr)) {
            CloseHandle(file);
            text.clear();
            return LoadStatus::unreadable;
        }
        if (got == 0) break;
        used += got;
    }
    CloseHandle(file);
    text.resize(used);
    return LoadStatus::loaded;
}

SaveStatus saveFile(const std::string& path, const std::vector<std::string_view>& pieces) {
    const DWORD linkAttributes = GetFileAttributesA(path.c_str());
    const bool isLink = linkAttributes != INVALID_FILE_ATTRIBUTES && (linkAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    const std::string target = isLink ? followLinks(path) : path;
    const DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // A save only ever replaces the source; one that has gone since it
        // was read is not made again.
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? SaveStatus::vanished
                                                                              : SaveStatus::replaceFailed;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return SaveStatus::notAFile;
    if (attributes & FILE_ATTRIBUTE_READONLY) return SaveStatus::readOnly;

    const std::size_t separator = target.find_last_of("\\/");
    const std::string folder = separator == std::string::npos ? std::string() : target.substr(0, separator + 1);
    std::string temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (unsigned attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, ".vorrel-%lu-%lu-%u.tmp", static_cast<unsigned long>(GetCurrentProcessId()),
                      static_cast<unsigned long>(GetTickCount()), attempt);
        temporary = folder + name;
        file = CreateFileA(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (file == INVALID_HANDLE_VALUE) {
        return statusOfWriteError(GetLastError()) == SaveStatus::diskFull ? SaveStatus::diskFull
                                                                          : SaveStatus::cannotCreateTemporary;
    }
    pendingTemporary = temporary.c_str();
    SetConsoleCtrlHandler(removeTemporaryOnBreak, TRUE);
    SaveStatus status = writePieces(file, pieces);
    // On the disk before the replace: after a crash the file then holds its
    // old bytes or its new ones, never a file not written out yet.
    if (status == SaveStatus::saved && !FlushFileBuffers(file)) status = statusOfWriteError(GetLastError());
    if (!CloseHandle(file) && status == SaveStatus::saved) status = SaveStatus::writeFailed;
    if (status == SaveStatus::saved) status = replaceWith(target, temporary);
    if (status != SaveStatus::saved && status != SaveStatus::keptAside) DeleteFileA(temporary.c_str());
    SetConsoleCtrlHandler(removeTemporaryOnBreak, FALSE);
    pendingTemporary = nullptr;
    return status;
}

void pauseSeconds(double seconds) {
    const double milliseconds = seconds * 1000.0 + 0.5;
    if (milliseconds >= 1.0) SleepEx(static_cast<DWORD>(milliseconds), TRUE);
}

// Large pages on Windows need a privilege ordinary users lack, and must be
// allocated as such from the start.
void adviseLargeBlock(void*, std::size_t) {}

}  // namespace vorrel
