#pragma once

// What the Windows files share: Windows' errors, handles and wide names.

#include <io.h>
#include <windows.h>

#include <string>
#include <string_view>
#include <system_error>

namespace bytemend {

constexpr DWORD directory_not_supported = 336;  // ERROR_DIRECTORY_NOT_SUPPORTED, which MinGW lacks

// The error of the Windows call that just failed, or `code`.
std::error_code windows_error(DWORD code = GetLastError());

// The error of the C runtime call that just failed, _doserrno cleared before
// it: Windows' own where it gave one, else errno's (EBADF, EMFILE).
std::error_code c_runtime_error();

inline HANDLE handle_of(int fd) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

// What the wide calls take as it is: \\?\ for any file, \\.\ for a device.
inline bool is_literal(std::wstring_view path) {
    return path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\");
}

// A typed name, UTF-16 or WTF-8, as the wide calls take it; empty, with the
// error, where it has none. As typed while short: NUL and CON stay devices.
// Else, or where `full`, as Windows resolves it ("..", LPT1 as \\.\LPT1),
// behind \\?\ once long, which unlike longPathAware needs no registry setting.
std::error_code wide_path(const std::wstring& typed, std::wstring& wide, bool full = false);
std::error_code wide_path(const char* path, std::wstring& wide, bool full = false);

}  // namespace bytemend
