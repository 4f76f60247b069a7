#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <system_error>

#include "file.h"
#include "file_system.h"

// What the POSIX systems each do their own way, for platform_posix.cpp: to
// make a new file, for their NewFile, and to ask a file's state afresh.
// Linux has each (platform_linux.cpp), other systems may not
// (platform_other_posix.cpp). Windows does not compile this.

namespace bytemend {

// The folder `path` names, opened once for the file's whole life, so that
// every later step happens in it even if its name is then made to lead
// elsewhere (another program renaming it and leaving a symlink).
std::error_code open_folder(const std::string& path, File& folder);

// What `name` in `folder` is, not followed if a symlink: its status, and
// for a link its target, both of the one link where the system can tell.
std::error_code read_link(int folder, const char* name, struct stat& status, std::string& target);

// Opens a new file with no name yet, to be read and written, in `folder`:
// a run that dies leaves nothing. The error where the system or the file
// system cannot: the file is then made by name.
std::error_code open_unnamed(int folder, mode_t mode, File& file);

// Gives the file from open_unnamed the name `name` in `folder`; fails if
// the name is taken.
std::error_code give_name(int fd, int folder, const char* name);

// Renames `from` to `to` in `folder`, unless `to` exists (EEXIST); EINVAL
// where the system or the file system cannot rename that way. With
// `exchange`, swaps the two names instead, in one step.
std::error_code rename_exclusive(int folder, const char* from, const char* to, bool exchange = false);

// What else a replacement of `old` must keep of it, beyond what POSIX
// names: extended attributes and file flags, given to `replacement`. The
// error where one cannot be given or known.
std::error_code carry_extras(int old, int replacement);

// Whether a program has opened `old`, held by why_not_replace asked again,
// to write it since: a program that opens it so waits in its open until
// `old` is closed. False where the system cannot tell.
bool opened_to_write(int old);

// Whether writing over the data of the regular file in `fd` needs no new
// blocks: not on a file system that writes every change anew (Btrfs, but
// for a NOCOW file), nor where a block is shared with another file (a
// reflink, a snapshot), which a write must first unshare. True where the
// system cannot tell.
bool rewritten_where_it_lies(int fd);

// Writes the file's data to its disk and waits, where the file system
// would not write it by itself before a rename over another file: a power
// loss must not leave the name on a file whose data never arrived.
std::error_code write_before_renaming(int fd);

// The state of an open regular file, asked of the file system itself where
// what the system remembers may be stale; nothing where it cannot be asked.
std::optional<FileState> fresh_state(int fd);

}  // namespace bytemend
