#include "files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vorrel_bench {

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path) {
    throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

}  // namespace

void makeFolders(const std::string& path) {
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at == path.size() || path[at] == '/') {
            const std::string part = path.substr(0, at);
            if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) fail("cannot create folder", part);
        }
    }
}

void removeTree(const std::string& path) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) return;
    auto remove = [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); };
    if (::nftw(path.c_str(), remove, 16, FTW_DEPTH | FTW_PHYS) != 0) fail("cannot remove", path);
}

bool fileExists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

std::uint64_t fileSize(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) fail("cannot stat", path);
    return static_cast<std::uint64_t>(info.st_size);
}

void writeWholeFile(const std::string& path, std::string_view text) {
    Writer writer(path);
    writer.put(text);
    writer.close();
}

std::string readWholeFile(const std::string& path) {
    MappedFile file(path);
    return std::string(file.text());
}

void copyFile(const std::string& from, const std::string& to, unsigned mode) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) fail("cannot open", from);
    if (::unlink(to.c_str()) != 0 && errno != ENOENT) fail("cannot remove", to);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (out < 0) fail("cannot create", to);
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n < 0) fail("cannot copy to", to);
        if (n == 0) break;
    }
    ::fchmod(out, mode);
    ::close(in);
    if (::close(out) != 0) fail("cannot write", to);
}

void syncAll() { ::sync(); }

MappedFile::MappedFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail("cannot open", path);
    struct stat info;
    if (::fstat(fd, &info) != 0) fail("cannot stat", path);
    size_ = static_cast<std::size_t>(info.st_size);
    if (size_ > 0) {
        void* at = ::mmap(nullptr, size_, PROT_READ, MAP_SHARED, fd, 0);
        if (at == MAP_FAILED) fail("cannot map", path);
        data_ = static_cast<const char*>(at);
    }
    ::close(fd);
}

MappedFile::~MappedFile() {
    if (data_ != nullptr) ::munmap(const_cast<char*>(data_), size_);
}

bool sameContent(const std::string& a, const std::string& b) {
    MappedFile first(a);
    MappedFile second(b);
    return first.text() == second.text();
}

Writer::Writer(const std::string& path) : path_(path) {
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) fail("cannot create", path);
    buffer_.reserve(capacity);
}

Writer::~Writer() {
    if (file_ != nullptr) std::fclose(file_);
}

void Writer::flush() {
    if (!buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
        fail("cannot write", path_);
    }
    buffer_.clear();
}

void Writer::close() {
    flush();
    const int status = std::fclose(file_);
    file_ = nullptr;
    if (status != 0) fail("cannot write", path_);
    std::string().swap(buffer_);
}

}  // namespace vorrel_bench
