#pragma once

#include "file.h"
#include "file_system.h"
#include "input.h"
#include "new_file.h"

namespace bytemend {

struct Output {
    // What the output is to this run: there before, and overwritten where
    // it lies (never removed) or replaced whole by a new file; the input
    // itself, only its byte written; or made by this run, kept when complete.
    enum class Kind { overwritten, replaced, same_as_input, made };

    const char* path = nullptr;  // as typed, for the messages
    Kind kind = Kind::overwritten;
    File existing;  // the file that was there, for all but made
    NewFile made;   // the new one, for made and replaced
    OpenFile opened;  // the file written, as opened: its old size and type

    [[nodiscard]] int fd() const { return opened.fd; }
};

// Opens the output as a "w+" stream would (made if missing, through a
// symlink), but so that a kill, a failure or a power loss never leaves a mix
// under its name: an existing regular file is replaced whole by a copy made
// beside it; where that would lose something or fail (doc/behaviour.md), and
// for devices, overwritten where it lies, never emptied, so that an output
// that is the input by a road this run cannot see keeps its bytes. The input
// itself is patched in place; a loop device on it that does not show it byte
// for byte, and standard output, are refused. False once refused.
bool open_output(Output& output, const char* path, const Input& input);

// Writes the byte alone where the output is the input, else the copy. A
// replacement that finds no room after all (a quota, or room the file system
// keeps for itself) becomes an overwrite where the old file lies, where that
// needs no new blocks; else the old file is left whole. False once said why.
bool write_output(const Input& input, Output& output, std::int64_t location, unsigned char byte);

// Names a new output, now complete, or puts a replacement in the old
// file's place, or makes an overwritten one durable; then closes it.
bool close_output(Output& output);

}  // namespace bytemend
