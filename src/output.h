#pragma once

#include <sys/stat.h>

#include <optional>

#include "file.h"
#include "file_system.h"
#include "input.h"
#include "new_file.h"

namespace bytemend {

struct Output {
    // What the output is to this run.
    enum class Kind {
        existing,       // there before: overwritten in place, never removed
        same_as_input,  // the input itself: only the byte is written
        made,           // made by this run: kept only when complete
    };

    const char* path = nullptr;  // as typed, for the messages
    Kind kind = Kind::existing;
    File existing;  // the file that was there, for existing and same_as_input
    NewFile made;   // the new one, for made; discarded with the Output unless kept
    struct stat status {};  // as opened: an existing file's old size and type
    std::optional<FileId> id;

    [[nodiscard]] int fd() const { return existing ? existing.get() : made.fd(); }
};

// Opens the output as a "w+" stream would (created if missing, through a
// symlink) but never empties it: an existing file is overwritten in place
// and cut to length at the end, so that an output that is the input by a
// road this run cannot see keeps its bytes. The input itself is patched in
// place; a loop device on its file that does not show it byte for byte, and
// standard output, are refused. A new file takes the input's permissions.
std::optional<Output> open_output(const char* path, const Input& input);

// Names a new output, now complete, or starts an overwritten one's
// writeback; then closes it: a failed close means its data is not trusted.
bool close_output(Output& output);

}  // namespace bytemend
