#include "output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "fast_copy.h"
#include "messages.h"
#include "report.h"

namespace bytemend {

namespace {

// Opens an existing output without truncating it, so that the caller can
// first find out whether it is the input; or makes a new one.
bool open_for_writing(Output& output, mode_t mode) {
    // A stream open of an empty name fails; a new file would be made in the
    // current folder and fail only once the whole copy was done.
    if (*output.path == '\0') {
        errno = ENOENT;
        return false;
    }
    // A regular file is opened to be read back too, so that zeros need not
    // be written over zeros where holes cannot be punched; a FIFO opened for
    // reading as well would never see its reader go, nor wait for one.
    struct stat before {};
    if (::stat(output.path, &before) == 0 && S_ISREG(before.st_mode)) {
        output.existing = open_file(output.path, O_RDWR | O_BINARY);
        if (output.existing || (errno != EACCES && errno != ENOENT)) {
            return static_cast<bool>(output.existing);
        }
    }
    output.existing = open_file(output.path, O_WRONLY | O_BINARY);
    if (output.existing || errno != ENOENT) {
        return static_cast<bool>(output.existing);
    }
    output.kind = Output::Kind::made;
    return output.made.create(output.path, mode);
}

// What the open file shows of a file: all of a regular file, or a loop
// device's window on its backing file.
std::optional<Window> window_of(int fd, const struct stat& status, const std::optional<FileId>& id) {
    if (S_ISREG(status.st_mode)) {
        return id ? std::optional<Window>({*id, 0, status.st_size}) : std::nullopt;
    }
    return device_window(fd, status);
}

// A loop device and its backing file, or two loop devices on one file, are
// one file by a road that identity cannot see. Where both show the same
// stretch, each byte is at the same offset in both; elsewhere a copy from
// one to the other would shift or cut the data as it went.
enum class Road { apart, same, shifted };

Road road_between(const Input& input, const Output& output) {
    if (!S_ISBLK(input.status.st_mode) && !S_ISBLK(output.status.st_mode)) {
        return Road::apart;
    }
    const auto in = window_of(input.file.get(), input.status, input.id);
    const auto out = window_of(output.fd(), output.status, output.id);
    if (!in || !out || !in->file.same_identity(out->file)) {
        return Road::apart;
    }
    return in->offset == out->offset && in->length == out->length ? Road::same : Road::shifted;
}

}  // namespace

std::optional<Output> open_output(const char* path, const Input& input) {
    Output output;
    output.path = path;
    // Permission bits only, as cp does: set-user-ID and the like are not
    // handed on to a copy, and open() takes the umask off.
    if (!open_for_writing(output, input.status.st_mode & 0777) ||
        ::fstat(output.fd(), &output.status) != 0) {
        say("Failed to open/create %s.\n", path);
        return std::nullopt;
    }
    // Decided on the open files, not their names, so that a hard link, a
    // symlink or another spelling of the path is recognised.
    output.id = file_id(output.fd());
    // The names were checked before the report; this catches a road to
    // standard output that only the open file shows.
    if (is_standard_output(output.id)) {
        say_error("Cannot write %s: it is standard output, where the report goes.\n", path);
        return std::nullopt;
    }
    const Road road = road_between(input, output);
    if (road == Road::shifted) {
        say("Cannot copy %s to %s: one is a loop device on the other, which it does not "
            "show byte for byte.\n",
            input.path, path);
        return std::nullopt;
    }
    if (road == Road::same || (input.id && output.id && *input.id == *output.id)) {
        output.kind = Output::Kind::same_as_input;
    }
    return output;
}

bool close_output(Output& output) {
    // What failed, with the output's name and errno's reason.
    const auto failed = [&](const char* what) {
        say("Failed to %s %s: %s.\n", what, output.path, error_text(errno).c_str());
        return false;
    };
    if (output.kind == Output::Kind::made) {
        return (output.made.keep() || failed("create")) && (output.made.close() || failed("close"));
    }
    // A file that was there before is overwritten in place, never emptied:
    // its new data is sent to the disk now, as it would be for cp's.
    return (start_writeback(output.existing.get()) || failed("write")) &&
           (output.existing.close() || failed("close"));
}

}  // namespace bytemend
