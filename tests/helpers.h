#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

// A fixture that runs each test inside a fresh folder of its own, so that
// relative paths in arguments and messages are what a user would type.
class InTempDir : public testing::Test {
protected:
    void SetUp() override {
        // A new folder of a random name: create_directory says whether it
        // was made now, as mkdtemp would, and Windows has no mkdtemp.
        std::random_device random;
        do {
            root_ = std::filesystem::temp_directory_path() / ("bytemend-" + std::to_string(random()));
        } while (!std::filesystem::create_directory(root_));
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

// A path from UTF-8 text, which Windows would otherwise read in its ANSI
// code page.
inline std::filesystem::path u8(const std::string& text) {
    return {std::u8string(text.begin(), text.end())};
}

inline void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream(u8(path), std::ios::binary) << bytes;
}

// Through the stream buffer in bulk: a byte at a time takes most of a
// sanitizer build's time on files of many MiB.
inline std::string read_file(const std::string& path) {
    std::ifstream in(u8(path), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return std::move(bytes).str();
}

// Bytes of no short period, larger than two chunks of the buffered copy, so
// that a copy meets its boundaries.
inline std::string copy_sample() {
    std::string bytes(2 * 256 * 1024 + 3, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7 + i / 251);
    }
    return bytes;
}

inline std::string with_byte(std::string bytes, size_t at, char byte) {
    bytes.at(at) = byte;
    return bytes;
}
