// Windows: names in UTF-16 through the wide calls, kept exactly in WTF-8;
// long paths behind \\?\; identity from the volume serial and file index;
// new files under a temporary name, deleted unless completed.

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "console.h"
#include "fast_copy.h"
#include "file_system.h"
#include "new_file.h"
#include "say.h"
#include "startup.h"
#include "wtf8.h"

// The C runtime expands no patterns: start_process reads the command line.
extern "C" {
int _dowildcard = 0;
}

namespace bytemend {

namespace {

// Codes that MinGW's headers lack.
constexpr DWORD directory_not_supported = 336;  // ERROR_DIRECTORY_NOT_SUPPORTED
constexpr DWORD quota_exceeded = 1295;          // ERROR_DISK_QUOTA_EXCEEDED

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
    // Without Windows' words (Wine lacks some), its errno's words, if any.
    [[nodiscard]] std::string message(int code) const override {
        wchar_t* words = nullptr;
        if (FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&words), 0, nullptr) == 0) {
            if (code == static_cast<int>(directory_not_supported)) {
                return "An operation is not supported on a directory";
            }
            const std::error_condition meaning = default_error_condition(code);
            return meaning.category() != *this ? meaning.message() : "Windows error " + std::to_string(code);
        }
        std::wstring text(words);
        LocalFree(words);
        // Less its line end and full stop: the message has its own.
        text.erase(text.find_last_not_of(L"\r\n .") + 1);
        return wtf8_from_wide(text);
    }
};

// The error of the Windows call that just failed, or `code`.
std::error_code windows_error(DWORD code = GetLastError()) {
    static const WindowsCategory category;
    return {static_cast<int>(code), category};
}

// The error of the C runtime call that just failed, _doserrno cleared before
// it: Windows' own where it gave one, else the C runtime's (EBADF, EMFILE).
std::error_code c_runtime_error() {
    return _doserrno != 0 ? windows_error(_doserrno) : errno_error();
}

// What the wide calls take as it is: \\?\ for any file, \\.\ for a device.
bool is_literal(std::wstring_view path) {
    return path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\");
}

// A typed name as the wide calls take it, in `wide`; empty with the error
// where it has none. As typed while it and its full form are short (below
// MAX_PATH, less room for a temporary file's name): NUL and CON stay devices.
// Else, or for `full`, as Windows resolves it ("..", LPT1 as \\.\LPT1),
// behind \\?\ once long, which unlike longPathAware needs no registry setting.
std::error_code wide_path(const std::wstring& typed, std::wstring& wide, bool full = false) {
    constexpr std::size_t short_path = MAX_PATH - 12;
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

// The same of a path in WTF-8.
std::error_code wide_path(const char* path, std::wstring& wide, bool full = false) {
    const auto typed = wide_from_wtf8(path);
    wide.clear();
    return typed ? wide_path(*typed, wide, full) : std::make_error_code(std::errc::no_such_file_or_directory);
}

// The volume serial number and file index (Windows' st_ino is always 0).
std::optional<FileId> handle_id(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || GetFileInformationByHandle(handle, &info) == 0) {
        return std::nullopt;
    }
    return FileId{info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

HANDLE handle_of(int fd) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

// A file or folder opened to be asked about, with no access but `access` and
// every sharing mode: another open stops it only by not sharing `access`. The
// link itself with FILE_FLAG_OPEN_REPARSE_POINT; empty where none is opened.
using Look = std::unique_ptr<void, BOOL(WINAPI*)(HANDLE)>;
Look look_at(const std::wstring& path, DWORD flags, DWORD access = 0) {
    const HANDLE handle = path.empty() ? INVALID_HANDLE_VALUE
                                       : CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
    return {handle == INVALID_HANDLE_VALUE ? nullptr : handle, &CloseHandle};
}

std::optional<FileId> id_at(const char* path, DWORD flags) {
    std::wstring wide;
    wide_path(path, wide);
    return handle_id(look_at(wide, flags).get());
}

// An open file's full path through any links, behind \\?\; empty if unknown.
std::wstring final_path(HANDLE handle) {
    const DWORD room = GetFinalPathNameByHandleW(handle, nullptr, 0, FILE_NAME_NORMALIZED);
    std::wstring path(room, L'\0');
    const DWORD size = room == 0 ? 0 : GetFinalPathNameByHandleW(handle, path.data(), room, FILE_NAME_NORMALIZED);
    path.resize(size < room ? size : 0);
    return path;
}

// Whether two full paths, \\?\ or not, are equal as Windows compares names.
bool same_path(std::wstring_view a, std::wstring_view b) {
    const auto plain = [](std::wstring_view path) {
        return path.starts_with(L"\\\\?\\UNC\\") ? L"\\" + std::wstring(path.substr(7))
               : path.starts_with(L"\\\\?\\")     ? std::wstring(path.substr(4))
                                                  : std::wstring(path);
    };
    const std::wstring first = plain(a);
    const std::wstring second = plain(b);
    return CompareStringOrdinal(first.c_str(), static_cast<int>(first.size()), second.c_str(),
                                static_cast<int>(second.size()), TRUE) == CSTR_EQUAL;
}

// Whether two open files have one owner, or none; false where unknown.
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
std::error_code set_info(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, Info& info) {
    return SetFileInformationByHandle(handle, kind, &info, sizeof info) != 0 ? std::error_code() : windows_error();
}

// While marked, a file is deleted as its last handle closes, even by a kill.
std::error_code mark_for_deletion(HANDLE handle, bool mark) {
    FILE_DISPOSITION_INFO disposition{mark};
    return set_info(handle, FileDispositionInfo, disposition);
}

// Gives an open file the full path `name`, in place of a file there where
// `replace`: in one step, the copy's handle being the one renamed.
std::error_code rename_to(HANDLE handle, const std::wstring& name, bool replace) {
    // The name follows the structure; new's memory is aligned for any type.
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    return SetFileInformationByHandle(handle, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != 0
               ? std::error_code()
               : windows_error();
}

// What a file system that cannot delete a file as it closes answers.
bool unsupported(const std::error_code& error) {
    const auto code = static_cast<DWORD>(error.value());
    return code == ERROR_NOT_SUPPORTED || code == ERROR_INVALID_PARAMETER || code == ERROR_INVALID_FUNCTION;
}

// Whether a file has named streams beside its data, which a copy would
// lack; none where the file system lists no streams (FAT, Wine).
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

// Whether a DACL holds entries inherited from a folder.
bool inherits(PACL dacl) {
    void* entry = nullptr;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount && GetAce(dacl, i, &entry) != 0; ++i) {
        if ((static_cast<ACE_HEADER*>(entry)->AceFlags & INHERITED_ACE) != 0) {
            return true;
        }
    }
    return false;
}

// The file's group and DACL given to `to`. Entries it inherited are
// inherited again, from the folder they share; one that inherits none
// (protected, or Wine's, all its own) is given as it is, never widened by
// the folder's.
std::error_code copy_security(HANDLE from, HANDLE to) {
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
        const DWORD inheritance = (control & SE_DACL_PROTECTED) != 0 || !inherits(dacl)
                                      ? PROTECTED_DACL_SECURITY_INFORMATION
                                      : UNPROTECTED_DACL_SECURITY_INFORMATION;
        code = SetSecurityInfo(to, SE_FILE_OBJECT, GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | inheritance,
                               nullptr, group, dacl, nullptr);
    }
    LocalFree(held);
    return code == ERROR_SUCCESS ? std::error_code() : windows_error(code);
}

// `full` with its last name as the folder spells it, where it holds a file
// of that name in any case or by its 8.3 name.
std::wstring as_on_disk(const std::wstring& full) {
    WIN32_FIND_DATAW entry{};
    const HANDLE search = FindFirstFileExW(full.c_str(), FindExInfoStandard, &entry, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        return full;
    }
    FindClose(search);
    return full.substr(0, full.find_last_of(L'\\') + 1) + entry.cFileName;
}

// Whether an open file's final path is that of the folder `full` names,
// through any links, and then the name the folder holds: not for a link
// there, which Wine, opening no link itself, shows only so. Names exactly:
// a link may differ from its target only in case. True where a final path
// is unknown (Wine gives none of 262 characters and more).
bool at_its_name(HANDLE handle, const std::wstring& full) {
    const std::wstring file = final_path(handle);
    std::wstring folder = final_path(look_at(full.substr(0, full.find_last_of(L'\\') + 1), 0).get());
    if (file.empty() || folder.empty()) {
        return true;
    }
    folder.erase(folder.find_last_not_of(L'\\') + 1);
    const std::wstring name = as_on_disk(full);
    const std::size_t last = file.find_last_of(L'\\');
    return same_path(file.substr(0, last), folder) && file.substr(last) == name.substr(name.find_last_of(L'\\'));
}

std::error_code make_read_only(HANDLE handle) {
    FILE_BASIC_INFO basic{};
    if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) == 0) {
        return windows_error();
    }
    basic.FileAttributes |= FILE_ATTRIBUTE_READONLY;
    return set_info(handle, FileBasicInfo, basic);
}

// Up to `size` bytes read or written through the descriptor's handle: at
// `offset`, in an OVERLAPPED even for a plain handle, or where the file
// stands for a negative one; none at the end of the file, not an error.
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

// Why `path` could not be opened: a folder, which Windows opens as no file
// ("Access denied"), named as one; else `error`.
std::error_code unless_folder(const std::wstring& path, const std::error_code& error) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
               ? windows_error(directory_not_supported)
               : error;
}

// The longest name that `folder`'s volume takes, or any (the rename tells);
// asked of the open folder: for a drive's root, Wine reads the device.
std::size_t longest_name(const std::wstring& folder) {
    DWORD longest = 0;
    const Look look = look_at(folder, 0);
    const bool known = look && GetVolumeInformationByHandleW(look.get(), nullptr, 0, nullptr, &longest, nullptr,
                                                             nullptr, 0) != 0;
    return known && longest > 0 ? longest : SIZE_MAX;
}

struct Typed {
    std::wstring text;
    bool quoted = false;
};

bool blank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// Each argument, and whether it had quotes, by the C runtime's rules: blanks
// split outside quotes; 2n backslashes before a quote are n and the quote
// opens or closes, 2n+1 are n and a quote; other backslashes are themselves;
// "" in quotes is a quote. The program's own name, a path, has no escapes.
std::vector<Typed> split(const wchar_t* c) {
    std::vector<Typed> words(1);
    for (bool in_quotes = false; *c != L'\0' && (in_quotes || !blank(*c)); ++c) {
        if (*c == L'"') {
            in_quotes = !in_quotes;
        } else {
            words[0].text += *c;
        }
    }
    for (c += std::wcsspn(c, L" \t"); *c != L'\0'; c += std::wcsspn(c, L" \t")) {
        Typed& word = words.emplace_back();
        for (bool in_quotes = false; *c != L'\0' && (in_quotes || !blank(*c)); ++c) {
            const std::size_t backslashes = std::wcsspn(c, L"\\");
            c += backslashes;
            if (*c != L'"') {
                word.text.append(backslashes, L'\\');
                if (*c == L'\0' || (!in_quotes && blank(*c))) {
                    break;
                }
                word.text += *c;
                continue;
            }
            word.text.append(backslashes / 2, L'\\');
            if (backslashes % 2 == 1) {
                word.text += L'"';
            } else if (in_quotes && c[1] == L'"') {
                word.text += L'"';
                ++c;
            } else {
                in_quotes = !in_quotes;
                word.quoted = true;
            }
        }
    }
    return words;
}

// A pattern's characters as cmd and FindFirstFileW read them: "*.*" is "*";
// a ? is one character, or none before a dot or the end; a * before a dot
// stops short of the name's last dot; a dot before a ?, a * or the end is a
// dot or the end: "*." takes only dotless names, "a?.bin" "a.bin" too.
enum class Step { letter, any, one, before_last_dot, dot_or_end };

struct Token {
    Step step;
    wchar_t letter;
};

std::vector<Token> read_pattern(std::wstring_view pattern) {
    if (pattern == L"*.*") {
        return {{Step::any, L'*'}};
    }
    std::vector<Token> tokens;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const wchar_t c = pattern[i];
        const wchar_t next = i + 1 < pattern.size() ? pattern[i + 1] : L'\0';
        const Step step = c == L'*'   ? (next == L'.' ? Step::before_last_dot : Step::any)
                          : c == L'?' ? Step::one
                          : c == L'.' && (next == L'?' || next == L'*' || next == L'\0') ? Step::dot_or_end
                                                                                         : Step::letter;
        tokens.push_back({step, c});
    }
    return tokens;
}

// Whether a name fits a pattern, ignoring case as Windows' file systems do.
// A ? may take nothing and a * not the last dot, so ways to try branch: each
// at(p, i), whether tokens p on take the name from i on, is found once.
bool fits(std::wstring_view name, std::wstring_view pattern) {
    const std::vector<Token> tokens = read_pattern(pattern);
    const std::size_t length = name.size();
    const std::size_t last_dot = name.rfind(L'.');
    std::vector<char> fit((tokens.size() + 1) * (length + 1), 0);
    const auto at = [&](std::size_t p, std::size_t i) -> char& { return fit[p * (length + 1) + i]; };
    for (std::size_t i = length + 1; i-- > 0;) {
        at(tokens.size(), i) = i == length;
        const bool more = i < length;
        const wchar_t c = more ? name[i] : L'\0';
        for (std::size_t p = tokens.size(); p-- > 0;) {
            switch (tokens[p].step) {
            case Step::one:
                // Taking nothing, as every ? after it then does too.
                at(p, i) = more && c != L'.' ? at(p + 1, i + 1) : at(p + 1, i);
                break;
            case Step::any:
                at(p, i) = at(p + 1, i) || (more && at(p, i + 1));
                break;
            case Step::before_last_dot:
                at(p, i) = at(p + 1, i) || (more && i != last_dot && at(p, i + 1));
                break;
            case Step::dot_or_end:
                at(p, i) = more ? c == L'.' && at(p + 1, i + 1) : at(p + 1, i);
                break;
            case Step::letter:
                at(p, i) = more && CompareStringOrdinal(&c, 1, &tokens[p].letter, 1, TRUE) == CSTR_EQUAL &&
                           at(p + 1, i + 1);
                break;
            }
        }
    }
    return at(0, 0) != 0;
}

// The first file a pattern matches in its folder, as the C runtime names it
// (the folder as typed, then the name), and how many; folders, which copy
// takes none of, are not counted. Each name is fitted here: Windows'
// search also takes 8.3 names (*.bin finds REPORT~1.BIN).
struct Matches {
    std::wstring first;
    int count = 0;
};

Matches matches(const std::wstring& pattern) {
    Matches found;
    const std::size_t end = pattern.find_last_of(L"\\/:");
    const std::wstring folder = end == std::wstring::npos ? L"" : pattern.substr(0, end + 1);
    std::wstring everything;
    wide_path(folder + L"*", everything);
    WIN32_FIND_DATAW entry{};
    const HANDLE search = everything.empty() ? INVALID_HANDLE_VALUE
                                             : FindFirstFileExW(everything.c_str(), FindExInfoStandard, &entry,
                                                                FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        return found;
    }
    const std::wstring_view last = std::wstring_view(pattern).substr(folder.size());
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && fits(entry.cFileName, last) &&
            ++found.count == 1) {
            found.first = folder + entry.cFileName;
        }
    } while (FindNextFileW(search, &entry) != 0);
    FindClose(search);
    return found;
}

// A * or ? in a name, unless it is a \\?\ or \\.\ path, taken as it is.
bool has_wildcards(const std::wstring& text) {
    return text.find_first_of(L"*?") != std::wstring::npos && !is_literal(text);
}

bool is_pattern(const Typed& word) {
    return !word.quoted && has_wildcards(word.text);
}

}  // namespace

// Windows hands main its arguments in the ANSI code page, which loses names
// it cannot show, expanded by rules that differ between C runtimes and take
// the ? of \\?\ as a pattern: read here from the wide command line instead.
// As in a shell, a pattern in the input's name becomes the one file it
// matches, or stays as typed where none does; more is refused, as a
// forgotten output name would make the second match the output. A pattern
// in the output's name is refused, whatever it matches: it would choose
// the file to be overwritten. Only in a run's four arguments: any other
// count is the usage text's. /? alone is --help, as for Windows' own
// commands. A closed standard descriptor stays taken (the C runtime marks
// it -2), so no file of the run gets its number.
bool start_process(int& argc, char**& argv) {
    static std::vector<std::string> arguments;
    static std::vector<char*> pointers;
    try {
        std::vector<Typed> words = split(GetCommandLineW());
        if (words.size() == 2 && words[1].text == L"/?") {
            words[1] = {L"--help", true};
        }
        const bool run = words.size() == 5;
        for (const Typed& word : words) {
            // Only the file names: a number is never one, f? a typing slip.
            const std::size_t at = arguments.size();
            if (run && at == 2 && has_wildcards(word.text)) {
                put_text(stdout, "Cannot take " + shown(wtf8_from_wide(word.text)) +
                                     " as the output: a pattern would choose the file to overwrite.\n");
                return false;
            }
            const Matches found = run && at == 1 && is_pattern(word) ? matches(word.text) : Matches{};
            if (found.count > 1) {
                put_text(stdout, "Cannot take " + shown(wtf8_from_wide(word.text)) +
                                     " as one file: the pattern matches " + std::to_string(found.count) + " files.\n");
                return false;
            }
            arguments.push_back(wtf8_from_wide(found.count == 1 ? found.first : word.text));
        }
        for (auto& argument : arguments) {
            pointers.push_back(argument.data());
        }
        pointers.push_back(nullptr);
    } catch (const std::bad_alloc&) {
        put_text(stdout, "Failed to allocate memory.\n");
        return false;
    }
    argc = static_cast<int>(arguments.size());
    argv = pointers.data();
    return true;
}

// A console shows text through the wide call whatever its code page; the C
// runtime's own writes would decode the bytes in the ANSI code page first.
bool put_text(std::FILE* stream, std::string_view text) {
    const int fd = ::_fileno(stream);
    const HANDLE console = fd < 0 ? INVALID_HANDLE_VALUE : handle_of(fd);
    DWORD mode = 0;
    const bool on_console = console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode) != 0;
    const auto wide = on_console ? wide_from_wtf8(text) : std::nullopt;
    // Out at once, as printf writes: the report line outlives a kill mid-copy.
    if (!wide) {
        return std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
    }
    std::fflush(stream);
    DWORD written = 0;
    return WriteConsoleW(console, wide->data(), static_cast<DWORD>(wide->size()), &written, nullptr) != 0 &&
           written == wide->size();
}

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
// an exclusive one through `b` only where both are one file. The last byte
// a file can have is asked through `b` first: a lock there makes it a guess.
Probe probe_one_file(int a, int b) {
    const auto last_byte = [](HANDLE handle, DWORD flags, bool take) {
        OVERLAPPED at{};
        at.Offset = 0xfffffffe;
        at.OffsetHigh = 0x7fffffff;
        return take ? LockFileEx(handle, flags | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0
                    : UnlockFileEx(handle, 0, 1, 0, &at) != 0;
    };
    const HANDLE first = handle_of(a);
    const HANDLE second = handle_of(b);
    const auto refused = [] { return GetLastError() == ERROR_LOCK_VIOLATION ? Probe::taken : Probe::unknown; };
    if (!last_byte(second, LOCKFILE_EXCLUSIVE_LOCK, true)) {
        return refused();
    }
    if (!last_byte(second, 0, false)) {
        return Probe::unknown;
    }
    if (!last_byte(first, 0, true)) {
        return refused();
    }
    const bool apart = last_byte(second, LOCKFILE_EXCLUSIVE_LOCK, true);
    const DWORD error = GetLastError();
    if (apart) {
        last_byte(second, 0, false);
    }
    last_byte(first, 0, false);
    return apart ? Probe::two : error == ERROR_LOCK_VIOLATION ? Probe::one : Probe::unknown;
}

std::optional<FileId> target_id(const char* path) {
    return id_at(path, 0);
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

// Read back too where access and other programs' sharing allow; no FIFO on
// Windows would mind. Deletion is shared, unlike _wopen's, so that
// NewFile::take_over sees whether another open would stop a replacement.
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

// A name of its own in the output's folder, on the output's volume, where it
// can be renamed. Marked for deletion at once, so that a failed or killed run
// leaves nothing, where the volume can (a network drive may not: a failed run
// then removes it by name); writable, as Windows deletes no read-only file.
// A device, or a name too long for the volume, is refused before the copy.
std::error_code NewFile::create(const char* path, mode_t mode) {
    path_ = path;
    mode_ = mode;
    std::wstring full;
    if (const auto error = wide_path(path, full, true)) {
        return error;
    }
    // A device (\\.\LPT1, which LPT1 resolves to) has no folder to hold one.
    if (full.starts_with(L"\\\\.\\") && full.find(L'\\', 4) == std::wstring::npos) {
        return windows_error(ERROR_INVALID_NAME);
    }
    const std::size_t folder = full.find_last_of(L'\\') + 1;
    if (full.size() - folder > longest_name(full.substr(0, folder))) {
        return windows_error(ERROR_FILENAME_EXCED_RANGE);
    }
    std::wstring root(full.size() + 1, L'\0');
    const bool remote = GetVolumePathNameW(full.c_str(), root.data(), static_cast<DWORD>(root.size())) != 0 &&
                        GetDriveTypeW(root.c_str()) == DRIVE_REMOTE;
    const std::string place = wtf8_from_wide(full.substr(0, folder));
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        temporary_ = place + temporary_name();
        std::wstring wide;
        std::error_code error = wide_path(temporary_.c_str(), wide);
        if (error) {
            return error;
        }
        // Its maker gets the access asked for, whatever the folder's ACL
        // gives it: the old file's DACL and group too, if it replaces one.
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
        const int fd = (!error || unsupported(error)) && id_
                           ? ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY)
                           : -1;
        if (fd < 0) {
            error = error && !unsupported(error) ? error : id_ ? errno_error() : windows_error();
            CloseHandle(handle);
            DeleteFileW(wide.c_str());
            return error;
        }
        file_ = File(fd);
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
    if (error) {
        return error;
    }
    if (marked_ && (error = mark_for_deletion(handle, false))) {
        return error;
    }
    marked_ = false;
    error = rename_to(handle, name, false);
    if (!error && (mode_ & _S_IWRITE) == 0) {
        error = make_read_only(handle);
    }
    if (error) {
        marked_ = !mark_for_deletion(handle, true);
        return error;
    }
    state_ = State::kept;
    return {};
}

// Attributes a copy is given of the file it replaces; and those whose loss
// is none: the copy is to be backed up (archive), as a file written where
// it lies would be, and has no holes; a read-only file is overwritten
// where it lies (why_not_replace).
constexpr DWORD carried =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_TEMPORARY;
constexpr DWORD no_loss = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_SPARSE_FILE;

// What ReplaceFileW would keep of the old file that a user sees: its
// attributes and creation time, its group and DACL. Not its owner: a new
// file is its maker's, so only a file of this user's is replaced (as
// why_not_replace asks). What else a file may have, named streams,
// compression, encryption, a reparse point, is not carried: such a file is
// overwritten where it lies. Found out now, before the copy.
std::error_code NewFile::take_over(int old) {
    const HANDLE from = handle_of(old);
    const HANDLE to = handle_of(file_.get());
    replaces_ = handle_id(from);
    FILE_BASIC_INFO basic{};
    if (const auto error = why_not_replace(old, false)) {
        return error;
    }
    if (GetFileInformationByHandleEx(from, FileBasicInfo, &basic, sizeof basic) == 0) {
        return windows_error();
    }
    if ((basic.FileAttributes & ~(carried | no_loss)) != 0 || has_streams(from)) {
        return windows_error(ERROR_NOT_SUPPORTED);
    }
    // Times left 0 are left as they are.
    FILE_BASIC_INFO given{};
    given.CreationTime = basic.CreationTime;
    given.FileAttributes = (basic.FileAttributes & carried) | FILE_ATTRIBUTE_ARCHIVE;
    const std::error_code error = set_info(to, FileBasicInfo, given);
    return error ? error : copy_security(from, to);
}

std::optional<FileId> NewFile::id_at(const std::string& path) const {
    return bytemend::id_at(path.c_str(), FILE_FLAG_OPEN_REPARSE_POINT);
}

// Windows will not remove a read-only file.
void NewFile::remove_at(const std::string& path) const {
    std::wstring wide;
    if (!wide_path(path.c_str(), wide)) {
        ::_wchmod(wide.c_str(), _S_IREAD | _S_IWRITE);
        ::_wunlink(wide.c_str());
    }
}

// The reasons of doc/behaviour.md for Windows, in its order.
std::error_code NewFile::why_not_replace(int old, bool) const {
    const HANDLE handle = handle_of(old);
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(handle, &info) == 0) {
        return windows_error();
    }
    if (info.nNumberOfLinks > 1) {
        return windows_error(ERROR_TOO_MANY_LINKS);
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return windows_error(ERROR_ACCESS_DENIED);
    }
    std::wstring name;
    if (const auto error = wide_path(path_.c_str(), name, true)) {
        return error;
    }
    // A link at the name, which the rename would take away: the name then
    // leads to another file than its own. Links to folders on the way, and
    // a mapped drive, lead to the file itself.
    if (id_at(path_) != handle_id(handle) || !at_its_name(handle, name)) {
        return windows_error(ERROR_CANT_RESOLVE_FILENAME);
    }
    if (!same_owner(handle, handle_of(file_.get()))) {
        return windows_error(ERROR_INVALID_OWNER);
    }
    return look_at(name, 0, DELETE) ? std::error_code() : windows_error();
}

// Written to the disk, the old file taken over again, and unmarked: a
// file marked for deletion goes under whatever name it has as it closes.
// A failure leaves the old file as is.
std::error_code NewFile::ready_to_replace(int old) {
    const HANDLE handle = handle_of(file_.get());
    if (const auto error = send_to_disk(file_.get(), ToDisk::written)) {
        return error;
    }
    // A file another program saved at the name meanwhile is left there.
    if (const auto error = still_there()) {
        return error;
    }
    if (const auto error = take_over(old)) {
        return error;
    }
    if (const auto error = marked_ ? mark_for_deletion(handle, false) : std::error_code()) {
        return error;
    }
    marked_ = false;
    return {};
}

// The old file closed, as Windows renames over no open file (a program
// that holds it open makes the rename fail); then the copy, opened again
// and found to be this run's, renamed over it in one step, if the name
// still holds it at the last instant. The name as the folder spells it: a
// rename gives the case typed. Written through, as MOVEFILE_WRITE_THROUGH
// does, once the copy is in place: it cannot fail the run that replaced it.
std::error_code NewFile::take_the_place(File& old) {
    old = File();
    std::wstring name;
    std::wstring copy;
    std::error_code error = wide_path(path_.c_str(), name, true);
    if (error || (error = wide_path(temporary_.c_str(), copy, true))) {
        return error;
    }
    const Look again = look_at(copy, FILE_FLAG_OPEN_REPARSE_POINT, DELETE | GENERIC_WRITE);
    if (!again || handle_id(again.get()) != id_) {
        return again ? windows_error(ERROR_FILE_EXISTS) : windows_error();
    }
    name = as_on_disk(name);
    if ((error = still_there()) || (error = rename_to(again.get(), name, true))) {
        return error;
    }
    FlushFileBuffers(again.get());
    return {};
}

// Windows asks no lease of a file it replaces: held as it was opened.
std::error_code reopen(File&, bool) {
    return {};
}

// Windows says which room ran out: the disk, or a quota.
bool out_of_room(const std::error_code& error) {
    const auto code = static_cast<DWORD>(error.value());
    return error.category() == windows_error().category() &&
           (code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL || code == quota_exceeded);
}

// FlushFileBuffers, like fsync, waits for all of the file, far dearer than
// a start; a pipe's would wait for its reader.
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
