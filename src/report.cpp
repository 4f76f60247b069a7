#include "report.h"

#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <string>

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

bool is_standard_output(const std::optional<FileId>& id) {
    struct stat status {};
    const int fd = ::fileno(stdout);
    return id && fd >= 0 && ::fstat(fd, &status) == 0 && !S_ISCHR(status.st_mode) && file_id(fd) == id;
}

bool report_has_a_place(const char* input_path, const char* output_path) {
    if (is_standard_output(target_id(output_path))) {
        say_error("Cannot write %s: it is standard output, where the report goes.\n", output_path);
        return false;
    }
    if (is_standard_output(target_id(input_path))) {
        say_error("Cannot read %s: it is standard output, where the report goes.\n", input_path);
        return false;
    }
    return true;
}

}  // namespace bytemend
