#include "input.h"

#include <unistd.h>

#include "say.h"
#include "standard_output.h"

namespace bytemend {

namespace {

// Refuses an input with no length to patch within, saying what it is.
std::nullopt_t unmeasurable(const char* path, const char* what) {
    say("Cannot measure the length of %s: it is %s.\n", shown(path).c_str(), what);
    return std::nullopt;
}

}  // namespace

std::optional<Input> open_input(const char* path) {
    Input input;
    input.path = path;
    const std::error_code error = open_for_reading(path, input.file);
    // Windows opens no folder as a file: it is told apart as the open fails.
    if (!input.file && error == std::errc::is_a_directory) {
        return unmeasurable(path, "a directory");
    }
    if (!input.file) {
        say("Error opening %s for reading.\n", shown(path).c_str());
        say_why("open " + quoted(path) + " for reading", error);
        return std::nullopt;
    }
    if (const auto error = describe(input.file.get(), input.opened)) {
        say("Cannot measure the length of %s: %s.\n", shown(path).c_str(), error.message().c_str());
        return std::nullopt;
    }
    // Only regular files and block devices have a length to patch within.
    const auto mode = input.opened.status.st_mode;
    input.length = S_ISREG(mode)   ? input.opened.status.st_size
                   : S_ISBLK(mode) ? ::lseek(input.file.get(), 0, SEEK_END)
                                   : -1;
    if (input.length < 0) {
        return unmeasurable(path, S_ISDIR(mode) ? "a directory" : "not a regular file");
    }
    // The names were checked; this catches standard output or error on a loop
    // device of the input, or the other way round, before a word is printed.
    if (!check_standard_output("read", path, input.opened)) {
        return std::nullopt;
    }
    return input;
}

bool check_location(const Input& input, std::int64_t location) {
    return (location >= 0 && location < input.length) || say_outside(input.path, location, input.length, false);
}

bool say_outside(const char* path, std::int64_t location, std::int64_t length, bool now) {
    say("Location %lld is outside %s, which is %s%lld byte%s long.\n", static_cast<long long>(location),
        shown(path).c_str(), now ? "now " : "", static_cast<long long>(length), length == 1 ? "" : "s");
    return false;
}

}  // namespace bytemend
