#include "report.h"

#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>

#include "messages.h"

namespace bytemend {

namespace {

bool put_formatted(std::FILE* stream, const char* format, std::va_list arguments) {
    std::va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, arguments);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return length >= 0 && put_text(stream, text);
}

// Standard output's descriptor and what it is, where it is a file that a
// report could spoil: not a terminal or the null device, nor closed.
std::optional<std::pair<int, struct stat>> standard_output() {
    struct stat status {};
    const int fd = ::fileno(stdout);
    if (fd < 0 || ::fstat(fd, &status) != 0 || S_ISCHR(status.st_mode)) {
        return std::nullopt;
    }
    return std::make_pair(fd, status);
}

}  // namespace

bool say(const char* format, ...) {  // NOLINT(cert-dcl50-cpp): see report.h
    std::va_list arguments;
    va_start(arguments, format);
    const bool said = put_formatted(stdout, format, arguments);
    va_end(arguments);
    return said;
}

bool say_error(const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
    std::va_list arguments;
    va_start(arguments, format);
    const bool said = put_formatted(stderr, format, arguments);
    va_end(arguments);
    return said;
}

std::string shown(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            escaped += c;
        } else if (c == '\n') {
            escaped += "\\n";
        } else if (c == '\t') {
            escaped += "\\t";
        } else if (c == '\r') {
            escaped += "\\r";
        } else {
            constexpr const char* digits = "0123456789abcdef";
            escaped += "\\x";
            escaped += digits[byte >> 4];
            escaped += digits[byte & 0xf];
        }
    }
    return escaped;
}

bool say_why(const std::string& doing, int error) {
    return say_error("bytemend: cannot %s: %s\n", doing.c_str(), error_text(error).c_str());
}

std::string quoted(std::string_view name) {
    // Appended to, not "'" + shown(name): GCC 12 warns of an overlap there
    // that cannot happen (-Wrestrict).
    std::string text(1, '\'');
    text += shown(name);
    text += '\'';
    return text;
}

bool refuse_standard_output(const char* doing, const char* path) {
    say_error("Cannot %s %s: it is standard output, where the report goes.\n", doing, shown(path).c_str());
    return false;
}

bool is_standard_output(const std::optional<FileId>& id) {
    const auto out = standard_output();
    return id && out && file_id(out->first) == id;
}

bool is_standard_output(int fd, const struct stat& status, const std::optional<FileId>& id) {
    const auto out = standard_output();
    if (!out) {
        return false;
    }
    const auto out_id = file_id(out->first);
    if (id && out_id == id) {
        return true;
    }
    if (!S_ISBLK(status.st_mode) && !S_ISBLK(out->second.st_mode)) {
        return false;
    }
    const auto window = window_of(fd, status, id);
    const auto out_window = window_of(out->first, out->second, out_id);
    return window && out_window && window->overlaps(*out_window);
}

namespace {

// Whether the existing file at `path` shares bytes with standard output
// through a loop device (one on the other, or both on one file), which only
// an open file shows, before the report is printed: the output is opened
// only after it. Opened to be read, and only where a block device is at
// either end.
bool shares_with_standard_output(const char* path) {
    const auto out = standard_output();
    struct stat status {};
    if (!out || ::stat(path, &status) != 0 || !(S_ISBLK(status.st_mode) || S_ISBLK(out->second.st_mode))) {
        return false;
    }
    const File file = open_for_reading(path);
    struct stat opened {};
    return file && ::fstat(file.get(), &opened) == 0 &&
           is_standard_output(file.get(), opened, file_id(file.get()));
}

}  // namespace

bool report_has_a_place(const char* input_path, const char* output_path) {
    if (is_standard_output(target_id(output_path)) || shares_with_standard_output(output_path)) {
        return refuse_standard_output("write", output_path);
    }
    if (is_standard_output(target_id(input_path))) {
        return refuse_standard_output("read", input_path);
    }
    return true;
}

}  // namespace bytemend
