// Windows: its errors in its own words, and text shown on a console as typed.

#include <cstdlib>

#include "console.h"
#include "file_system.h"
#include "windows_shared.h"
#include "wtf8.h"

namespace bytemend {

namespace {

class WindowsCategory : public std::error_category {
public:
    [[nodiscard]] const char* name() const noexcept override { return "Windows"; }
    // The two that the shared code asks about: a missing file, as the C
    // runtime counts one for an open (not ERROR_INVALID_NAME), and a folder.
    [[nodiscard]] std::error_condition default_error_condition(int code) const noexcept override {
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND
                   ? std::make_error_condition(std::errc::no_such_file_or_directory)
               : code == static_cast<int>(directory_not_supported)
                   ? std::make_error_condition(std::errc::is_a_directory)
                   : std::error_condition(code, *this);
    }
    // Where Windows has no words (Wine lacks some): errno's, if any.
    [[nodiscard]] std::string message(int code) const override {
        wchar_t* words = nullptr;
        if (FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&words), 0, nullptr) == 0) {
            const std::error_condition meaning = default_error_condition(code);
            return code == static_cast<int>(directory_not_supported) ? "An operation is not supported on a directory"
                   : meaning.category() != *this ? meaning.message() : "Windows error " + std::to_string(code);
        }
        std::wstring text(words);
        LocalFree(words);
        // Less its line end and full stop: the message has its own.
        text.erase(text.find_last_not_of(L"\r\n .") + 1);
        return wtf8_from_wide(text);
    }
};

}  // namespace

std::error_code windows_error(DWORD code) {
    static const WindowsCategory category;
    return {static_cast<int>(code), category};
}

std::error_code c_runtime_error() {
    return _doserrno != 0 ? windows_error(_doserrno) : errno_error();
}

bool out_of_room(const std::error_code& error) {
    constexpr DWORD quota_exceeded = 1295;  // ERROR_DISK_QUOTA_EXCEEDED, which MinGW lacks
    const auto code = static_cast<DWORD>(error.value());
    return error.category() == windows_error().category() &&
           (code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL || code == quota_exceeded);
}

// A console gets the wide call, whatever its code page: the C runtime would
// read the bytes in the ANSI code page.
bool put_text(std::FILE* stream, std::string_view text) {
    const int fd = ::_fileno(stream);
    const HANDLE console = fd < 0 ? INVALID_HANDLE_VALUE : handle_of(fd);
    DWORD mode = 0;
    const auto wide = console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode) != 0 ? wide_from_wtf8(text)
                                                                                             : std::nullopt;
    // Out at once: the report line outlives a kill mid-copy.
    if (!wide) {
        return std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
    }
    std::fflush(stream);
    DWORD written = 0;
    return WriteConsoleW(console, wide->data(), static_cast<DWORD>(wide->size()), &written, nullptr) != 0 &&
           written == wide->size();
}

}  // namespace bytemend
