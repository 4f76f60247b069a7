#include "new_file.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>

namespace bytemend {

std::string NewFile::temporary_name() {
    // The clock alone where there is no source of randomness at all.
    auto bits = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    try {
        std::random_device random;
        bits ^= (std::uint64_t{random()} << 32) ^ random();
    } catch (...) {
    }
    std::array<char, 17> digits{};
    std::snprintf(digits.data(), digits.size(), "%016llx", static_cast<unsigned long long>(bits));
    return std::string(".bytemend-") + digits.data() + ".tmp";
}

std::error_code NewFile::close() {
    const std::error_code error = file_.close();
    // Kept, but with data that cannot be trusted: not kept after all.
    if (error && state_ == State::kept) {
        temporary_ = path_;
        state_ = State::temporary;
    }
    if (error) {
        discard();
    }
    state_ = State::none;
    return error;
}

std::error_code NewFile::replace(File& old) {
    std::error_code error = ready_to_replace(old.get());
    // Closed before it takes the name: data whose close failed cannot be
    // trusted, and the old file must then still be there.
    if (!error && !(error = file_.close())) {
        error = take_the_place(old);
    }
    old = File();
    if (error) {
        discard();
    }
    state_ = State::none;
    return error;
}

std::error_code NewFile::still_there() const {
    const auto now = id_at(path_);
    return now == replaces_ ? std::error_code()
                            : std::make_error_code(now ? std::errc::file_exists : std::errc::no_such_file_or_directory);
}

void NewFile::discard() {
    // Closed first: an unnamed file, or one marked for deletion, goes with it.
    file_ = File();
    // Only while the name stands for this run's file, not another's.
    if (state_ == State::temporary && id_ && id_at(temporary_) == id_) {
        remove_at(temporary_);
    }
    state_ = State::none;
}

}  // namespace bytemend
