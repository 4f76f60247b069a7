#include "output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "report.h"

namespace bytemend {

namespace {

// Opens without truncating, so that the caller can first find out whether the
// output is the input. Sets created only when this call made the file.
File open_for_writing(Output& output) {
    // A stream open of an empty name fails; an unnamed file would be made
    // in the current folder and fail only once the whole copy was done.
    if (*output.path == '\0') {
        errno = ENOENT;
        return {};
    }
    File file = open_file(output.path, O_WRONLY | O_BINARY);
    if (file || errno != ENOENT) {
        return file;
    }
    // A new file is named only once it is complete, so that a run that is
    // killed or fails leaves no part of it behind. Where the name is a
    // dangling symlink, the file belongs where the link points.
    const std::size_t size = std::strlen(output.path);
    if (size >= output.name.size()) {
        errno = ENAMETOOLONG;
        return {};
    }
    std::memcpy(output.name.data(), output.path, size + 1);
    if (!follow_links(output.name.data(), output.name.size())) {
        return {};
    }
    file = open_unnamed(output.name.data(), output.mode);
    if (file) {
        output.created = true;
        output.named = false;
        return file;
    }
    file = open_file(output.name.data(), O_WRONLY | O_BINARY | O_CREAT | O_EXCL, output.mode);
    if (file || errno != EEXIST) {
        output.created = static_cast<bool>(file);
        return file;
    }
    // Another program made the file since the first try. This run did not
    // make it, so it will not remove it on failure.
    return open_file(output.path, O_WRONLY | O_BINARY);
}

// What the open file shows of a file: all of a regular file, or a loop
// device's window on its backing file.
std::optional<Window> window_of(const File& file, const struct stat& status,
                                const std::optional<FileId>& id) {
    if (S_ISREG(status.st_mode)) {
        return id ? std::optional<Window>({*id, 0, status.st_size}) : std::nullopt;
    }
    return device_window(file.get(), status);
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
    const auto in = window_of(input.file, input.status, input.id);
    const auto out = window_of(output.file, output.status, output.id);
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
    output.mode = input.status.st_mode & 0777;
    output.file = open_for_writing(output);
    if (output.file && ::fstat(output.file.get(), &output.status) == 0) {
        // Decided on the open files, not their names, so that a hard link, a
        // symlink or another spelling of the path is recognised.
        output.id = file_id(output.file.get(), output.status);
        // The names were checked before the report; this catches a road
        // to standard output that only the open file shows.
        if (is_standard_output(output.id)) {
            std::fprintf(stderr, "Cannot write %s: it is standard output, where the report goes.\n",
                         path);
            return std::nullopt;
        }
        const Road road = road_between(input, output);
        if (road == Road::shifted) {
            std::printf("Cannot copy %s to %s: one is a loop device on the other, which it does "
                        "not show byte for byte.\n", input.path, path);
            return std::nullopt;
        }
        output.same_as_input = road == Road::same || (input.id && output.id && *input.id == *output.id);
        return output;
    }
    // Without its identity the file cannot be checked before removal; made
    // by name an instant ago, it is still the one this run made.
    if (output.file && output.created && output.named) {
        output.file = File();
        remove_file(output.name.data());
    }
    std::printf("Failed to open/create %s.\n", path);
    return std::nullopt;
}

bool close_output(Output& output) {
    // A file that was there before is overwritten in place, never emptied:
    // its new data is sent to the disk now, as it would be for cp's.
    if (!output.created && !start_writeback(output.file.get())) {
        std::printf("Failed to write %s: %s.\n", output.path, std::strerror(errno));
        return false;
    }
    if (!output.named) {
        if (!give_name(output.file.get(), output.name.data(), output.mode)) {
            std::printf("Failed to create %s: %s.\n", output.path, std::strerror(errno));
            return false;
        }
        output.named = true;
    }
    if (output.file.close()) {
        return true;
    }
    std::printf("Failed to close %s: %s.\n", output.path, std::strerror(errno));
    return false;
}

void remove_unfinished(Output& output) {
    // Closed first: Windows does not remove a file that is open, and a file
    // never named goes with its descriptor.
    output.file = File();
    // Only while the name still stands for the file this run made: another
    // process may have put something else there meanwhile.
    const auto now = output.created && output.named ? path_id(output.name.data()) : std::nullopt;
    if (now && output.id && now->same_identity(*output.id)) {
        remove_file(output.name.data());
    }
}

}  // namespace bytemend
