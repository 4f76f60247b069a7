#pragma once

#include "file.h"
#include "file_system.h"
#include "input.h"
#include "new_file.h"

namespace bytemend {

struct Output {
    // What the output is to this run.
    enum class Kind {
        overwritten,    // there before, overwritten where it lies: replacing
                        // it would lose something; never removed
        replaced,       // there before, replaced whole by a new file
        same_as_input,  // the input itself: only the byte is written
        made,           // made by this run: kept only when complete
    };

    const char* path = nullptr;  // as typed, for the messages
    Kind kind = Kind::overwritten;
    File existing;  // the file that was there, for all but made
    NewFile made;   // the new one, for made and replaced; discarded with the
                    // Output unless kept
    OpenFile opened;  // the file written, as opened: its old size and type

    [[nodiscard]] int fd() const { return opened.fd; }
};

// Opens the output as a "w+" stream would (created if missing, through a
// symlink), but so that a kill, a failure or a power loss never leaves a
// mix of old and new under its name. An existing regular file is replaced
// whole: the copy is made beside it, with the old file's owner,
// permissions and extended attributes, and takes its place in one step.
// Where that would lose something or fail at the end (the reasons of
// doc/behaviour.md), and for devices, it is overwritten where it lies and
// never emptied, so that an output that is the input by a road this run
// cannot see keeps its bytes. The input itself is patched in place; a loop
// device on its file that does not show it byte for byte, and standard
// output, are refused. A new file takes the input's permissions.
// False once refused. Opened in place, as the new file's life is never moved.
bool open_output(Output& output, const char* path, const Input& input);

// Writes the output: the byte alone where it is the input, else the copy.
// A replacement that finds no room after all (a quota, or room the file
// system keeps for itself) is given up for an overwrite where the old file
// lies, where that needs no new blocks; else the old file is left whole.
// False once said why not.
bool write_output(const Input& input, Output& output, std::int64_t location, unsigned char byte);

// Names a new output, now complete, or puts a replacement in the old
// file's place, or makes an overwritten one durable; then closes it.
bool close_output(Output& output);

}  // namespace bytemend
