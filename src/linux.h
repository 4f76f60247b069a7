#pragma once

#include <string>

namespace bytemend {

// File systems by statfs's number.
constexpr unsigned long ext4 = 0xEF53;
constexpr unsigned long xfs = 0x58465342;
constexpr unsigned long btrfs = 0x9123683E;
constexpr unsigned long tmpfs = 0x01021994;
constexpr unsigned long fuse = 0x65735546;

// The file system of an open file; 0 where it cannot be had.
unsigned long file_system(int fd);

// A file of /proc or /sys, whole; empty where there is none.
std::string read_text(const std::string& name);

}  // namespace bytemend
