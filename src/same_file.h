#pragma once

#include "file_system.h"

namespace bytemend {

// Whether two open files are one: the rule behind a patch in place, where
// the output is the input, and behind refusing standard output as the
// input or the output. Decided on the open files, never on their names, so
// that a hard link, a symlink or another spelling of a path is one file; and
// down through loop devices, each of which shows a stretch of the file
// beneath it.
enum class Sameness {
    two,          // two files, or stretches of one that do not overlap
    one,          // one file, or one stretch of it
    shifted,      // a loop device on the other, not showing it byte for byte
    overlapping,  // two devices on stretches of one file that overlap
    unknown,      // one identity, and nothing to tell one file from two
    locked,       // one identity, and another program's lock in the way
    unreached,    // a loop device on a device that cannot be followed: the
                  // other file may lie beneath it
};
Sameness one_or_two(const OpenFile& a, const OpenFile& b);

}  // namespace bytemend
