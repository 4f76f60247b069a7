// POSIX without Linux's own calls (the portable preset): new files by name,
// and an existing output overwritten where it lies, its attributes unknown.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "file_system.h"
#include "new_file.h"
#include "posix.h"

namespace bytemend {

std::error_code open_folder(const std::string& path, File& folder) {
    folder = File(::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder ? std::error_code() : errno_error();
}

// Without a way to open the link itself: its status, its target, and its
// status again, which must be of the same link.
std::error_code read_link(int folder, const char* name, struct stat& status, std::string& target) {
    struct stat again {};
    if (::fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno_error();
    }
    target.assign(PATH_MAX, '\0');
    const ssize_t length = S_ISLNK(status.st_mode) ? ::readlinkat(folder, name, target.data(), target.size()) : 0;
    if (length < 0 || ::fstatat(folder, name, &again, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno_error();
    }
    if (again.st_ino != status.st_ino || again.st_dev != status.st_dev) {
        return std::make_error_code(std::errc::resource_unavailable_try_again);
    }
    target.resize(static_cast<std::size_t>(length));
    return {};
}

std::error_code open_unnamed(int, mode_t, File&) {
    return std::make_error_code(std::errc::operation_not_supported);
}

std::error_code give_name(int, int, const char*) {
    return std::make_error_code(std::errc::operation_not_supported);
}

std::error_code rename_exclusive(int, const char*, const char*, bool) {
    return std::make_error_code(std::errc::invalid_argument);
}

std::error_code NewFile::why_not_replace(int, bool) const {
    return std::make_error_code(std::errc::operation_not_supported);
}

std::error_code copy_attributes_and_flags(int, int) {
    return std::make_error_code(std::errc::operation_not_supported);
}

std::optional<FileState> fresh_state(int) {
    return std::nullopt;
}

// POSIX's record locks are the process's, which holds both opens.
Probe probe_one_file(int, int) {
    return Probe::unknown;
}

bool rewritten_where_it_lies(int) {
    return true;
}

bool opened_to_write(int) {
    return false;
}

std::optional<std::error_code> write_back(int, bool, std::int64_t, std::int64_t) {
    return std::nullopt;
}

}  // namespace bytemend
