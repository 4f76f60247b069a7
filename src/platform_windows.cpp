// Windows: names in UTF-16 through the wide calls, long paths behind \\?\,
// identity from the volume serial and file index, and new files made under a
// temporary name that is deleted unless they are completed.

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "new_file.h"
#include "platform.h"

extern "C" {
// The C runtime expands wildcard patterns in the arguments, as a Unix shell
// would, so that "bytemend *.rom ..." behaves on both alike. A pattern that
// matches nothing stays as typed.
int _dowildcard = -1;

// The C runtime's reading of the wide command line, with the same wildcard
// expansion; no header declares it.
struct StartupInfo {
    int new_mode;
};
int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int wildcard, StartupInfo* info);
}

namespace bytemend {

namespace {

// The longest path the wide calls take, with its end.
constexpr std::size_t wide_room = 32768;
using WidePath = std::array<wchar_t, wide_room>;

int errno_of(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    default:
        return EIO;
    }
}

bool failed_with(DWORD error) {
    errno = errno_of(error);
    return false;
}

// A path as the wide calls take it: UTF-16 and, once its full form reaches
// MAX_PATH, made absolute behind \\?\, which lifts the limit on every Windows
// without the registry setting that the manifest's longPathAware also needs.
bool widen(const char* path, WidePath& wide) {
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide.data(), wide_room) == 0) {
        errno = GetLastError() == ERROR_INSUFFICIENT_BUFFER ? ENAMETOOLONG : ENOENT;
        return false;
    }
    if (std::wcsncmp(wide.data(), L"\\\\?\\", 4) == 0) {
        return true;
    }
    WidePath full;
    const DWORD size = GetFullPathNameW(wide.data(), wide_room, full.data(), nullptr);
    if (size == 0 || size >= wide_room - 8) {
        errno = ENAMETOOLONG;
        return false;
    }
    // As typed while every call takes it, device names such as NUL included.
    if (size < MAX_PATH - 12) {
        return true;
    }
    const bool unc = std::wcsncmp(full.data(), L"\\\\", 2) == 0;
    std::swprintf(wide.data(), wide_room, L"%ls%ls", unc ? L"\\\\?\\UNC" : L"\\\\?\\",
                  unc ? full.data() + 1 : full.data());
    return true;
}

// The volume serial number and file index (Windows' st_ino is always 0),
// with the size and the times of the last write and the last change.
std::optional<FileId> handle_id(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_BASIC_INFO times{};
    if (handle == INVALID_HANDLE_VALUE || GetFileInformationByHandle(handle, &info) == 0 ||
        GetFileInformationByHandleEx(handle, FileBasicInfo, &times, sizeof times) == 0) {
        return std::nullopt;
    }
    return FileId{info.dwVolumeSerialNumber,
                  (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow,
                  static_cast<std::int64_t>((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow),
                  times.LastWriteTime.QuadPart, times.ChangeTime.QuadPart};
}

// The identity of what `path` reaches, or the link itself with `flags`
// FILE_FLAG_OPEN_REPARSE_POINT. No access is asked and every sharing mode
// allowed, so that this opens whatever else has the file open.
std::optional<FileId> id_at(const char* path, DWORD flags) {
    WidePath wide;
    if (!widen(path, wide)) {
        return std::nullopt;
    }
    const HANDLE handle = CreateFileW(wide.data(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        failed_with(GetLastError());
        return std::nullopt;
    }
    const auto id = handle_id(handle);
    CloseHandle(handle);
    return id;
}

UINT console_code_page = 0;

void restore_console() {
    SetConsoleOutputCP(console_code_page);
}

// A new file is deleted when its last handle closes, or when the process
// dies, until this mark is cleared.
bool mark_for_deletion(HANDLE handle, bool mark) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = mark ? TRUE : FALSE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0 ||
           failed_with(GetLastError());
}

bool make_read_only(HANDLE handle) {
    FILE_BASIC_INFO basic{};
    if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) == 0) {
        return failed_with(GetLastError());
    }
    basic.FileAttributes |= FILE_ATTRIBUTE_READONLY;
    return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) != 0 ||
           failed_with(GetLastError());
}

}  // namespace

// A standard descriptor with no file behind it stays taken here (the C
// runtime marks it -2), so no file of the run gets its number; nothing
// printed there reaches anyone, and the run ends with status 1.
char** start_process(int& argc, char** argv) {
    int count = 0;
    wchar_t** wide = nullptr;
    wchar_t** environment = nullptr;
    StartupInfo info{};
    if (__wgetmainargs(&count, &wide, &environment, _dowildcard, &info) < 0 || wide == nullptr) {
        return argv;
    }
    auto** typed = static_cast<char**>(std::calloc(static_cast<std::size_t>(count) + 1, sizeof(char*)));
    for (int i = 0; typed != nullptr && i < count; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        typed[i] = static_cast<char*>(std::malloc(static_cast<std::size_t>(size)));
        if (typed[i] == nullptr) {
            return nullptr;
        }
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, typed[i], size, nullptr, nullptr);
    }
    argc = count;
    // Printed paths are UTF-8: a console shows them as typed while the
    // command runs, and gets its own code page back after.
    DWORD console_mode = 0;
    if (typed != nullptr && GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &console_mode) != 0) {
        console_code_page = GetConsoleOutputCP();
        SetConsoleOutputCP(CP_UTF8);
        std::atexit(restore_console);
    }
    return typed;
}

File open_file(const char* path, int flags, mode_t mode) {
    WidePath wide;
    return widen(path, wide) ? File(::_wopen(wide.data(), flags, mode)) : File();
}

bool remove_file(const char* path) {
    WidePath wide;
    if (!widen(path, wide)) {
        return false;
    }
    // Windows will not remove a read-only file.
    ::_wchmod(wide.data(), _S_IREAD | _S_IWRITE);
    return ::_wunlink(wide.data()) == 0;
}

std::optional<FileId> file_id(int fd, const struct stat&) {
    return handle_id(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)));
}

std::optional<FileId> path_id(const char* path) {
    return id_at(path, FILE_FLAG_OPEN_REPARSE_POINT);
}

std::optional<FileId> target_id(const char* path) {
    return id_at(path, 0);
}

File open_for_reading(const char* path) {
    return open_file(path, O_RDONLY | O_BINARY);
}

// One thread, so moving the position first is safe; nothing else reads it.
ssize_t read_at(int fd, void* data, size_t size, std::int64_t offset) {
    if (::_lseeki64(fd, offset, SEEK_SET) < 0) {
        return -1;
    }
    return ::_read(fd, data, static_cast<unsigned>(size));
}

ssize_t write_at(int fd, const void* data, size_t size, std::int64_t offset) {
    if (::_lseeki64(fd, offset, SEEK_SET) < 0) {
        return -1;
    }
    return ::_write(fd, data, static_cast<unsigned>(size));
}

// A name of its own in the output's folder, marked for deletion at once: a
// run that fails or is killed leaves nothing. Made writable whatever the
// input is, since Windows will not delete a read-only file. The C runtime's
// opens do not follow a link to a missing file: the name itself is where the
// new file goes.
bool NewFile::create(const char* path, mode_t mode) {
    if (!take_path(path)) {
        return false;
    }
    mode_ = mode;
    const char* slash = std::strrchr(path, '/');
    const char* backslash = std::strrchr(path, '\\');
    const char* end = slash > backslash ? slash : backslash;
    const int folder = end == nullptr ? 0 : static_cast<int>(end - path) + 1;
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const int length = std::snprintf(temporary_.data(), temporary_.size(), "%.*s.bytemend-%lu-%u.tmp",
                                         folder, path, GetCurrentProcessId(), attempt);
        WidePath wide;
        if (length < 0 || static_cast<std::size_t>(length) >= temporary_.size()) {
            errno = ENAMETOOLONG;
            return false;
        }
        if (!widen(temporary_.data(), wide)) {
            return false;
        }
        const HANDLE handle = CreateFileW(wide.data(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                          FILE_SHARE_READ, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS) {
                continue;
            }
            return failed_with(GetLastError());
        }
        // Marked before anything else, to keep short the moment in which a
        // kill would leave the file behind.
        const bool marked = mark_for_deletion(handle, true);
        id_ = handle_id(handle);
        const int fd = marked && id_
                           ? ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY)
                           : -1;
        if (fd < 0) {
            CloseHandle(handle);
            DeleteFileW(wide.data());
            return false;
        }
        file_ = File(fd);
        state_ = State::temporary;
        return true;
    }
    errno = EEXIST;
    return false;
}

// Renamed without replacing anything, then kept; a read-only input's copy
// becomes read-only only now. A relative name is taken from the current
// folder, as it was typed.
bool NewFile::keep() {
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(file_.get()));
    WidePath name;
    if (!widen(path_.data(), name)) {
        return false;
    }
    alignas(FILE_RENAME_INFO) static unsigned char buffer[sizeof(FILE_RENAME_INFO) + sizeof name];
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer);
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(std::wcslen(name.data()) * sizeof(wchar_t));
    std::memcpy(rename->FileName, name.data(), rename->FileNameLength + sizeof(wchar_t));
    if (SetFileInformationByHandle(handle, FileRenameInfo, rename, sizeof buffer) == 0) {
        return failed_with(GetLastError());
    }
    if (!mark_for_deletion(handle, false)) {
        return false;
    }
    if ((mode_ & _S_IWRITE) == 0 && !make_read_only(handle)) {
        const int error = errno;
        mark_for_deletion(handle, true);
        errno = error;
        return false;
    }
    state_ = State::kept;
    return true;
}

std::optional<Window> device_window(int, const struct stat&) {
    return std::nullopt;
}

// FlushFileBuffers waits for all of it, which is far dearer than a start.
bool start_writeback(int) {
    return true;
}

bool clone_file(int, int) {
    return false;
}

FastPath kernel_copy(int, int, std::int64_t, std::int64_t) {
    return FastPath::unsupported;
}

FastPath punch_hole(int, std::int64_t, std::int64_t) {
    return FastPath::unsupported;
}

// Windows reports allocated ranges (FSCTL_QUERY_ALLOCATED_RANGES), but Wine,
// where this is tested, does not: all of a file is data.
std::optional<Extent> next_data(int, std::int64_t from, std::int64_t length) {
    if (from >= length) {
        return std::nullopt;
    }
    return Extent{from, length};
}

}  // namespace bytemend
