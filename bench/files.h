// File helpers of the benchmark (POSIX).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace vorrel_bench {

void makeFolders(const std::string& path);
void removeTree(const std::string& path);
bool fileExists(const std::string& path);
std::uint64_t fileSize(const std::string& path);
void writeWholeFile(const std::string& path, std::string_view text);
std::string readWholeFile(const std::string& path);
/// Replaces to with a fresh copy of from (mode 0644), copied in the kernel.
void copyFile(const std::string& from, const std::string& to, unsigned mode = 0644);
/// Writes what is pending on every file system to disk.
void syncAll();

/// A read-only view of a whole file; unmapped again when it goes.
class MappedFile {
public:
    explicit MappedFile(const std::string& path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    std::string_view text() const { return {data_, size_}; }

private:
    const char* data_ = nullptr;
    std::size_t size_ = 0;
};

bool sameContent(const std::string& a, const std::string& b);

/// Buffered sequential writer that counts the bytes it has written.
class Writer {
public:
    explicit Writer(const std::string& path);
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    void put(std::string_view text) {
        if (buffer_.size() + text.size() > capacity) flush();
        buffer_.append(text.data(), text.size());
        position_ += text.size();
    }
    void put(char c) {
        if (buffer_.size() + 1 > capacity) flush();
        buffer_.push_back(c);
        ++position_;
    }
    std::uint64_t position() const { return position_; }
    void close();

private:
    static constexpr std::size_t capacity = 1 << 20;
    void flush();
    std::FILE* file_ = nullptr;
    std::string buffer_;
    std::uint64_t position_ = 0;
    std::string path_;
};

}  // namespace vorrel_bench
