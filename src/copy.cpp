#include "copy.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fast_copy.h"
#include "file_system.h"
#include "say.h"

namespace bytemend {

namespace {

constexpr std::int64_t chunk = std::int64_t{256} * 1024;
// How much of a replacement is copied before its writeback is started.
constexpr std::int64_t stretch = std::int64_t{32} * 1024 * 1024;
// The largest block of XFS, Btrfs and ext4 without bigalloc: a multiple of any smaller.
constexpr std::int64_t largest_block = std::int64_t{64} * 1024;

// malloc, not new: when memory is that short, even a throw may fail.
struct Free { void operator()(unsigned char* data) const { std::free(data); } };

struct Copy {
    const Input& input;
    const Output& output;
    std::unique_ptr<unsigned char, Free> buffer;  // taken when first needed
    Stop stop;
    std::int64_t unstarted = 0;  // bytes copied since writeback was last started

    Copy(const Input& from, const Output& to) : input(from), output(to) {}

    bool failed(Stop::Why why, const std::error_code& error = {}) {
        stop = {.why = why, .error = error};
        return false;
    }

    unsigned char* memory() {
        if (!buffer) {
            buffer.reset(static_cast<unsigned char*>(std::malloc(chunk)));
        }
        if (!buffer) {
            failed(Stop::Why::memory);
        }
        return buffer.get();
    }
};

struct Patch {
    std::int64_t location;
    unsigned char byte;
};

// Writes all of `data` at `offset`, or where the output stands if negative.
bool write_all(Copy& copy, const unsigned char* data, size_t size, std::int64_t offset) {
    for (size_t done = 0; done < size;) {
        size_t written = 0;
        const std::error_code error = write_at(copy.output.fd(), data + done, size - done,
                                               offset < 0 ? -1 : offset + static_cast<std::int64_t>(done), written);
        if (error || written == 0) {
            return copy.failed(Stop::Why::write, error ? error : std::make_error_code(std::errc::io_error));
        }
        done += written;
    }
    return true;
}

// Zeros the output's `size` bytes from `offset`, held in the buffer, in
// whole blocks and only where not zeros already: a hole stays one.
bool zero_blocks_with_data(Copy& copy, size_t size, std::int64_t offset) {
    constexpr size_t block = 4096;
    unsigned char* const buffer = copy.buffer.get();
    const auto has_data = [&](size_t at) {
        return at < size &&
               std::any_of(buffer + at, buffer + std::min(size, at + block), [](unsigned char c) { return c != 0; });
    };
    // Each run of blocks with data, and the block without after it.
    for (size_t at = 0; at < size; at += block) {
        size_t end = at;
        while (has_data(end)) {
            end += block;
        }
        end = std::min(end, size);
        std::memset(buffer + at, 0, end - at);
        if (!write_all(copy, buffer + at, end - at, offset + static_cast<std::int64_t>(at))) {
            return false;
        }
        at = end;
    }
    return true;
}

// Copies the extent through the buffer to where the output stands; a
// stream, which cannot be patched afterwards, gets `patch` as it passes.
bool copy_through_buffer(Copy& copy, Extent extent, const Patch* patch) {
    unsigned char* const buffer = copy.memory();
    if (buffer == nullptr) {
        return false;
    }
    for (std::int64_t offset = extent.start; offset < extent.end;) {
        const auto wanted = static_cast<size_t>(std::min(chunk, extent.end - offset));
        size_t got = 0;
        // Nothing left before the measured length: the input shrank.
        if (read_at(copy.input.file.get(), buffer, wanted, offset, got) || got == 0) {
            return copy.failed(Stop::Why::read);
        }
        const std::int64_t end = offset + static_cast<std::int64_t>(got);
        if (patch != nullptr && patch->location >= offset && patch->location < end) {
            buffer[patch->location - offset] = patch->byte;
        }
        if (!write_all(copy, buffer, got, -1)) {
            return false;
        }
        offset = end;
    }
    return true;
}

// In the kernel while it can, through the buffer from where it cannot. A
// replacement, waited for before it takes the old name, has its writeback
// started a stretch at a time: the disk writes beside the copy.
bool copy_extent(Copy& copy, Extent extent, bool& in_kernel) {
    const bool early = copy.output.kind == Output::Kind::replaced;
    while (in_kernel && extent.start < extent.end) {
        const std::int64_t size = early ? std::min(stretch, extent.end - extent.start) : extent.end - extent.start;
        std::int64_t copied = 0;
        const std::error_code error = kernel_copy(copy.input.file.get(), copy.output.fd(), extent.start, size, copied);
        if (error == std::errc::operation_not_supported) {
            in_kernel = false;
            break;
        }
        if (error || copied != size) {
            return copy.failed(error ? Stop::Why::write : Stop::Why::read, error);
        }
        extent.start += size;
        copy.unstarted += size;
        if (early && copy.unstarted >= stretch) {
            send_to_disk(copy.output.fd(), ToDisk::started);
            copy.unstarted = 0;
        }
    }
    return in_kernel || (::lseek(copy.output.fd(), extent.start, SEEK_SET) < 0
                             ? copy.failed(Stop::Why::write, errno_error())
                             : copy_through_buffer(copy, extent, nullptr));
}

// Makes the output read as zeros from `start` to `end`, a hole of the
// input: punched, else written over. `last`: no data of the input follows.
bool clear(Copy& copy, std::int64_t start, std::int64_t end, bool last) {
    const Output& output = copy.output;
    const std::int64_t held = std::min<std::int64_t>(end, output.opened.status.st_size);
    if (start >= held) {
        return true;
    }
    // Where no data follows, the punch goes on to a boundary of the largest
    // block, past what the cut to length keeps, lest the block it stops in
    // stay allocated, all zeros; else it stops where the data starts.
    const std::int64_t punch_end =
        held < end || last ? (held + largest_block - 1) / largest_block * largest_block : held;
    const std::error_code punched = punch_hole(output.fd(), start, punch_end - start);
    if (punched != std::errc::operation_not_supported) {
        return !punched || copy.failed(Stop::Why::write, punched);
    }
    // Zeros only over data that does not read as zeros, which keeps even holes
    // a file system cannot report (FUSE); data not read back is zeroed whole.
    unsigned char* const buffer = copy.memory();
    if (buffer == nullptr) {
        return false;
    }
    for (auto data = next_data(output.fd(), start, held); data; data = next_data(output.fd(), data->end, held)) {
        for (std::int64_t offset = data->start; offset < data->end; offset += chunk) {
            const auto size = static_cast<size_t>(std::min(chunk, data->end - offset));
            size_t got = 0;
            if (read_at(output.fd(), buffer, size, offset, got) || got != size) {
                std::memset(buffer, 0xff, size);
            }
            if (!zero_blocks_with_data(copy, size, offset)) {
                return false;
            }
        }
    }
    return true;
}

// The input's data at the same offsets, its holes cleared: sparse stays sparse.
bool copy_data(Copy& copy) {
    bool in_kernel = true;
    std::int64_t from = 0;
    while (const auto extent = next_data(copy.input.file.get(), from, copy.input.length)) {
        if (!clear(copy, from, extent->start, false) || !copy_extent(copy, *extent, in_kernel)) {
            return false;
        }
        from = extent->end;
    }
    // Data that ends early may be a hole at the end or an input that shrank.
    return ::lseek(copy.input.file.get(), 0, SEEK_END) < copy.input.length ? copy.failed(Stop::Why::read)
                                                                           : clear(copy, from, copy.input.length, true);
}

// EINVAL means a longer output (clone_file) or no sharing (NOCOW on Btrfs):
// the whole blocks are shared first, to tell the two apart, and only then
// is the output cut. Each clone names the measured length, which the kernel
// refuses for an input that shrank.
bool share_blocks(const Input& input, const Output& output) {
    const int in = input.file.get();
    const std::error_code error = clone_file(in, output.fd(), input.length);
    const std::int64_t whole_blocks = input.length / largest_block * largest_block;
    return !error || (error == std::errc::invalid_argument && output.opened.status.st_size > input.length &&
                      whole_blocks > 0 && !clone_file(in, output.fd(), whole_blocks) &&
                      !truncate_file(output.fd(), input.length) && !clone_file(in, output.fd(), input.length));
}

// A short output (an input ending in a hole) gets its last byte written: a
// length ftruncate sets reaches the journal ahead of the data, a write's
// with it. A longer one is cut only now: earlier, XFS would unshare a
// reflinked last block. A short shared copy is an input that shrank.
bool set_length(Copy& copy, bool shared) {
    const std::int64_t length = copy.input.length;
    struct stat now {};
    if (::fstat(copy.output.fd(), &now) != 0) {
        return copy.failed(Stop::Why::write, errno_error());
    }
    if (now.st_size < length) {
        const unsigned char zero = 0;
        return !shared ? write_all(copy, &zero, 1, length - 1) : copy.failed(Stop::Why::read);
    }
    const std::error_code error = now.st_size == length ? std::error_code() : truncate_file(copy.output.fd(), length);
    return !error || copy.failed(Stop::Why::write, error);
}

}  // namespace

Stop patch_in_place(const Input& input, const Output& output, std::int64_t location, unsigned char byte) {
    Copy copy(input, output);
    struct stat now {};
    if (::fstat(output.fd(), &now) != 0) {
        copy.failed(Stop::Why::write, errno_error());
    } else if (S_ISREG(now.st_mode) && location >= now.st_size) {
        // Another program cut the file meanwhile: a byte written past its
        // end would grow it back, with a hole.
        copy.stop = {.why = Stop::Why::cut, .error = {}, .length = now.st_size};
    } else if (const std::error_code error =
                   S_ISBLK(now.st_mode) ? drop_cached_page(output.fd(), location) : std::error_code()) {
        copy.failed(Stop::Why::write, error);
    } else {
        write_all(copy, &byte, 1, location);
    }
    return copy.stop;
}

Stop copy_patched(const Input& input, const Output& output, std::int64_t location, unsigned char byte) {
    // A device, a pipe or a terminal gets every byte, in order: a hole
    // skipped on a disk would leave its old data showing through.
    if (!S_ISREG(output.opened.status.st_mode)) {
        return copy_through_buffer(input, output, location, byte);
    }
    const bool shared = share_blocks(input, output);
    Copy copy(input, output);
    if ((!shared && !copy_data(copy)) || !set_length(copy, shared) || !write_all(copy, &byte, 1, location)) {
        return copy.stop;
    }
    // A shared copy's blocks and a new output's name are recorded at once,
    // the patched block only once written out: now, lest a crash leave the
    // unpatched input under that name. Others are waited for as closed.
    if (const std::error_code error = shared && output.kind == Output::Kind::made
                                          ? send_to_disk(output.fd(), ToDisk::written, location, 1)
                                          : std::error_code()) {
        copy.failed(Stop::Why::write, error);
    }
    return copy.stop;
}

Stop copy_through_buffer(const Input& input, const Output& output, std::int64_t location, unsigned char byte) {
    Copy copy(input, output);
    const Patch patch{location, byte};
    copy_through_buffer(copy, {0, input.length}, &patch);
    return copy.stop;
}

bool say_stop(const Output& output, const Stop& stop, std::int64_t location) {
    if (stop.why == Stop::Why::write) {
        return say_failed("write", output.path, stop.error);
    }
    if (stop.why == Stop::Why::cut) {
        return say_outside(output.path, location, stop.length, true);
    }
    if (!stop.done()) {
        say("%s", stop.why == Stop::Why::read ? "Failed to read file.\n" : "Failed to allocate memory.\n");
    }
    return stop.done();
}

}  // namespace bytemend
