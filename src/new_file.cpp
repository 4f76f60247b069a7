#include "new_file.h"

#include <cerrno>
#include <cstring>

namespace bytemend {

bool NewFile::take_path(const char* path) {
    const std::size_t size = std::strlen(path);
    if (size >= path_.size()) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(path_.data(), path, size + 1);
    return true;
}

bool NewFile::close() {
    if (file_.close()) {
        state_ = State::none;
        return true;
    }
    const int error = errno;
    // Kept, but with data that cannot be trusted: not kept after all.
    if (state_ == State::kept) {
        temporary_ = path_;
        state_ = State::temporary;
    }
    discard();
    errno = error;
    return false;
}

void NewFile::discard() {
    // Closed first: a file with no name goes with its descriptor, and one
    // that Windows marked for deletion as it closes.
    file_ = File();
    // Only while the name still stands for the file this run made: another
    // process may have put something else there meanwhile.
    const auto now = state_ == State::temporary ? path_id(temporary_.data()) : std::nullopt;
    if (now && id_ && *now == *id_) {
        remove_file(temporary_.data());
    }
    state_ = State::none;
}

}  // namespace bytemend
