#include "standard_output.h"

#include <array>
#include <cstdio>
#include <string>

#include "same_file.h"
#include "say.h"

namespace bytemend {

namespace {

// Standard output's (1) or error's (2) file, where a line could spoil it:
// no character device (a terminal, the null device), nor closed.
std::optional<OpenFile> file_of(int fd) {
    OpenFile file;
    if (describe(fd, file) || S_ISCHR(file.status.st_mode)) {
        return std::nullopt;
    }
    return file;
}

bool clash(const OpenFile& stream, const OpenFile& file) {
    const Sameness same = one_or_two(stream, file);
    return same != Sameness::two && same != Sameness::unreached;
}

std::string refusal(int fd, const char* doing, const char* path) {
    return std::string("Cannot ") + doing + " " + shown(path) + ": it is " +
           (fd == 1 ? "standard output, where the report goes." : "standard error, where messages go.");
}

// Says the refusal on the stream that was not refused, lest it go into the
// data; on neither where both were. True where there is none.
bool accepted(const std::array<std::string, 2>& refused) {
    if (refused[0].empty() == refused[1].empty()) {
        return refused[0].empty();
    }
    refused[1].empty() ? say_error(refused[0]) : say("%s\n", refused[1].c_str());
    return false;
}

}  // namespace

bool check_standard_output(const char* input_path, const char* output_path) {
    std::array<std::string, 2> refused;
    const auto output_id = target_id(output_path);
    for (const int fd : {1, 2}) {
        const auto file = file_of(fd);
        const auto id = file ? file->id : std::nullopt;
        // Only an open file shows what a loop device stands on: the output,
        // where there is one, is opened to be read for that.
        File output;
        OpenFile opened;
        const bool loop = output_id && file && (S_ISBLK(file->status.st_mode) || is_block_device(output_path)) &&
                          !open_for_reading(output_path, output) && !describe(output.get(), opened) &&
                          clash(*file, opened);
        if ((id && output_id == id) || loop) {
            refused[fd - 1] = refusal(fd, "write", output_path);
        } else if (id && target_id(input_path) == id) {
            refused[fd - 1] = refusal(fd, "read", input_path);
        }
    }
    return accepted(refused);
}

bool check_standard_output(const char* doing, const char* path, const OpenFile& file) {
    // A loop device that cannot be followed is refused as an output, not here.
    std::array<std::string, 2> refused;
    for (const int fd : {1, 2}) {
        const auto own = file_of(fd);
        if (own && clash(*own, file)) {
            refused[fd - 1] = refusal(fd, doing, path);
        }
    }
    return accepted(refused);
}

}  // namespace bytemend
