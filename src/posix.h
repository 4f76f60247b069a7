#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <system_error>

#include "file.h"
#include "file_system.h"

// What each POSIX system does its own way: linux_*.cpp, platform_other_posix.cpp.

namespace bytemend {

// Whether a call's error means "not on these files", not "it went wrong":
// not supported here (EINVAL, EXDEV, EOPNOTSUPP, ENOTTY; EPERM or ETXTBSY
// from some network file systems), or not in this kernel (ENOSYS). The
// plain road taken instead meets any real error again and reports it.
bool means_unsupported(int error);

// The folder `path` names, opened once for a new file's whole life, so that
// every step happens in it even if its name is made to lead elsewhere.
std::error_code open_folder(const std::string& path, File& folder);

// What `name` in `folder` is, not followed: its status, and a link's
// target, both of one link where the system can tell.
std::error_code read_link(int folder, const char* name, struct stat& status, std::string& target);

// Opens a new file with no name in `folder`, to be read and written, which
// a run that dies leaves nothing of; give_name then names it, if free.
std::error_code open_unnamed(int folder, mode_t mode, File& file);
std::error_code give_name(int fd, int folder, const char* name);

// Renames `from` to `to` in `folder`, unless `to` exists (EEXIST), or with
// `exchange` swaps the two; EINVAL where that cannot be done here.
std::error_code rename_exclusive(int folder, const char* from, const char* to, bool exchange = false);

// Gives `replacement` what POSIX does not name of `old`: extended
// attributes, ACL and flags; the error where one cannot be given or known.
std::error_code copy_attributes_and_flags(int old, int replacement);

// Whether a program opened `old` to write it (and waits) since the lease
// why_not_replace took when asked again; false where none can tell.
bool opened_to_write(int old);

// Whether writing over the regular file in `fd` needs no new blocks: not on
// Btrfs but for NOCOW, nor where a block is shared; true where none can tell.
bool rewritten_where_it_lies(int fd);

// Starts the writeback of `size` bytes of `fd` from `offset` (0: to the
// end), with `wait` waiting for it; nothing where the system cannot.
std::optional<std::error_code> write_back(int fd, bool wait, std::int64_t offset, std::int64_t size);

// An open regular file's state asked of the file system itself, if it can be.
std::optional<FileState> fresh_state(int fd);

// A time as FileState counts it, whichever call gave it.
std::int64_t nanoseconds(std::int64_t seconds, long fraction);

}  // namespace bytemend
