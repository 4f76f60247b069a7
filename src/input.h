#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>

#include "file.h"
#include "file_system.h"

namespace bytemend {

// Each step of a run prints its one line on failure and answers false or
// nothing; the caller only has to stop.

struct Input {
    const char* path = nullptr;  // as typed, for the messages
    File file;
    struct stat status {};
    std::int64_t length = 0;
    std::optional<FileId> id;
};

// Opens the input and measures it. Only regular files and block devices have
// a length to patch within.
std::optional<Input> open_input(const char* path);

// Refuses a location outside the input, naming it and the input's length.
bool check_location(const Input& input, std::int64_t location);

}  // namespace bytemend
