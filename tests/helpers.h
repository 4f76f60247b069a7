#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// A fixture that runs each test inside a fresh folder of its own, so that
// relative paths in arguments and messages are what a user would type.
class InTempDir : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "bytemend-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        std::filesystem::create_directory(root_ / "work");
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(root_ / "work");
    }
    void TearDown() override {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(root_);
    }

    std::filesystem::path root_;
    std::filesystem::path previous_;
};

inline void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline std::string with_byte(std::string bytes, size_t at, char byte) {
    bytes.at(at) = byte;
    return bytes;
}
