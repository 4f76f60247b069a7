// Windows' files through the wide calls: identity from the volume serial and
// file index; new files under a temporary name, marked for deletion until kept.

#include <fcntl.h>
#include <windows.h>
#include <aclapi.h>  // after windows.h, which it needs

#include <algorithm>
#include <memory>
#include <vector>

#include "file_system.h"
#include "new_file.h"
#include "windows_shared.h"
#include "wtf8.h"

namespace bytemend {

std::error_code wide_path(const std::wstring& typed, std::wstring& wide, bool full) {
    constexpr std::size_t short_path = MAX_PATH - 12;  // room left for a temporary file's name
    // No name: CreateFileW's error, as Wine's GetFullPathNameW gives none.
    if (typed.empty() || is_literal(typed)) {
        wide = typed;
        return typed.empty() ? windows_error(ERROR_PATH_NOT_FOUND) : std::error_code();
    }
    wide.clear();
    const DWORD room = GetFullPathNameW(typed.c_str(), 0, nullptr, nullptr);
    std::wstring resolved(room, L'\0');
    const DWORD size = room == 0 ? 0 : GetFullPathNameW(typed.c_str(), room, resolved.data(), nullptr);
    if (size == 0 || size >= room) {
        return windows_error();
    }
    resolved.resize(size);
    wide = !full && typed.size() < short_path && size < short_path ? typed
           : size < short_path || is_literal(resolved)            ? resolved
           : resolved.starts_with(L"\\\\")                         ? L"\\\\?\\UNC" + resolved.substr(1)
                                                                   : L"\\\\?\\" + resolved;
    return {};
}

std::error_code wide_path(const char* path, std::wstring& wide, bool full) {
    const auto typed = wide_from_wtf8(path);
    wide.clear();
    return typed ? wide_path(*typed, wide, full) : std::make_error_code(std::errc::no_such_file_or_directory);
}

namespace {

// Windows' st_ino is always 0.
std::optional<FileId> handle_id(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || GetFileInformationByHandle(handle, &info) == 0) {
        return std::nullopt;
    }
    return FileId{info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

// Opened with `access` alone and every sharing mode, so that only an open
// that does not share `access` stops it; empty where none opens.
std::unique_ptr<void, BOOL(WINAPI*)(HANDLE)> open_to_ask(const std::wstring& path, DWORD flags, DWORD access = 0) {
    const HANDLE handle = path.empty() ? INVALID_HANDLE_VALUE
                                       : CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
    return {handle == INVALID_HANDLE_VALUE ? nullptr : handle, &CloseHandle};
}

std::optional<FileId> id_by_name(const char* path, DWORD flags) {
    std::wstring wide;
    wide_path(path, wide);
    return handle_id(open_to_ask(wide, flags).get());
}

// Through any links, behind \\?\; empty if unknown.
std::wstring final_path(HANDLE handle) {
    const DWORD room = GetFinalPathNameByHandleW(handle, nullptr, 0, FILE_NAME_NORMALIZED);
    std::wstring path(room, L'\0');
    const DWORD size = room == 0 ? 0 : GetFinalPathNameByHandleW(handle, path.data(), room, FILE_NAME_NORMALIZED);
    path.resize(size < room ? size : 0);
    return path;
}

// One owner, or none; false where unknown.
bool same_owner(HANDLE a, HANDLE b) {
    PSID owners[2] = {};
    PSECURITY_DESCRIPTOR held[2] = {};
    const bool known = GetSecurityInfo(a, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owners[0], nullptr, nullptr,
                                       nullptr, &held[0]) == ERROR_SUCCESS &&
                       GetSecurityInfo(b, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owners[1], nullptr, nullptr,
                                       nullptr, &held[1]) == ERROR_SUCCESS;
    const bool same = known && (owners[0] == nullptr || owners[1] == nullptr ? owners[0] == owners[1]
                                                                            : EqualSid(owners[0], owners[1]) != 0);
    LocalFree(held[0]);
    LocalFree(held[1]);
    return same;
}

template <typename Info>
std::error_code set_info(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, Info& info, DWORD size = sizeof(Info)) {
    return SetFileInformationByHandle(handle, kind, &info, size) != 0 ? std::error_code() : windows_error();
}

// While marked, a file is deleted as its last handle closes, even by a kill.
std::error_code mark_for_deletion(HANDLE handle, bool mark) {
    FILE_DISPOSITION_INFO disposition{mark};
    return set_info(handle, FileDispositionInfo, disposition);
}

// Through the handle, so that the file renamed is this one, in one step.
std::error_code rename_to(HANDLE handle, const std::wstring& full, bool replace) {
    // The name and its NUL follow it, in zeroed memory new aligns for any type.
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + full.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->FileNameLength = static_cast<DWORD>(full.size() * sizeof(wchar_t));
    full.copy(rename->FileName, full.size());
    return set_info(handle, FileRenameInfo, *rename, static_cast<DWORD>(buffer.size()));
}

// What a file system that cannot delete a file as it closes answers.
bool unsupported(const std::error_code& error) {
    const auto code = static_cast<DWORD>(error.value());
    return code == ERROR_NOT_SUPPORTED || code == ERROR_INVALID_PARAMETER || code == ERROR_INVALID_FUNCTION;
}

// Named streams, which a copy would lack; FAT and Wine list none.
bool has_streams(HANDLE handle) {
    alignas(FILE_STREAM_INFO) unsigned char buffer[sizeof(FILE_STREAM_INFO) + 32];
    if (GetFileInformationByHandleEx(handle, FileStreamInfo, buffer, sizeof buffer) == 0) {
        const std::error_code error = windows_error();
        return error.value() != ERROR_HANDLE_EOF && !unsupported(error);
    }
    const auto* data = reinterpret_cast<const FILE_STREAM_INFO*>(buffer);
    return data->NextEntryOffset != 0 ||
           std::wstring_view(data->StreamName, data->StreamNameLength / sizeof(wchar_t)) != L"::$DATA";
}

// Inherited entries are inherited again, from the folder both share; a DACL
// with none (protected, or Wine's) is set alone, never widened by the folder's.
std::error_code copy_group_and_dacl(HANDLE from, HANDLE to) {
    PSID group = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR held = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    DWORD code = GetSecurityInfo(from, SE_FILE_OBJECT, GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                 nullptr, &group, &dacl, nullptr, &held);
    if (code == ERROR_SUCCESS && GetSecurityDescriptorControl(held, &control, &revision) == 0) {
        code = GetLastError();
    }
    if (code == ERROR_SUCCESS) {
        bool inherits = false;
        void* entry = nullptr;
        for (DWORD i = 0; !inherits && dacl != nullptr && i < dacl->AceCount && GetAce(dacl, i, &entry) != 0; ++i) {
            inherits = (static_cast<ACE_HEADER*>(entry)->AceFlags & INHERITED_ACE) != 0;
        }
        const DWORD inheritance = (control & SE_DACL_PROTECTED) != 0 || !inherits
                                      ? PROTECTED_DACL_SECURITY_INFORMATION
                                      : UNPROTECTED_DACL_SECURITY_INFORMATION;
        code = SetSecurityInfo(to, SE_FILE_OBJECT, GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | inheritance,
                               nullptr, group, dacl, nullptr);
    }
    LocalFree(held);
    return code == ERROR_SUCCESS ? std::error_code() : windows_error(code);
}

// `full`, its last name spelt as in the folder: the case, or the long name.
std::wstring as_on_disk(const std::wstring& full) {
    WIN32_FIND_DATAW entry{};
    const HANDLE search = FindFirstFileExW(full.c_str(), FindExInfoStandard, &entry, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        return full;
    }
    FindClose(search);
    return full.substr(0, full.find_last_of(L'\\') + 1) + entry.cFileName;
}

// Whether the open file is at `full`, not at a link there: its final path is
// its folder's, then its name to the letter, as a link may differ from its
// target only in case. True where unknown: Wine gives none past 261 characters.
bool at_its_name(HANDLE handle, const std::wstring& full) {
    const std::wstring file = final_path(handle);
    std::wstring folder = final_path(open_to_ask(full.substr(0, full.find_last_of(L'\\') + 1), 0).get());
    if (file.empty() || folder.empty()) {
        return true;
    }
    folder.erase(folder.find_last_not_of(L'\\') + 1);
    const std::wstring name = as_on_disk(full);
    const std::size_t last = file.find_last_of(L'\\');
    return CompareStringOrdinal(file.c_str(), static_cast<int>(last), folder.c_str(), static_cast<int>(folder.size()),
                                TRUE) == CSTR_EQUAL &&
           file.substr(last) == name.substr(name.find_last_of(L'\\'));
}

std::error_code make_read_only(HANDLE handle) {
    FILE_BASIC_INFO basic{};
    if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) == 0) {
        return windows_error();
    }
    basic.FileAttributes |= FILE_ATTRIBUTE_READONLY;
    return set_info(handle, FileBasicInfo, basic);
}

// At `offset` through an OVERLAPPED, even for a plain handle.
template <typename Data, typename Call>
std::error_code through_handle(int fd, Data data, size_t size, std::int64_t offset, size_t& done, Call call) {
    // A DWORD counts the bytes: a larger call is a short one.
    const auto count = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    DWORD moved = 0;
    const bool ok = call(handle_of(fd), data, count, &moved, offset < 0 ? nullptr : &at) != 0;
    done = moved;
    return ok || GetLastError() == ERROR_HANDLE_EOF ? std::error_code() : windows_error();
}

// A folder, which Windows opens as no file ("Access denied"), named as one.
std::error_code unless_folder(const std::wstring& path, const std::error_code& error) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
               ? windows_error(directory_not_supported)
               : error;
}

// Any where unknown: the rename tells. Asked of the open folder, as for a
// drive's root Wine reads the device.
std::size_t longest_name(const std::wstring& folder) {
    DWORD longest = 0;
    const auto opened = open_to_ask(folder, 0);
    const bool known = opened && GetVolumeInformationByHandleW(opened.get(), nullptr, 0, nullptr, &longest, nullptr,
                                                               nullptr, 0) != 0;
    return known && longest > 0 ? longest : SIZE_MAX;
}

}  // namespace

std::optional<FileId> file_id(int fd) {
    return handle_id(handle_of(fd));
}

std::optional<FileState> file_state(int fd) {
    FILE_STANDARD_INFO standard{};
    FILE_BASIC_INFO times{};
    const HANDLE handle = handle_of(fd);
    if (GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard) == 0 ||
        GetFileInformationByHandleEx(handle, FileBasicInfo, &times, sizeof times) == 0) {
        return std::nullopt;
    }
    return FileState{standard.EndOfFile.QuadPart, times.LastWriteTime.QuadPart, times.ChangeTime.QuadPart};
}

// Byte-range locks belong to the open file: a shared lock through `a` stops
// an exclusive one through `b` only where both are one file. The last byte a
// file can have is tried through `b` first: another's lock there makes a guess.
Probe probe_one_file(int a, int b) {
    const auto last_byte = [](int fd, DWORD flags, bool take) {
        OVERLAPPED at{};
        at.Offset = 0xfffffffe;
        at.OffsetHigh = 0x7fffffff;
        return take ? LockFileEx(handle_of(fd), flags | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0
                    : UnlockFileEx(handle_of(fd), 0, 1, 0, &at) != 0;
    };
    const auto refused = [] { return GetLastError() == ERROR_LOCK_VIOLATION ? Probe::taken : Probe::unknown; };
    if (!last_byte(b, LOCKFILE_EXCLUSIVE_LOCK, true)) {
        return refused();
    }
    if (!last_byte(b, 0, false)) {
        return Probe::unknown;
    }
    if (!last_byte(a, 0, true)) {
        return refused();
    }
    const bool apart = last_byte(b, LOCKFILE_EXCLUSIVE_LOCK, true);
    const DWORD error = GetLastError();
    if (apart) {
        last_byte(b, 0, false);
    }
    last_byte(a, 0, false);
    return apart ? Probe::two : error == ERROR_LOCK_VIOLATION ? Probe::one : Probe::unknown;
}

std::optional<FileId> target_id(const char* path) {
    return id_by_name(path, 0);
}

// In binary: the C runtime opens files as text ("\n" as "\r\n") unless told.
std::error_code open_for_reading(const char* path, File& file) {
    std::wstring wide;
    if (const auto error = wide_path(path, wide)) {
        return error;
    }
    _doserrno = 0;
    file = File(::_wopen(wide.c_str(), _O_RDONLY | _O_BINARY));
    return file ? std::error_code() : unless_folder(wide, c_runtime_error());
}

// Read too where access and sharing allow. Deletion is shared, unlike with
// _wopen, so that fit_to_replace sees whether another open would stop a rename.
std::error_code open_for_writing(const char* path, File& file) {
    std::wstring wide;
    std::error_code error = wide_path(path, wide);
    if (error) {
        return error;
    }
    for (const DWORD access : {DWORD{GENERIC_READ | GENERIC_WRITE}, DWORD{GENERIC_WRITE}}) {
        const HANDLE handle = CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            file = File(::_open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                          ((access & GENERIC_READ) != 0 ? _O_RDWR : _O_WRONLY) | _O_BINARY));
            error = file ? std::error_code() : errno_error();
            if (!file) {
                CloseHandle(handle);
            }
            return error;
        }
        error = unless_folder(wide, windows_error());
        if (error == std::errc::no_such_file_or_directory || error == std::errc::is_a_directory) {
            return error;
        }
    }
    return error;
}

std::error_code read_at(int fd, void* data, size_t size, std::int64_t offset, size_t& done) {
    return through_handle(fd, data, size, offset, done, ReadFile);
}

std::error_code write_at(int fd, const void* data, size_t size, std::int64_t offset, size_t& done) {
    return through_handle(fd, data, size, offset, done, WriteFile);
}

std::error_code truncate_file(int fd, std::int64_t length) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = length;
    return set_info(handle_of(fd), FileEndOfFileInfo, end);
}

std::error_code close_file(int fd) {
    _doserrno = 0;
    return ::_close(fd) == 0 ? std::error_code() : c_runtime_error();
}

// In the output's folder, to be renamed there. Marked for deletion at once,
// so that a killed run leaves nothing, where the volume can: a network drive
// may not, and a failed run removes it by name. A device, or a name too long
// for the volume, is refused before the copy.
std::error_code NewFile::create(const char* path, mode_t mode) {
    path_ = path;
    mode_ = mode;
    std::wstring full;
    std::error_code error = wide_path(path, full, true);
    const std::size_t folder = full.find_last_of(L'\\') + 1;
    // A device (\\.\LPT1, which LPT1 resolves to) has no folder to hold one.
    const bool device = full.starts_with(L"\\\\.\\") && full.find(L'\\', 4) == std::wstring::npos;
    if (error || device || full.size() - folder > longest_name(full.substr(0, folder))) {
        return error ? error : windows_error(device ? ERROR_INVALID_NAME : ERROR_FILENAME_EXCED_RANGE);
    }
    std::wstring root(full.size() + 1, L'\0');
    const bool remote = GetVolumePathNameW(full.c_str(), root.data(), static_cast<DWORD>(root.size())) != 0 &&
                        GetDriveTypeW(root.c_str()) == DRIVE_REMOTE;
    const std::string place = wtf8_from_wide(full.substr(0, folder));
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        temporary_ = place + temporary_name();
        std::wstring wide;
        if ((error = wide_path(temporary_.c_str(), wide))) {
            return error;
        }
        // A new file's maker gets these whatever the folder's ACL (fit_to_replace).
        const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE | WRITE_DAC | WRITE_OWNER,
                                          FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
            continue;
        }
        if (handle == INVALID_HANDLE_VALUE) {
            return windows_error();
        }
        error = remote ? std::error_code() : mark_for_deletion(handle, true);
        marked_ = !remote && !error;
        id_ = handle_id(handle);
        file_ = File((!error || unsupported(error)) && id_
                         ? ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY)
                         : -1);
        if (!file_) {
            error = error && !unsupported(error) ? error : id_ ? errno_error() : windows_error();
            CloseHandle(handle);
            DeleteFileW(wide.c_str());
            return error;
        }
        state_ = State::temporary;
        return {};
    }
    return std::make_error_code(std::errc::file_exists);
}

// Unmarked, then renamed without replacing: in that order NTFS and SMB are
// known to keep it. Then read-only if its input is; a failure marks it again.
std::error_code NewFile::keep() {
    const HANDLE handle = handle_of(file_.get());
    std::wstring name;
    std::error_code error = wide_path(path_.c_str(), name, true);
    if (error || (marked_ && (error = mark_for_deletion(handle, false)))) {
        return error;
    }
    marked_ = false;
    if ((error = rename_to(handle, name, false)) || ((mode_ & _S_IWRITE) == 0 && (error = make_read_only(handle)))) {
        marked_ = !mark_for_deletion(handle, true);
        return error;
    }
    state_ = State::kept;
    return {};
}

// What ReplaceFileW keeps that a user sees, but the owner, as only this
// user's file is replaced: attributes, creation time, group and DACL. A file
// with more (named streams, compression, encryption, a reparse point) is
// overwritten where it lies.
std::error_code NewFile::fit_to_replace(int old) {
    constexpr DWORD carried =
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_TEMPORARY;
    // No loss: the copy is to be backed up (archive), and has no holes.
    constexpr DWORD no_loss = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_SPARSE_FILE;
    const HANDLE from = handle_of(old);
    const HANDLE to = handle_of(file_.get());
    replaces_ = handle_id(from);
    FILE_BASIC_INFO basic{};
    std::error_code error = why_not_replace(old, false);
    if (error || GetFileInformationByHandleEx(from, FileBasicInfo, &basic, sizeof basic) == 0) {
        return error ? error : windows_error();
    }
    if ((basic.FileAttributes & ~(carried | no_loss)) != 0 || has_streams(from)) {
        return windows_error(ERROR_NOT_SUPPORTED);
    }
    FILE_BASIC_INFO given{};  // times left 0 are left as they are
    given.CreationTime = basic.CreationTime;
    given.FileAttributes = (basic.FileAttributes & carried) | FILE_ATTRIBUTE_ARCHIVE;
    return (error = set_info(to, FileBasicInfo, given)) ? error : copy_group_and_dacl(from, to);
}

std::optional<FileId> NewFile::id_at(const std::string& path) const {
    return id_by_name(path.c_str(), FILE_FLAG_OPEN_REPARSE_POINT);
}

// Made writable first: Windows removes no read-only file.
void NewFile::remove_at(const std::string& path) const {
    std::wstring wide;
    if (!wide_path(path.c_str(), wide)) {
        ::_wchmod(wide.c_str(), _S_IREAD | _S_IWRITE);
        ::_wunlink(wide.c_str());
    }
}

// The reasons of doc/behaviour.md, in its order. A rename would replace a link
// at the name, not its file; links to folders on the way are no reason.
std::error_code NewFile::why_not_replace(int old, bool) const {
    const HANDLE handle = handle_of(old);
    std::wstring name;
    const std::error_code error = wide_path(path_.c_str(), name, true);
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileInformationByHandle(handle, &info) == 0                    ? windows_error()
           : info.nNumberOfLinks > 1                                         ? windows_error(ERROR_TOO_MANY_LINKS)
           : (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0          ? windows_error(ERROR_ACCESS_DENIED)
           : error                                                           ? error
           : id_at(path_) != handle_id(handle) || !at_its_name(handle, name) ? windows_error(ERROR_CANT_RESOLVE_FILENAME)
           : !same_owner(handle, handle_of(file_.get()))                     ? windows_error(ERROR_INVALID_OWNER)
           : open_to_ask(name, 0, DELETE)                                    ? std::error_code()
                                                                             : windows_error();
}

// Unmarked last: a marked file goes as it closes, under whatever name. A file
// saved at the name meanwhile, or a failure, leaves the old file as it is.
std::error_code NewFile::ready_to_replace(int old) {
    std::error_code error = send_to_disk(file_.get(), ToDisk::written);
    if (error || (error = still_there()) || (error = fit_to_replace(old)) ||
        (marked_ && (error = mark_for_deletion(handle_of(file_.get()), false)))) {
        return error;
    }
    marked_ = false;
    return {};
}

// The old file closed first, as Windows renames over no open file; the copy,
// opened again and found to be this run's, renamed over it if the name still
// holds it at the last instant, spelt as the folder spells it (a rename gives
// the case typed); then written through, unchecked, as the run has succeeded.
std::error_code NewFile::take_the_place(File& old) {
    old = File();
    std::wstring name;
    std::wstring copy;
    std::error_code error = wide_path(path_.c_str(), name, true);
    if (error || (error = wide_path(temporary_.c_str(), copy, true))) {
        return error;
    }
    const auto again = open_to_ask(copy, FILE_FLAG_OPEN_REPARSE_POINT, DELETE | GENERIC_WRITE);
    if (!again || handle_id(again.get()) != id_) {
        return again ? windows_error(ERROR_FILE_EXISTS) : windows_error();
    }
    name = as_on_disk(name);
    if (!(error = still_there()) && !(error = rename_to(again.get(), name, true))) {
        FlushFileBuffers(again.get());
    }
    return error;
}

// Windows asks no lease of a file it replaces: held as it was opened.
std::error_code reopen(File&, bool) {
    return {};
}

// FlushFileBuffers, like fsync, waits for all of the file, far dearer than a
// start; a pipe's would wait for its reader.
std::error_code send_to_disk(int fd, ToDisk how, std::int64_t, std::int64_t) {
    const HANDLE handle = handle_of(fd);
    return how == ToDisk::started || GetFileType(handle) != FILE_TYPE_DISK || FlushFileBuffers(handle) != 0
               ? std::error_code()
               : windows_error();
}

std::optional<std::int64_t> free_space(int fd) {
    std::wstring folder = final_path(handle_of(fd));
    folder.resize(folder.find_last_of(L'\\') + 1);
    ULARGE_INTEGER available{};
    if (folder.empty() || GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr) == 0) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(available.QuadPart);
}

// Windows sees no holes here (next_data): only the length counts.
bool overwrite_fits(int fd, std::int64_t length) {
    LARGE_INTEGER size{};
    return GetFileSizeEx(handle_of(fd), &size) != 0 && size.QuadPart >= length;
}

}  // namespace bytemend
