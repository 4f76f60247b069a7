// POSIX systems without Linux's own ways to make a new file: it is made
// under a temporary name and kept by a link, or by a rename once its name is
// seen to be free (see platform_posix.cpp). Built with platform_posix.cpp
// and unavailable.cpp as the portable preset, which CI runs on Linux; no
// other system is built or tested with it.

#include "posix_new_file.h"

namespace bytemend {

File open_unnamed(const std::string&, mode_t) {
    return {};
}

std::error_code give_name(int, const char*) {
    return std::make_error_code(std::errc::operation_not_supported);
}

std::error_code rename_exclusive(const char*, const char*) {
    return std::make_error_code(std::errc::invalid_argument);
}

}  // namespace bytemend
