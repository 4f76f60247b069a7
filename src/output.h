#pragma once

#include <sys/stat.h>

#include <array>
#include <cstddef>
#include <optional>

#include "file.h"
#include "input.h"
#include "platform.h"

namespace bytemend {

struct Output {
    const char* path = nullptr;  // as typed, for the messages
    // Where a file that this run makes is named: the path, or where a
    // dangling symlink at the path points.
    std::array<char, name_room> name{};
    File file;
    struct stat status {};  // as opened: an existing file's old size and type
    std::optional<FileId> id;
    mode_t mode = 0;             // a new file's permissions
    bool created = false;        // made by this run, so ours to remove if unfinished
    bool named = true;           // false while a new file waits to be complete
    bool same_as_input = false;  // the same file: patch in place
};

// Opens the output as a "w+" stream would (created if missing, through a
// symlink) but never empties it: an existing file is overwritten in place and
// cut to length at the end, so that an output that is the input by a road
// this run cannot see keeps its bytes. The input itself is recognised by
// identity and patched in place; standard output is refused, since the
// report would be mixed into the data. A new file takes the input's
// permissions.
std::optional<Output> open_output(const char* path, const Input& input);

// Gives a new output its name now that it is complete, and closes the output;
// a failed close means its data cannot be trusted.
bool close_output(Output& output);

// Removes an output that this run created and could not finish. A file that
// was there before, a device or a pipe is never removed.
void remove_unfinished(Output& output);

}  // namespace bytemend
