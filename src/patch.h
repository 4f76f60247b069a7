#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>

#include "file.h"
#include "platform.h"

namespace bytemend {

// Each step prints its one line on failure and answers false or nothing; the
// caller only has to stop.

struct Input {
    File file;
    struct stat status {};
    std::int64_t length = 0;
    std::optional<FileId> id;
};

struct Output {
    const char* path = nullptr;
    File file;
    struct stat status {};
    std::optional<FileId> id;
    bool created = false;        // made by this run, so ours to remove if unfinished
    bool named = true;           // false while a new file waits to be complete
    bool same_as_input = false;  // the same file: patch in place, never truncate
};

// Opens the input and measures it. Only regular files and block devices have
// a length to patch within.
std::optional<Input> open_input(const char* path);

// Refuses a location outside the input, naming it and the input's length.
bool check_location(const Input& input, const char* path, std::int64_t location);

// Opens the output as a "w+" stream would (created if missing, through a
// symlink, truncated otherwise), except that the input itself is recognised
// by identity first and left whole. A new file takes the input's permissions.
std::optional<Output> open_output(const char* path, const Input& input);

// Stores the byte at its location in the output, touching nothing else: the
// whole patch when the output is the input, the last step of a kernel copy.
bool patch_in_place(const Output& output, std::int64_t location, unsigned char byte);

// Writes the input's bytes to the output with the byte at location replaced:
// by sharing blocks or inside the kernel where it can, through a buffer where
// it cannot. A sparse input gives a sparse output.
bool copy_patched(const Input& input, const Output& output, std::int64_t location,
                  unsigned char byte);

// The buffered copy on its own, for outputs that cannot seek and for tests.
bool stream_copy(const Input& input, const Output& output, std::int64_t location,
                 unsigned char byte);

// Gives a new output its name now that it is complete, and closes the output;
// a failed close means its data cannot be trusted.
bool close_output(Output& output);

// Removes an output that this run created and could not finish. A file that
// was there before, a device or a pipe is never removed.
void remove_unfinished(Output& output);

}  // namespace bytemend
