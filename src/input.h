#pragma once

#include <cstdint>
#include <optional>

#include "file.h"
#include "file_system.h"

namespace bytemend {

// Each step prints its one line on failure and answers false or nothing.

struct Input {
    const char* path = nullptr;  // as typed, for the messages
    File file;
    OpenFile opened;
    std::int64_t length = 0;
};

// Opens the input and measures it: a regular file or a block device.
std::optional<Input> open_input(const char* path);

bool check_location(const Input& input, std::int64_t location);

// Says that `location` is outside the file at `path`, `length` bytes long,
// or `now` that long where another program cut it meanwhile. False.
bool say_outside(const char* path, std::int64_t location, std::int64_t length, bool now);

}  // namespace bytemend
