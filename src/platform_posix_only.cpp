// POSIX systems without Linux's own ways to make a new file: it is made
// under a temporary name and kept by a link, or by a rename once its name is
// seen to be free (see platform_posix.cpp). The BSDs and macOS build with
// this beside platform_posix.cpp and unavailable.cpp until they get a file
// of their own.

#include <cerrno>

#include "new_file.h"

namespace bytemend {

File open_unnamed(const char*, mode_t) {
    errno = EOPNOTSUPP;
    return {};
}

bool give_name(int, const char*) {
    errno = EOPNOTSUPP;
    return false;
}

bool rename_exclusive(const char*, const char*) {
    errno = EINVAL;
    return false;
}

}  // namespace bytemend
