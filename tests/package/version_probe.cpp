// Reads a Windows program's file properties and manifests back the way
// Windows itself does (GetFileVersionInfoA, VerQueryValueA, the resource
// functions), for the packaging tests.
//
//   vorrel_version_probe <program>             the version resource and the
//                                              manifest resource names, one
//                                              "name=value" line each
//   vorrel_version_probe <program> --manifest  the bytes of manifest 1
//
// Exit code 0 when the asked-for resource is there, 2 when it is not, 1 when
// the program cannot be read.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

void put(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void putLine(const std::string& name, const std::string& value) { put(name + "=" + value + "\n"); }

std::string hex(unsigned long value, int digits) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%0*lx", digits, value);
    return buffer;
}

std::string versionNumbers(DWORD high, DWORD low) {
    return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." + std::to_string(HIWORD(low)) +
           "." + std::to_string(LOWORD(low));
}

// The string values a Windows program's Details tab shows.
const char* const stringNames[] = {"CompanyName",      "FileDescription", "FileVersion", "InternalName",
                                   "LegalCopyright",   "OriginalFilename", "ProductName", "ProductVersion"};

int printVersion(const char* program) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(program, &ignored);
    if (size == 0) {
        putLine("version", "none");
        return 2;
    }
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(program, 0, size, block.data())) {
        putLine("version", "unreadable");
        return 1;
    }
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) {
        putLine("fixed", "none");
        return 2;
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    putLine("signature", hex(fixed->dwSignature, 8));
    putLine("fixed.FileVersion", versionNumbers(fixed->dwFileVersionMS, fixed->dwFileVersionLS));
    putLine("fixed.ProductVersion", versionNumbers(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
    putLine("fixed.FileFlags", hex(fixed->dwFileFlags & fixed->dwFileFlagsMask, 8));
    putLine("fixed.FileOS", hex(fixed->dwFileOS, 8));
    putLine("fixed.FileType", hex(fixed->dwFileType, 8));

    if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length) || length < 4) {
        putLine("translation", "none");
        return 2;
    }
    const auto* translation = static_cast<const WORD*>(value);
    const std::string language = hex(translation[0], 4) + hex(translation[1], 4);
    putLine("translation", language);
    for (const char* name : stringNames) {
        const std::string key = "\\StringFileInfo\\" + language + "\\" + name;
        if (VerQueryValueA(block.data(), key.c_str(), &value, &length) && length > 0) {
            putLine(name, static_cast<const char*>(value));
        } else {
            putLine(name, "(missing)");
        }
    }
    return 0;
}

BOOL CALLBACK collectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR names) {
    reinterpret_cast<std::vector<std::string>*>(names)->push_back(
        IS_INTRESOURCE(name) ? std::to_string(reinterpret_cast<ULONG_PTR>(name)) : std::string(name));
    return TRUE;
}

HMODULE openResources(const char* program) {
    return LoadLibraryExA(program, nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

int printManifestNames(const char* program) {
    HMODULE module = openResources(program);
    if (module == nullptr) {
        putLine("manifests", "unreadable");
        return 1;
    }
    std::vector<std::string> names;
    EnumResourceNamesA(module, RT_MANIFEST, collectName, reinterpret_cast<LONG_PTR>(&names));
    FreeLibrary(module);
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : ",") + name;
    putLine("manifests", list.empty() ? "none" : list);
    return names.empty() ? 2 : 0;
}

int printManifest(const char* program) {
    HMODULE module = openResources(program);
    if (module == nullptr) return 1;
    int status = 2;
    if (HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), RT_MANIFEST)) {
        const DWORD size = SizeofResource(module, found);
        HGLOBAL loaded = LoadResource(module, found);
        const void* bytes = loaded ? LockResource(loaded) : nullptr;
        if (bytes != nullptr) {
            std::fwrite(bytes, 1, size, stdout);
            status = 0;
        }
    }
    FreeLibrary(module);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc == 3 && std::strcmp(argv[2], "--manifest") == 0) return printManifest(argv[1]);
    if (argc != 2) {
        std::fputs("usage: vorrel_version_probe <program> [--manifest]\n", stderr);
        return 1;
    }
    const int version = printVersion(argv[1]);
    const int manifests = printManifestNames(argv[1]);
    std::fflush(stdout);
    return version != 0 ? version : manifests;
}
