#include "patch.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "platform.h"

namespace bytemend {

namespace {

// Only regular files and block devices have a length; a directory, a pipe or
// a terminal does not, and reading one would not give a file to patch.
std::optional<std::int64_t> measure(int fd, const struct stat& status) {
    if (S_ISREG(status.st_mode)) {
        return status.st_size;
    }
    if (S_ISBLK(status.st_mode)) {
        const off_t end = ::lseek(fd, 0, SEEK_END);
        if (end >= 0) {
            return end;
        }
    }
    return std::nullopt;
}

// Opens without truncating, so that the caller can first find out whether the
// output is the input. Sets created only when this call made the file.
File open_for_writing(Output& output, mode_t mode) {
    File file(::open(output.path, O_WRONLY | O_BINARY));
    if (file || errno != ENOENT) {
        return file;
    }
    // A new file is named only once it is complete, so that a run that is
    // killed or fails leaves no part of it behind. Not when the name is a
    // dangling symlink: the file belongs where the link points.
    if (!path_id(output.path) && errno == ENOENT) {
        file = open_unnamed(output.path, mode);
        if (file) {
            output.created = true;
            output.named = false;
            return file;
        }
    }
    file = File(::open(output.path, O_WRONLY | O_BINARY | O_CREAT | O_EXCL, mode));
    if (file || errno != EEXIST) {
        output.created = static_cast<bool>(file);
        return file;
    }
    // A dangling symlink, whose target a stream open would create, or a file
    // that appeared since the first try. This run cannot prove it made the
    // file, so it will not remove it on failure.
    return File(::open(output.path, O_WRONLY | O_BINARY | O_CREAT, mode));
}

bool write_failed(const Output& output) {
    std::printf("Failed to write %s: %s.\n", output.path, std::strerror(errno));
    return false;
}

bool write_all(const Output& output, const unsigned char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(output.file.get(), data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO;
            }
            return write_failed(output);
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool read_failed() {
    std::fputs("Failed to read file.\n", stdout);
    return false;
}

// Copies the extent of the input to the output's current position. The byte
// is replaced as it passes, so outputs that cannot seek (pipes, terminals,
// character devices) get it at its place too.
bool copy_through_buffer(const Input& input, const Output& output, Extent extent,
                         std::int64_t location, unsigned char byte) {
    constexpr std::int64_t chunk = std::int64_t{256} * 1024;
    const std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[chunk]);
    if (!buffer) {
        std::fputs("Failed to allocate memory.\n", stdout);
        return false;
    }
    for (std::int64_t offset = extent.start; offset < extent.end;) {
        const auto wanted = static_cast<size_t>(std::min(chunk, extent.end - offset));
        const ssize_t got = read_at(input.file.get(), buffer.get(), wanted, offset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        // Nothing left before the measured length: the input shrank.
        if (got <= 0) {
            return read_failed();
        }
        if (location >= offset && location < offset + got) {
            buffer[location - offset] = byte;
        }
        if (!write_all(output, buffer.get(), static_cast<size_t>(got))) {
            return false;
        }
        offset += got;
    }
    return true;
}

// Copies the extent inside the kernel while it can, and through a buffer from
// the first extent it cannot.
bool copy_extent(const Input& input, const Output& output, Extent extent, bool& in_kernel,
                 std::int64_t location, unsigned char byte) {
    if (in_kernel) {
        switch (kernel_copy(input.file.get(), output.file.get(), extent.start,
                            extent.end - extent.start)) {
        case KernelCopy::done:
            return true;
        case KernelCopy::unsupported:
            in_kernel = false;
            break;
        case KernelCopy::short_input:
            return read_failed();
        case KernelCopy::failed:
            return write_failed(output);
        }
    }
    if (::lseek(output.file.get(), extent.start, SEEK_SET) < 0) {
        return write_failed(output);
    }
    return copy_through_buffer(input, output, extent, location, byte);
}

// Copies the input's data to the same offsets of the output and leaves its
// holes as holes, as cp does: the output gets the input's length and about
// its allocated size, however sparse the input is.
bool copy_data(const Input& input, const Output& output, std::int64_t location,
               unsigned char byte) {
    bool in_kernel = true;
    std::int64_t from = 0;
    while (const auto extent = next_data(input.file.get(), from, input.length)) {
        if (!copy_extent(input, output, *extent, in_kernel, location, byte)) {
            return false;
        }
        from = extent->end;
    }
    // Data that ends early may be a hole at the end or an input that shrank.
    if (::lseek(input.file.get(), 0, SEEK_END) < input.length) {
        return read_failed();
    }
    // Gives the output its length, ending in a hole as the input does.
    if (::ftruncate(output.file.get(), input.length) != 0) {
        return write_failed(output);
    }
    return true;
}

}  // namespace

std::optional<Input> open_input(const char* path) {
    Input input;
    input.file = open_for_reading(path);
    if (!input.file) {
        std::printf("Error opening %s for reading.\n", path);
        return std::nullopt;
    }
    if (::fstat(input.file.get(), &input.status) != 0) {
        std::printf("Cannot measure the length of %s: %s.\n", path, std::strerror(errno));
        return std::nullopt;
    }
    const auto length = measure(input.file.get(), input.status);
    if (!length) {
        std::printf("Cannot measure the length of %s: it is %s.\n", path,
                    S_ISDIR(input.status.st_mode) ? "a directory" : "not a regular file");
        return std::nullopt;
    }
    input.length = *length;
    input.id = file_id(input.file.get(), input.status);
    return input;
}

bool check_location(const Input& input, const char* path, std::int64_t location) {
    if (location >= 0 && location < input.length) {
        return true;
    }
    std::printf("Location %lld is outside %s, which is %lld bytes long.\n",
                static_cast<long long>(location), path, static_cast<long long>(input.length));
    return false;
}

std::optional<Output> open_output(const char* path, const Input& input) {
    Output output;
    output.path = path;
    // Permission bits only, as cp does: set-user-ID and the like are not
    // handed on to a copy, and open() takes the umask off.
    output.file = open_for_writing(output, input.status.st_mode & 0777);
    if (output.file && ::fstat(output.file.get(), &output.status) == 0) {
        // Decided on the open files, not their names, so that a hard link, a
        // symlink or another spelling of the input's path is recognised.
        output.id = file_id(output.file.get(), output.status);
        output.same_as_input = input.id && output.id && *input.id == *output.id;
        // Truncating is left until now: done first, it would destroy the
        // only copy of the data when the output is the input. An empty file
        // is left alone, because ext4 takes any truncation as a file being
        // replaced and writes it out in full at close.
        if (output.same_as_input || !S_ISREG(output.status.st_mode) ||
            output.status.st_size == 0 || ::ftruncate(output.file.get(), 0) == 0) {
            return output;
        }
    }
    std::printf("Failed to open/create %s.\n", path);
    return std::nullopt;
}

bool patch_in_place(const Output& output, std::int64_t location, unsigned char byte) {
    ssize_t written = 0;
    do {
        written = write_at(output.file.get(), &byte, 1, location);
    } while (written < 0 && errno == EINTR);
    if (written != 1) {
        if (written == 0) {
            errno = EIO;
        }
        return write_failed(output);
    }
    return true;
}

bool copy_patched(const Input& input, const Output& output, std::int64_t location,
                  unsigned char byte) {
    // Shared blocks and holes exist only in regular files. A device, a pipe
    // or a terminal gets every byte, in order: a hole skipped on a disk
    // would leave its old data showing through.
    if (!S_ISREG(output.status.st_mode)) {
        return stream_copy(input, output, location, byte);
    }
    const bool copied = clone_file(input.file.get(), output.file.get()) ||
                        copy_data(input, output, location, byte);
    return copied && patch_in_place(output, location, byte);
}

bool stream_copy(const Input& input, const Output& output, std::int64_t location,
                 unsigned char byte) {
    return copy_through_buffer(input, output, {0, input.length}, location, byte);
}

bool close_output(Output& output) {
    if (!output.named) {
        if (!give_name(output.file.get(), output.path)) {
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
    const auto now = output.created && output.named ? path_id(output.path) : std::nullopt;
    if (now && now == output.id) {
        ::unlink(output.path);
    }
}

}  // namespace bytemend
