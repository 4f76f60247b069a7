#include "standard_output.h"

#include <cstdio>
#include <string>

#include "same_file.h"
#include "say.h"

namespace bytemend {

namespace {

// Standard output's file (1), which takes the report, or standard
// error's (2), which takes the messages, where a line could spoil it: not a
// terminal or the null device, nor closed.
std::optional<OpenFile> file_of(int fd) {
    OpenFile file;
    if (look_at(fd, file) || S_ISCHR(file.status.st_mode)) {
        return std::nullopt;
    }
    return file;
}

// Said on the other one.
bool refuse(int fd, const char* doing, const char* path) {
    const std::string line = std::string("Cannot ") + doing + " " + shown(path) + ": it is " +
                             (fd == 1 ? "standard output, where the report goes." : "standard error, where messages go.");
    fd == 1 ? say_error(line) : say("%s\n", line.c_str());
    return false;
}

}  // namespace

bool check_standard_output(const char* input_path, const char* output_path) {
    for (const int fd : {1, 2}) {
        const auto file = file_of(fd);
        const auto id = file ? file->id : std::nullopt;
        const auto output_id = target_id(output_path);
        if (id && output_id == id) {
            return refuse(fd, "write", output_path);
        }
        // A loop device shows only an open file what it stands on: the
        // output is opened to be read for that, and only where there is one.
        if (output_id && file && (S_ISBLK(file->status.st_mode) || is_block_device(output_path))) {
            File output;
            OpenFile opened;
            if (!open_for_reading(output_path, output) && !look_at(output.get(), opened) &&
                !check_standard_output("write", output_path, opened)) {
                return false;
            }
        }
        if (id && target_id(input_path) == id) {
            return refuse(fd, "read", input_path);
        }
    }
    return true;
}

bool check_standard_output(const char* doing, const char* path, const OpenFile& file) {
    // A loop device on a device that cannot be followed is refused as an
    // existing output, not as a stream.
    for (const int fd : {1, 2}) {
        const auto own = file_of(fd);
        const Sameness same = own ? one_or_two(*own, file) : Sameness::two;
        if (same != Sameness::two && same != Sameness::unreached) {
            return refuse(fd, doing, path);
        }
    }
    return true;
}

}  // namespace bytemend
