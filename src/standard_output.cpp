#include "standard_output.h"

#include <cstdio>
#include <string>

#include "say.h"

namespace bytemend {

namespace {

// Standard output's descriptor, where a report could spoil its file: not a
// terminal or the null device, nor closed; -1 elsewhere.
int report_file(struct stat& status) {
    const int fd = ::fileno(stdout);
    return fd >= 0 && ::fstat(fd, &status) == 0 && !S_ISCHR(status.st_mode) ? fd : -1;
}

bool refuse(const char* doing, const char* path) {
    say_error(std::string("Cannot ") + doing + " " + shown(path) + ": it is standard output, where the report goes.");
    return false;
}

}  // namespace

bool check_standard_output(const char* input_path, const char* output_path) {
    struct stat report {};
    const int fd = report_file(report);
    const auto report_id = fd < 0 ? std::nullopt : file_id(fd);
    const auto output_id = target_id(output_path);
    if (report_id && output_id == report_id) {
        return refuse("write", output_path);
    }
    // A loop device shows only an open file what it stands on: the output
    // is opened to be read for that, and only where there is one.
    if (output_id && fd >= 0 && (S_ISBLK(report.st_mode) || is_block_device(output_path))) {
        std::error_code ignored;
        const File output = open_for_reading(output_path, ignored);
        struct stat status {};
        if (output && ::fstat(output.get(), &status) == 0 &&
            !check_standard_output("write", output_path, output.get(), status, file_id(output.get()))) {
            return false;
        }
    }
    return !report_id || target_id(input_path) != report_id || refuse("read", input_path);
}

bool check_standard_output(const char* doing, const char* path, int fd, const struct stat& status,
                           const std::optional<FileId>& id) {
    struct stat report {};
    const int report_fd = report_file(report);
    const auto report_id = report_fd < 0 ? std::nullopt : file_id(report_fd);
    if (report_id && id == report_id) {
        return refuse(doing, path);
    }
    if (report_fd < 0 || (!S_ISBLK(status.st_mode) && !S_ISBLK(report.st_mode))) {
        return true;
    }
    const auto window = window_of(fd, status, id);
    const auto report_window = window_of(report_fd, report, report_id);
    return !window || !report_window || !window->overlaps(*report_window) || refuse(doing, path);
}

}  // namespace bytemend
