// Win32 back end of the system services. Only Windows calls go here, always
// in their ANSI (A) variants, so that paths pass through byte for byte.
#include "system/system.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "system/command_line.h"
#include "system/path_rules.h"

namespace vorrel {

namespace {

// ReadFile and WriteFile calls of hundreds of megabytes can fail with
// ERROR_NO_SYSTEM_RESOURCES under memory pressure or on network shares;
// calls of a megabyte cost no more in all.
constexpr DWORD largestChunk = 1u << 20;

HANDLE standardOutput() {
    static const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
    return handle;
}

bool endsWithSeparator(std::string_view path) { return !path.empty() && (path.back() == '\\' || path.back() == '/'); }

void closeFind(FileEnumeration& enumeration) {
    if (enumeration.handle != -1) FindClose(reinterpret_cast<HANDLE>(enumeration.handle));
    enumeration = FileEnumeration();
}

bool isGoneError(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// A save whose file cannot be looked at: gone, or out of reach for now.
SaveStatus statusOfLookError(DWORD error) {
    return isGoneError(error) ? SaveStatus::vanished : SaveStatus::replaceFailed;
}

// True when nothing is at path any more, as against a path that cannot be
// looked at for now.
bool isGone(const char* path) {
    return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES && isGoneError(GetLastError());
}

// The error of the call that failed the last save, for lastSaveError.
DWORD lastSaveErrorCode = 0;

SaveStatus failed(SaveStatus status, DWORD error) {
    lastSaveErrorCode = error;
    return status;
}

// Text in the ANSI code page, which every path of the tool is in, from the
// UTF-16 that Windows keeps. A character the code page lacks becomes '?',
// which no Windows file name may hold, never a look-alike ("Zł.bas" read as
// "Zl.bas" would name, and rewrite, another file); exact tells whether every
// character converted as it is.
std::string ansiText(std::wstring line, bool& exact) {
    exact = true;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const wchar_t unit = line[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < line.size() && line[i + 1] >= 0xDC00 && line[i + 1] <= 0xDFFF) {
            ++i;  // a whole character, converted or replaced as such
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            line[i] = L'?';  // half a character, which no code page holds
            exact = false;
        }
    }
    if (line.empty()) return {};
    // A UTF-8 code page (a Windows 10 option) holds every character and
    // takes neither flags nor a replacement character.
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const char* replacement = utf8 ? nullptr : "?";
    BOOL replaced = FALSE;
    BOOL* usedReplacement = utf8 ? nullptr : &replaced;
    const int units = static_cast<int>(line.size());
    const int size = WideCharToMultiByte(CP_ACP, flags, line.data(), units, nullptr, 0, replacement, nullptr);
    if (size <= 0) {
        exact = false;
        return {};
    }
    std::string text(static_cast<std::size_t>(size), '\0');
    if (WideCharToMultiByte(CP_ACP, flags, line.data(), units, text.data(), size, replacement, usedReplacement) !=
        size) {
        exact = false;
        return {};
    }
    if (replaced) exact = false;
    return text;
}

// The file a path finally names once symbolic links are followed, so that a
// save replaces the link's target and the link itself stays. A link that
// cannot be followed is not saved through at all: replacing the path itself
// would turn the link into a plain file.
SaveStatus followLinks(const std::string& path, std::string& target) {
    const HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        // A link whose file has gone: that file is not made again.
        const DWORD error = GetLastError();
        return failed(statusOfLookError(error), error);
    }
    // Asked for in UTF-16: the ANSI call would spell a name the code page
    // lacks with look-alikes, and so name another file.
    std::wstring finalPath(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(file, finalPath.data(), static_cast<DWORD>(finalPath.size()), 0);
    if (length >= finalPath.size()) {
        finalPath.resize(length + 1);
        length = GetFinalPathNameByHandleW(file, finalPath.data(), static_cast<DWORD>(finalPath.size()), 0);
    }
    CloseHandle(file);
    if (length == 0 || length >= finalPath.size()) return SaveStatus::replaceFailed;
    finalPath.resize(length);
    bool exact = false;
    target = ansiText(finalPath, exact);
    return exact ? SaveStatus::saved : SaveStatus::replaceFailed;
}

// The path with its folder spelled out, as Windows itself reads it. The
// temporary file must go into the file's own folder, which for "C:x.bas" is
// drive C:'s current folder, not necessarily the program's; and ReplaceFileA
// wants a folder part (wine's fails on a bare file name).
std::string fullPath(const std::string& path) {
    std::string full(MAX_PATH, '\0');
    DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length);
        length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    if (length == 0 || length >= full.size()) return path;
    full.resize(length);
    return full;
}

bool stampOf(HANDLE file, FileStamp& stamp) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return false;
    stamp.volume = info.dwVolumeSerialNumber;
    stamp.file = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    stamp.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    stamp.written = (std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) | info.ftLastWriteTime.dwLowDateTime;
    return true;
}

// Whether target is still the file that was read, as it was read. Asking for
// its attributes only, the look never conflicts with a program that holds
// the file open, however it shares it.
SaveStatus compareStamp(const std::string& target, const FileStamp& readAs) {
    const HANDLE file =
        CreateFileA(target.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return failed(statusOfLookError(error), error);
    }
    FileStamp now;
    const bool stamped = stampOf(file, now);
    CloseHandle(file);
    if (!stamped) return SaveStatus::replaceFailed;
    return now == readAs ? SaveStatus::saved : SaveStatus::changed;
}

SaveStatus statusOfWriteError(DWORD error) {
    if (error == ERROR_FILE_TOO_LARGE) return SaveStatus::tooLarge;  // such as 4 GiB on FAT32
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
            if (!WriteFile(file, data, chunk, &written, nullptr)) {
                const DWORD error = GetLastError();
                return failed(statusOfWriteError(error), error);
            }
            if (written == 0) return SaveStatus::writeFailed;
            data += written;
            size -= written;
        }
    }
    return SaveStatus::saved;
}

bool isSharingTrouble(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

// A file the user may not write is left alone, although ReplaceFileA asks
// only for leave to delete it. A program that holds the file without sharing
// it decides nothing here; the replace waits for it.
SaveStatus mayWrite(const std::string& target) {
    const HANDLE file =
        CreateFileA(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return SaveStatus::saved;
    }
    const DWORD error = GetLastError();
    return error == ERROR_ACCESS_DENIED ? failed(SaveStatus::replaceFailed, error) : SaveStatus::saved;
}

// The temporary file of a save under way and the file it is to replace, for
// a console break (Ctrl+C, the window closed) to remove the temporary file
// before the program ends. The handler runs in a thread of its own, so both
// are only read or changed under the lock, which a save holds while it
// creates the temporary file, and from the first ReplaceFileA until the
// temporary file is settled, except while it waits to try again: a break never removes the temporary file in the
// middle of a replace, nor the only copy that a failed replace left. The
// handler keeps the lock, so that no replace starts once the program is
// ending: ending it in the middle of one could leave the file without its
// name. The temporary file is opened for sharing its deletion.
SRWLOCK pendingLock = SRWLOCK_INIT;
const char* pendingTemporary = nullptr;
const char* pendingTarget = nullptr;

BOOL WINAPI removeTemporaryOnBreak(DWORD event) {
    // A program run as a service is not ended by these two; nor do they
    // reach one that uses user32.dll, as this one does.
    if (event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) return FALSE;
    AcquireSRWLockExclusive(&pendingLock);
    // Once the file itself is gone, the temporary file may be the only copy.
    if (pendingTemporary != nullptr && !isGone(pendingTarget)) DeleteFileA(pendingTemporary);
    return FALSE;  // the program then ends as it would have
}

// The temporary file of a save under way: on every return that neither put
// it in place nor kept it as the only copy of the text, it is closed and
// removed under the lock; the console-break handler is let go either way.
struct TemporaryFile {
    std::string name;
    HANDLE file;
    bool locked = false;  // this save holds pendingLock
    bool kept = false;
    ~TemporaryFile() {
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        if (!locked) AcquireSRWLockExclusive(&pendingLock);
        if (!kept) DeleteFileA(name.c_str());
        pendingTemporary = nullptr;
        pendingTarget = nullptr;
        ReleaseSRWLockExclusive(&pendingLock);
        SetConsoleCtrlHandler(removeTemporaryOnBreak, FALSE);
    }
};

// Puts the finished temporary file in place of target in one step, provided
// target is still the file that was read. A virus scanner or indexer that
// briefly holds the file open makes ReplaceFileA fail for a moment, so it is
// retried for about a second. Nothing else ever replaces the file: a plain
// move would carry over none of its ACL, attributes, streams or creation
// time, and would replace even a file whose ACL forbids writing it. Runs
// under the lock.
SaveStatus replaceWith(const std::string& target, const std::string& temporary, const FileStamp* readAs) {
    for (int attempt = 0;; ++attempt) {
        if (readAs != nullptr) {
            const SaveStatus now = compareStamp(target, *readAs);
            if (now != SaveStatus::saved) return now;
        }
        if (ReplaceFileA(target.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                         nullptr)) {
            return SaveStatus::saved;
        }
        const DWORD error = GetLastError();
        // Without a backup file, a ReplaceFileA that could not move the new
        // file in has already removed the old one, and so has one that fails
        // otherwise and leaves no file behind: the temporary file then holds
        // the only copy of the text. It takes the free name, but never that
        // of a file that has appeared there since; failing that it stays
        // where it is, and the report says so.
        const bool removed = error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2;
        if (removed || isGone(target.c_str())) {
            // Removed by another program before ReplaceFileA came to it: not
            // made again.
            if (!removed && isGoneError(error)) return failed(SaveStatus::vanished, error);
            if (isGone(target.c_str()) && MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
                return SaveStatus::saved;
            }
            return failed(SaveStatus::keptAside, error);
        }
        if (attempt >= 20 || !isSharingTrouble(error)) return failed(SaveStatus::replaceFailed, error);
        // Both names are as they were: a break may remove the temporary file
        // meanwhile, and then keeps the lock until the program has ended.
        ReleaseSRWLockExclusive(&pendingLock);
        SleepEx(50, TRUE);
        AcquireSRWLockExclusive(&pendingLock);
    }
}

}  // namespace

std::vector<std::string> commandLineTokens(int, char**) {
    const wchar_t* line = GetCommandLineW();
    // Converted whole, so that splitCommandLine's rules apply to the ANSI
    // bytes as ever; a token with a '?' names no file ("Source file not
    // found Z?.bas") while the tokens around it stay as they were.
    bool exact = false;
    return splitCommandLine(ansiText(line ? line : L"", exact));
}

// Windows takes "/" as a separator too, and Git Bash and editors start the
// program as C:/tools/vorrel.exe.
std::string programFolder(const std::vector<std::string>& tokens) { return folderOfProgram(tokens, "\\/"); }

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

LoadStatus loadFile(const std::string& path, std::string& text, FileStamp* stamp) {
    if (stamp != nullptr) *stamp = FileStamp();
    if (path.empty()) {
        text.clear();
        return LoadStatus::missing;
    }
    // Editors and build tools keep files open for writing, sharing them; a
    // module read as empty would lose its members' letter case.
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        text.clear();
        const DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return LoadStatus::folder;
        return (isGoneError(error) || error == ERROR_INVALID_NAME) ? LoadStatus::missing : LoadStatus::unreadable;
    }
    // Only a file on disk has an end to read to; a pipe or a device (NUL,
    // CON) may never end. The stamp is taken before the first byte is read,
    // so that a write during the read changes the file's stamp from it.
    if (GetFileType(file) != FILE_TYPE_DISK || (stamp != nullptr && !stampOf(file, *stamp))) {
        CloseHandle(file);
        text.clear();
        if (stamp != nullptr) *stamp = FileStamp();
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
            if (stamp != nullptr) *stamp = FileStamp();
            return LoadStatus::unreadable;
        }
        if (got == 0) break;
        used += got;
    }
    CloseHandle(file);
    text.resize(used);
    return LoadStatus::loaded;
}

namespace {

// The file a save of path replaces, through any links, and whether it may:
// SaveStatus::saved when it may.
SaveStatus findSaveTarget(const std::string& path, std::string& target) {
    const std::string full = fullPath(path);
    target = full;
    const DWORD linkAttributes = GetFileAttributesA(full.c_str());
    if (linkAttributes != INVALID_FILE_ATTRIBUTES && (linkAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        const SaveStatus followed = followLinks(full, target);
        if (followed != SaveStatus::saved) return followed;
    }
    const DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // A save only ever replaces the source; one that has gone since it
        // was read is not made again.
        const DWORD error = GetLastError();
        return failed(statusOfLookError(error), error);
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return SaveStatus::notAFile;
    if (attributes & FILE_ATTRIBUTE_READONLY) return SaveStatus::readOnly;
    return SaveStatus::saved;
}

}  // namespace

SaveStatus saveFile(const std::string& path, const std::vector<std::string_view>& pieces, const FileStamp* readAs) {
    lastSaveErrorCode = 0;
    std::string target;
    const SaveStatus found = findSaveTarget(path, target);
    if (found != SaveStatus::saved) return found;

    const std::size_t separator = target.find_last_of("\\/");
    const std::string folder = separator == std::string::npos ? std::string() : target.substr(0, separator + 1);
    std::string name;
    HANDLE file = INVALID_HANDLE_VALUE;
    // A break while the temporary file is made waits until it is known, and
    // then removes it; one before that ends the program before there is any.
    SetConsoleCtrlHandler(removeTemporaryOnBreak, TRUE);
    AcquireSRWLockExclusive(&pendingLock);
    for (unsigned attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        char unique[64];
        std::snprintf(unique, sizeof unique, ".vorrel-%lu-%lu-%u.tmp",
                      static_cast<unsigned long>(GetCurrentProcessId()), static_cast<unsigned long>(GetTickCount()),
                      attempt);
        name = folder + unique;
        file = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        ReleaseSRWLockExclusive(&pendingLock);
        SetConsoleCtrlHandler(removeTemporaryOnBreak, FALSE);
        const bool full = statusOfWriteError(error) == SaveStatus::diskFull;
        return failed(full ? SaveStatus::diskFull : SaveStatus::cannotCreateTemporary, error);
    }
    TemporaryFile temporary{name, file, true};
    pendingTemporary = temporary.name.c_str();
    pendingTarget = target.c_str();
    ReleaseSRWLockExclusive(&pendingLock);
    temporary.locked = false;
    const SaveStatus written = writePieces(file, pieces);
    if (written != SaveStatus::saved) return written;
    // On the disk before the replace: after a crash the file then holds its
    // old bytes or its new ones, never a file not written out yet.
    if (!FlushFileBuffers(file)) {
        const DWORD error = GetLastError();
        return failed(statusOfWriteError(error), error);
    }
    temporary.file = INVALID_HANDLE_VALUE;
    if (!CloseHandle(file)) return failed(SaveStatus::writeFailed, GetLastError());
    const SaveStatus writable = mayWrite(target);
    if (writable != SaveStatus::saved) return writable;
    AcquireSRWLockExclusive(&pendingLock);
    temporary.locked = true;
    const SaveStatus status = replaceWith(target, temporary.name, readAs);
    temporary.kept = status == SaveStatus::saved || status == SaveStatus::keptAside;
    return status;
}

std::string lastSaveError() {
    if (lastSaveErrorCode == 0) return {};
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  lastSaveErrorCode, 0, text, sizeof text, nullptr);
    // The system's texts end in a full stop and CR LF, which the report's own line does not want.
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == '.' ||
                          text[length - 1] == ' ')) {
        --length;
    }
    return length > 0 ? std::string(text, length) : "error " + std::to_string(lastSaveErrorCode);
}

void pauseSeconds(double seconds) {
    const double milliseconds = seconds * 1000.0 + 0.5;
    if (milliseconds >= 1.0) SleepEx(static_cast<DWORD>(milliseconds), TRUE);
}

// A write to a closed pipe fails as an error on Windows; no signal ends the
// program there.
void keepRunningOnRefusedWrites() {}

// Large pages on Windows need a privilege ordinary users lack, and must be
// allocated as such from the start.
void* allocateBlock(std::size_t size) { return std::malloc(size); }

}  // namespace vorrel
