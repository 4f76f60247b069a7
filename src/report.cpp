#include "report.h"

#include <sys/stat.h>

#include <cstdio>

namespace bytemend {

bool is_standard_output(const std::optional<FileId>& id) {
    struct stat status {};
    const int fd = ::fileno(stdout);
    return id && fd >= 0 && ::fstat(fd, &status) == 0 && !S_ISCHR(status.st_mode) &&
           file_id(fd, status) == id;
}

bool report_has_a_place(const char* input_path, const char* output_path) {
    if (is_standard_output(target_id(output_path))) {
        std::fprintf(stderr, "Cannot write %s: it is standard output, where the report goes.\n",
                     output_path);
        return false;
    }
    if (is_standard_output(target_id(input_path))) {
        std::fprintf(stderr, "Cannot read %s: it is standard output, where the report goes.\n",
                     input_path);
        return false;
    }
    return true;
}

}  // namespace bytemend
