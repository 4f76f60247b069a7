#pragma once

#include <sys/types.h>

#include <string>
#include <system_error>

#include "file.h"

// The POSIX systems' ways to make a new file, for their NewFile
// (platform_posix.cpp): Linux has each, other systems may not
// (platform_other_posix.cpp). Windows does not compile this.

namespace bytemend {

// Opens a new file with no name yet, to be read and written, in the folder
// where `path` would be: a run that dies leaves nothing. Closed where the
// system or the file system cannot.
File open_unnamed(const std::string& path, mode_t mode);

// Gives the file from open_unnamed its name; fails if the name is taken.
std::error_code give_name(int fd, const char* path);

// Renames `from` to `to` unless `to` exists (EEXIST); EINVAL where the
// system or the file system cannot rename that way.
std::error_code rename_exclusive(const char* from, const char* to);

// Gives `to` the extended attributes and file flags of `from`, and only
// those: the error where one cannot be given or cannot be known, or where
// `from` is a file mounted over its name, which no rename replaces.
std::error_code carry_extras(int from, int to);

// Writes the file's data to its disk and waits, where the file system
// would not write it by itself before a rename over another file: a power
// loss must not leave the name on a file whose data never arrived.
std::error_code write_before_renaming(int fd);

}  // namespace bytemend
