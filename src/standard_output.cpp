#include "standard_output.h"

#include <cstdio>
#include <string>

#include "same_file.h"
#include "say.h"

namespace bytemend {

namespace {

// Standard output's file, where a report could spoil it: not a terminal or
// the null device, nor closed.
std::optional<OpenFile> report_file() {
    OpenFile report;
    const int fd = ::fileno(stdout);
    if (fd < 0 || look_at(fd, report) || S_ISCHR(report.status.st_mode)) {
        return std::nullopt;
    }
    return report;
}

bool refuse(const char* doing, const char* path) {
    say_error(std::string("Cannot ") + doing + " " + shown(path) + ": it is standard output, where the report goes.");
    return false;
}

}  // namespace

bool check_standard_output(const char* input_path, const char* output_path) {
    const auto report = report_file();
    const auto report_id = report ? report->id : std::nullopt;
    const auto output_id = target_id(output_path);
    if (report_id && output_id == report_id) {
        return refuse("write", output_path);
    }
    // A loop device shows only an open file what it stands on: the output
    // is opened to be read for that, and only where there is one.
    if (output_id && report && (S_ISBLK(report->status.st_mode) || is_block_device(output_path))) {
        File output;
        OpenFile opened;
        if (!open_for_reading(output_path, output) && !look_at(output.get(), opened) &&
            !check_standard_output("write", output_path, opened)) {
            return false;
        }
    }
    return !report_id || target_id(input_path) != report_id || refuse("read", input_path);
}

bool check_standard_output(const char* doing, const char* path, const OpenFile& file) {
    // Only the report goes there: a loop device on a device that cannot be
    // followed is refused as an existing output, not as standard output.
    const auto report = report_file();
    const Sameness same = report ? one_or_two(*report, file) : Sameness::two;
    return same == Sameness::two || same == Sameness::unreached || refuse(doing, path);
}

}  // namespace bytemend
