// A fresh folder per test of the system services, removed after a test that
// passed and kept for a look after one that failed.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

namespace vorrel {

class FolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        folder_ = std::filesystem::temp_directory_path() / ("vorrel-system-test-" + std::to_string(random()));
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        if (!HasFailure()) {
            std::error_code ignored;
            makeWritable(folder_);
            std::filesystem::remove_all(folder_, ignored);
        }
    }

    std::string path(const std::string& name) const { return (folder_ / name).string(); }

    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(folder_ / name, std::ios::binary) << bytes;
    }

    std::string read(const std::string& name) const {
        std::ifstream in(folder_ / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // Tests take write permission away; the folder must still go afterwards.
    static void makeWritable(const std::filesystem::path& where) {
        namespace fs = std::filesystem;
        std::error_code ignored;
        for (const auto& entry : fs::recursive_directory_iterator(where, ignored)) {
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
        fs::permissions(where, fs::perms::owner_all, fs::perm_options::add, ignored);
    }

    std::filesystem::path folder_;
};

}  // namespace vorrel
