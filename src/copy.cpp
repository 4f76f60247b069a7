#include "copy.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fast_copy.h"
#include "files.h"
#include "messages.h"
#include "report.h"

namespace bytemend {

namespace {

constexpr std::int64_t chunk = std::int64_t{256} * 1024;
// The largest block a file system uses: a multiple of any other.
constexpr std::int64_t largest_block = std::int64_t{64} * 1024;

// malloc rather than new: a failed allocation is an answer to report, and a
// C++ exception may not even be thrown when memory is that short.
struct Free {
    void operator()(unsigned char* data) const { std::free(data); }
};
using Buffer = std::unique_ptr<unsigned char, Free>;

Buffer allocate(bool zeroed) {
    Buffer buffer(static_cast<unsigned char*>(zeroed ? std::calloc(chunk, 1) : std::malloc(chunk)));
    if (!buffer) {
        say("Failed to allocate memory.\n");
    }
    return buffer;
}

bool write_failed(const Output& output) {
    say("Failed to write %s: %s.\n", shown(output.path).c_str(), error_text(errno).c_str());
    return false;
}

bool read_failed() {
    say("Failed to read file.\n");
    return false;
}

// Hands all of `data` to `write(data, size, done)`, which writes part of it
// after the `done` bytes written before, through short writes and signals.
template <typename Write>
bool write_fully(const Output& output, const unsigned char* data, size_t size, Write write) {
    for (size_t done = 0; done < size;) {
        const ssize_t written = write(data + done, size - done, done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO;
            }
            return write_failed(output);
        }
        done += static_cast<size_t>(written);
    }
    return true;
}

// Writes at the output's position, which moves on.
bool write_all(const Output& output, const unsigned char* data, size_t size) {
    return write_fully(output, data, size, [&](const unsigned char* part, size_t left, size_t) {
        return ::write(output.fd(), part, left);
    });
}

// Writes at `offset`, leaving the output's position where it was.
bool write_all_at(const Output& output, const unsigned char* data, size_t size, std::int64_t offset) {
    return write_fully(output, data, size, [&](const unsigned char* part, size_t left, size_t done) {
        return write_at(output.fd(), part, left, offset + static_cast<std::int64_t>(done));
    });
}

// Writes zeros over the bytes of the output from `offset` that `buffer`
// holds, of `size` bytes, where they are not zeros already: a run of whole
// blocks at a time, so that a block that is a hole stays one.
bool zero_what_is_not(const Output& output, unsigned char* buffer, size_t size, std::int64_t offset) {
    constexpr size_t block = 4096;
    const auto is_zero = [&](size_t at) {
        const size_t end = std::min(size, at + block);
        return std::all_of(buffer + at, buffer + end, [](unsigned char c) { return c == 0; });
    };
    for (size_t at = 0; at < size;) {
        if (is_zero(at)) {
            at += block;
            continue;
        }
        size_t end = at;
        while (end < size && !is_zero(end)) {
            end += block;
        }
        end = std::min(end, size);
        std::memset(buffer + at, 0, end - at);
        if (!write_all_at(output, buffer + at, end - at, offset + static_cast<std::int64_t>(at))) {
            return false;
        }
        at = end;
    }
    return true;
}

// Copies the extent of the input to the output's current position. The byte
// is replaced as it passes, so outputs that cannot seek (pipes, terminals,
// character devices) get it at its place too.
bool copy_through_buffer(const Input& input, const Output& output, Extent extent,
                         std::int64_t location, unsigned char byte) {
    const Buffer buffer = allocate(false);
    if (!buffer) {
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
            buffer.get()[location - offset] = byte;
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
        switch (kernel_copy(input.file.get(), output.fd(), extent.start,
                            extent.end - extent.start)) {
        case FastPath::done:
            return true;
        case FastPath::unsupported:
            in_kernel = false;
            break;
        case FastPath::short_input:
            return read_failed();
        case FastPath::failed:
            return write_failed(output);
        }
    }
    if (::lseek(output.fd(), extent.start, SEEK_SET) < 0) {
        return write_failed(output);
    }
    return copy_through_buffer(input, output, extent, location, byte);
}

// Makes what the output held from start to end read as zeros, where the input
// has a hole: a hole too where the file system can punch one, zeros written
// over the output's data where it cannot. Past the output's old end there is
// nothing to clear. `last` says that no data of the input follows.
bool clear(const Output& output, std::int64_t start, std::int64_t end, bool last) {
    const std::int64_t old_end = output.status.st_size;
    const std::int64_t held = std::min(end, old_end);
    if (start >= held) {
        return true;
    }
    // Past the old end there is nothing, and past the input's end the cut to
    // length takes everything: there the punch goes on to a boundary of the
    // largest block a file system uses, or the block it stops in stays
    // allocated, holding only zeros. Inside the input it stops where the
    // data starts, at the input's own block boundary.
    const std::int64_t punch_end =
        held < end || last ? (held + largest_block - 1) / largest_block * largest_block : held;
    switch (punch_hole(output.fd(), start, punch_end - start)) {
    case FastPath::done:
        return true;
    case FastPath::unsupported:
    case FastPath::short_input:
        break;
    case FastPath::failed:
        return write_failed(output);
    }
    // Zeros only where the output holds something else: over its data, not
    // its holes, and there only over bytes that do not read as zeros, which
    // keeps holes that a file system cannot even report (FUSE) holes. An
    // output that cannot be read back gets zeros over all its data.
    const Buffer buffer = allocate(false);
    if (!buffer) {
        return false;
    }
    for (auto data = next_data(output.fd(), start, held); data;
         data = next_data(output.fd(), data->end, held)) {
        for (std::int64_t offset = data->start; offset < data->end; offset += chunk) {
            const auto size = static_cast<size_t>(std::min(chunk, data->end - offset));
            if (read_at(output.fd(), buffer.get(), size, offset) != static_cast<ssize_t>(size)) {
                std::memset(buffer.get(), 0xff, size);
            }
            if (!zero_what_is_not(output, buffer.get(), size, offset)) {
                return false;
            }
        }
    }
    return true;
}

// Copies the input's data to the same offsets of the output and clears what
// the output held where the input has holes, as cp does for a sparse input:
// the output gets about the input's allocated size, however sparse it is.
bool copy_data(const Input& input, const Output& output, std::int64_t location,
               unsigned char byte) {
    bool in_kernel = true;
    std::int64_t from = 0;
    while (const auto extent = next_data(input.file.get(), from, input.length)) {
        if (!clear(output, from, extent->start, false) ||
            !copy_extent(input, output, *extent, in_kernel, location, byte)) {
            return false;
        }
        from = extent->end;
    }
    // Data that ends early may be a hole at the end or an input that shrank.
    if (::lseek(input.file.get(), 0, SEEK_END) < input.length) {
        return read_failed();
    }
    return clear(output, from, input.length, true);
}

// Shares the input's blocks with the output. XFS and Btrfs share a last
// block that the input ends inside only with an output that ends there too,
// and refuse a longer one with the EINVAL that also means "these two files
// can share nothing" (Btrfs between a NOCOW file and another). The whole
// blocks before it are shared first, which tells the two apart; only then is
// the output cut to the input's length, as the copy would cut it at its end
// anyway, and the rest shared. Each clone names the input's measured
// length: the kernel refuses a range that an input that shrank no longer
// has, where a clone to its end would share less and leave an existing
// output's old bytes after it.
bool share_blocks(const Input& input, const Output& output) {
    if (clone_file(input.file.get(), output.fd(), input.length)) {
        return true;
    }
    const std::int64_t whole_blocks = input.length / largest_block * largest_block;
    return errno == EINVAL && output.status.st_size > input.length && whole_blocks > 0 &&
           clone_file(input.file.get(), output.fd(), whole_blocks) &&
           ::ftruncate(output.fd(), input.length) == 0 &&
           clone_file(input.file.get(), output.fd(), input.length);
}

// Gives the output the input's length where its data stopped short of it:
// an input that ends in a hole. A length set by ftruncate reaches the
// journal at once, ahead of data that has not reached the disk, and a crash
// then leaves a file of the right length full of zeros; the length that a
// write sets grows on the disk only as its data is written out, so the last
// byte is written instead, at the cost of one block.
bool write_length(const Output& output, std::int64_t length) {
    const unsigned char zero = 0;
    return write_all_at(output, &zero, 1, length - 1);
}

}  // namespace

bool patch_in_place(const Output& output, std::int64_t location, unsigned char byte) {
    return write_all_at(output, &byte, 1, location);
}

bool copy_patched(const Input& input, const Output& output, std::int64_t location,
                  unsigned char byte) {
    // Shared blocks and holes exist only in regular files. A device, a pipe
    // or a terminal gets every byte, in order: a hole skipped on a disk
    // would leave its old data showing through.
    if (!S_ISREG(output.status.st_mode)) {
        return stream_copy(input, output, location, byte);
    }
    const bool shared = share_blocks(input, output);
    if (!shared && !copy_data(input, output, location, byte)) {
        return false;
    }
    // The length is set only where the data did not set it: an input that
    // ends in a hole, or an older, longer output, which loses its tail only
    // now (on XFS a cut made earlier would unshare a reflinked last block).
    // A shared copy of an input that shrank before it was shared is short:
    // that is a read that ended early, as it is for the other copies.
    struct stat now {};
    if (::fstat(output.fd(), &now) != 0) {
        return write_failed(output);
    }
    if (now.st_size < input.length) {
        if (shared) {
            return read_failed();
        }
        if (!write_length(output, input.length)) {
            return false;
        }
    }
    if (now.st_size > input.length && ::ftruncate(output.fd(), input.length) != 0) {
        return write_failed(output);
    }
    if (!patch_in_place(output, location, byte)) {
        return false;
    }
    // A shared copy's length and blocks are recorded at once, and its name
    // soon after; the block the patch rewrote reaches the disk only when
    // written out. It is written out now, before the name, or a crash would
    // leave the unpatched input under the output's name. One block, whatever
    // the file's size: nothing else of a shared copy is waiting to be written.
    return !shared || write_out(output.fd(), location, 1) || write_failed(output);
}

bool stream_copy(const Input& input, const Output& output, std::int64_t location,
                 unsigned char byte) {
    return copy_through_buffer(input, output, {0, input.length}, location, byte);
}

}  // namespace bytemend
