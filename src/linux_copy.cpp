// Linux's fast copies, and its writeback.

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "fast_copy.h"
#include "file_system.h"
#include "posix.h"

namespace bytemend {

std::error_code clone_file(int in, int out, std::int64_t length) {
    file_clone_range range{.src_fd = in, .src_offset = 0, .src_length = static_cast<std::uint64_t>(length),
                           .dest_offset = 0};
    return ::ioctl(out, FICLONERANGE, &range) == 0 ? std::error_code() : errno_error();
}

std::error_code kernel_copy(int in, int out, std::int64_t offset, std::int64_t size, std::int64_t& copied) {
    // The kernel caps one call near 2 GiB; asking for 1 GiB keeps every
    // request whole on 32-bit systems too.
    constexpr std::int64_t most_per_call = std::int64_t{1} << 30;
    for (copied = 0; copied < size;) {
        loff_t in_offset = offset + copied;
        loff_t out_offset = in_offset;
        const auto request = static_cast<size_t>(std::min(size - copied, most_per_call));
        const ssize_t done = ::copy_file_range(in, &in_offset, out, &out_offset, request, 0);
        copied += done > 0 ? done : 0;
        if (done > 0 || (done < 0 && errno == EINTR)) {
            continue;
        }
        // Files in /proc and /sys copy nothing this way (kernels 5.3 to
        // 5.18); the buffered copy reads them, and tells an input that ended.
        if (copied == 0 && (done == 0 || means_unsupported(errno))) {
            return std::make_error_code(std::errc::operation_not_supported);
        }
        return done == 0 ? std::error_code() : errno_error();
    }
    return {};
}

std::error_code punch_hole(int fd, std::int64_t offset, std::int64_t size) {
    if (::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, offset, size) == 0) {
        return {};
    }
    return means_unsupported(errno) ? std::make_error_code(std::errc::operation_not_supported) : errno_error();
}

std::optional<Extent> next_data(int fd, std::int64_t from, std::int64_t length) {
    if (from >= length) {
        return std::nullopt;
    }
    const off_t start = ::lseek(fd, from, SEEK_DATA);
    // ENXIO: nothing but holes up to the end of the file.
    if (start >= length || (start < 0 && errno == ENXIO)) {
        return std::nullopt;
    }
    // A file system that does not report holes: all of it is data.
    if (start < 0) {
        return Extent{from, length};
    }
    const off_t end = ::lseek(fd, start, SEEK_HOLE);
    return Extent{start, end < 0 ? length : std::min<std::int64_t>(end, length)};
}

std::optional<std::error_code> write_back(int fd, bool wait, std::int64_t offset, std::int64_t size) {
    const unsigned waits = wait ? SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WAIT_AFTER : 0;
    return ::sync_file_range(fd, offset, size, SYNC_FILE_RANGE_WRITE | waits) == 0 ? std::error_code() : errno_error();
}

}  // namespace bytemend
