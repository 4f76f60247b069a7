#pragma once

#include "file_system.h"

namespace bytemend {

// Whether two open files are one, behind a patch in place and behind
// refusing standard output: decided on the open files, never their names,
// and down through loop devices to the stretch of the file each shows.
enum class Sameness {
    two,          // two files, or stretches of one that do not overlap
    one,          // one file, or one stretch of it
    shifted,      // a loop device on the other, not showing it byte for byte
    overlapping,  // two devices on stretches of one file that overlap
    unknown,      // one identity, and nothing to tell one file from two
    locked,       // one identity, and another program's lock in the way
    unreached,    // a loop device on a device that cannot be followed
};
Sameness one_or_two(const OpenFile& a, const OpenFile& b);

}  // namespace bytemend
