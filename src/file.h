#pragma once

#include <unistd.h>

#include <system_error>
#include <utility>

namespace bytemend {

// Closes `fd`; each system's source file gives it.
std::error_code close_file(int fd);

// The one owner of an open file descriptor. A file that was written is
// closed with close(): the kernel may report lost data only there.
class File {
public:
    File() = default;
    explicit File(int fd) : fd_(fd) {}
    File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    File& operator=(File&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() { reset(); }

    [[nodiscard]] int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

    // Not retried on EINTR: Linux has released the descriptor either way.
    std::error_code close() { return close_file(std::exchange(fd_, -1)); }

private:
    void reset() {
        if (fd_ >= 0) {
            ::close(std::exchange(fd_, -1));
        }
    }

    int fd_ = -1;
};

}  // namespace bytemend
