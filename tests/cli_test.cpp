// Runs the built command on real files and checks what a user would see:
// stdout word for word, the exit status, an empty stderr, and the files.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <aclapi.h>
#include <io.h>
#include <process.h>
#include <sddl.h>
#include <windows.h>

#include "wtf8.h"
#else
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "helpers.h"

namespace {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// One of the command's standard descriptors as a shell would set it:
// "1<>in.bin" is {1, "in.bin", O_RDWR}, and no path closes it (">&-").
struct Redirect {
    int fd;
    const char* path;
    int flags;
};
using Redirects = std::vector<Redirect>;

bool apply(const Redirects& redirects) {
    for (const auto& r : redirects) {
        const int file = r.path ? open(r.path, r.flags, 0600) : -1;
        if (r.path ? file < 0 || dup2(file, r.fd) < 0 : close(r.fd) != 0) {
            return false;
        }
        close(file);
    }
    return true;
}

#if defined(_WIN32)

constexpr bool on_windows = true;

// The number of the file within its volume, as Windows reports it.
std::uint64_t file_number(const std::string& path) {
    const HANDLE handle = CreateFileW(u8(path).wstring().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    return (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
}

std::string owner(const std::string& path) {
    PSID sid = nullptr;
    PSECURITY_DESCRIPTOR held = nullptr;
    wchar_t* text = nullptr;
    std::string name;
    if (GetNamedSecurityInfoW(u8(path).wstring().c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &sid,
                              nullptr, nullptr, nullptr, &held) == ERROR_SUCCESS &&
        ConvertSidToStringSidW(sid, &text) != 0) {
        name = bytemend::wtf8_from_wide(text);
        LocalFree(text);
    }
    LocalFree(held);
    return name;
}

// Under Wine, a Linux program from drive Z:, for what Windows programs
// cannot make there: a symlink, a file of another owner. Wine's process
// for it ends before it does: its work is waited for, a second at most.
void run_linux(const wchar_t* program, const std::string& args, const std::function<bool()>& done) {
    std::wstring line = std::wstring(program) + L" " + u8(args).wstring();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (CreateProcessW((std::wstring(L"Z:\\bin\\") + program).c_str(), line.data(), nullptr, nullptr, FALSE, 0,
                       nullptr, nullptr, &startup, &child) == 0) {
        return;
    }
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    for (int waited = 0; waited < 100 && !done(); ++waited) {
        Sleep(10);
    }
}
const std::string needs_linux_ln = GetFileAttributesW(L"Z:\\bin\\ln") != INVALID_FILE_ATTRIBUTES
                                       ? ""
                                       : "needs a symlink, which only Wine, running Linux's ln, makes here";
void make_symlink(const std::string& target, const std::string& link) {
    run_linux(L"ln", "-s " + target + " " + link, [&] { return std::filesystem::exists(u8(link)); });
}
// Wine would remove the file it names, and then be left with a dangling
// symlink, which it cannot remove.
void remove_symlink(const std::string& link) {
    run_linux(L"rm", link, [&] { return !std::filesystem::exists(u8(link)); });
}

// Hidden, system and the like, which a replacement must keep.
std::uint32_t attributes(const std::string& path) {
    return GetFileAttributesW(u8(path).wstring().c_str());
}
void set_attributes(const std::string& path, std::uint32_t value) {
    SetFileAttributesW(u8(path).wstring().c_str(), value);
}

// As root under Wine only: elsewhere the file stays this user's. Its group
// alone is never given away here.
void give_away(const std::string& path, bool = false) {
    const std::string mine = owner(path);
    run_linux(L"chown", "65534 " + path, [&] { return owner(path) != mine; });
}

using FileLimit = long long;
constexpr FileLimit no_limit = -1;

// The command sits next to the tests.
std::wstring command_path() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return (std::filesystem::path(self).parent_path() / BYTEMEND_EXE).wstring();
}

// Windows passes one command line, which the child splits again: quote what
// it would otherwise split or drop. Patterns stay unquoted, for the child to
// expand, and an argument that starts with a quote is passed as typed. Wide,
// so that every name arrives as typed, even one that is not valid UTF-16.
std::wstring quoted(const std::wstring& arg) {
    if (!arg.empty() && (arg[0] == L'"' || arg.find_first_of(L" \t\"") == std::wstring::npos)) {
        return arg;
    }
    std::wstring text = L"\"";
    for (const wchar_t c : arg) {
        text += c == L'"' ? std::wstring(L"\\\"") : std::wstring(1, c);
    }
    return text + L"\"";
}

// Runs the command with its standard output and error going to the files,
// which the child inherits as its descriptors 1 and 2. Killed once
// kill_when answers true, if it ever does while the command runs.
int spawn(const std::vector<std::string>& args, const std::string& out_path,
          const std::string& err_path, const Redirects& redirects, FileLimit,
          const std::function<bool()>& kill_when) {
    const std::wstring exe = command_path();
    std::vector<std::wstring> words{quoted(exe)};
    for (const auto& arg : args) {
        words.push_back(quoted(bytemend::wide_from_wtf8(arg).value()));
    }
    std::vector<const wchar_t*> argv;
    for (const auto& word : words) {
        argv.push_back(word.c_str());
    }
    argv.push_back(nullptr);
    std::fflush(stdout);
    std::fflush(stderr);
    const int saved_in = _dup(0);
    const int saved_out = _dup(1);
    const int saved_err = _dup(2);
    const int out = _open(out_path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0600);
    const int err = _open(err_path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0600);
    _dup2(out, 1);
    _dup2(err, 2);
    _close(out);
    _close(err);
    apply(redirects);
    const intptr_t started = _wspawnv(_P_NOWAIT, exe.c_str(), argv.data());
    const int spawn_error = errno;
    const DWORD windows_error = GetLastError();
    _dup2(saved_in, 0);
    _close(saved_in);
    _dup2(saved_out, 1);
    _dup2(saved_err, 2);
    _close(saved_out);
    _close(saved_err);
    // CI's check of its own time limit asks for a wait that never ends: on
    // this process itself, which is what a failed start's -1 is as a handle.
    if (std::getenv("BYTEMEND_TESTS_HANG") != nullptr) {
        WaitForSingleObject(GetCurrentProcess(), INFINITE);
    }
    if (started == -1) {
        ADD_FAILURE() << "could not start " << bytemend::wtf8_from_wide(exe) << ": " << std::strerror(spawn_error)
                      << " (Windows error " << windows_error << "); it wrote [" << read_file(err_path) << "]";
        return -1;
    }
    const auto process = reinterpret_cast<HANDLE>(started);
    while (WaitForSingleObject(process, 10) == WAIT_TIMEOUT) {
        if (kill_when()) {
            TerminateProcess(process, 137);
        }
    }
    DWORD status = 0;
    GetExitCodeProcess(process, &status);
    CloseHandle(process);
    return static_cast<int>(status);
}

#else

constexpr bool on_windows = false;

std::uint64_t file_number(const std::string& path) {
    struct stat status {};
    stat(path.c_str(), &status);
    return status.st_ino;
}
const std::string needs_linux_ln;
void make_symlink(const std::string& target, const std::string& link) {
    std::filesystem::create_symlink(target, link);
}
void remove_symlink(const std::string& link) {
    std::filesystem::remove(link);
}

// Linux files have no such attributes.
std::uint32_t attributes(const std::string&) {
    return 0;
}
void set_attributes(const std::string&, std::uint32_t) {}

// As root only: elsewhere the file stays this user's, or its group.
void give_away(const std::string& path, bool group_only = false) {
    [[maybe_unused]] const int refused = group_only ? chown(path.c_str(), static_cast<uid_t>(-1), 65534)
                                                    : chown(path.c_str(), 65534, static_cast<gid_t>(-1));
}

std::string owner(const std::string& path) {
    struct stat status {};
    stat(path.c_str(), &status);
    return std::to_string(status.st_uid) + ":" + std::to_string(status.st_gid);
}
using FileLimit = rlim_t;
constexpr FileLimit no_limit = RLIM_INFINITY;

// The emulator and its arguments that a cross-built command runs under;
// none for a native build.
const std::vector<const char*> launcher{BYTEMEND_LAUNCHER};

// Files written beyond file_limit bytes fail with EFBIG, as on a full disk.
// Never killed here: tests/faults.sh kills the command on Linux.
int spawn(const std::vector<std::string>& args, const std::string& out_path,
          const std::string& err_path, const Redirects& redirects, FileLimit file_limit,
          const std::function<bool()>&) {
    std::vector<char*> argv;
    for (const char* word : launcher) {
        argv.push_back(const_cast<char*>(word));
    }
    argv.push_back(const_cast<char*>(BYTEMEND_EXE));
    for (const auto& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const rlimit limit{file_limit, file_limit};
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || !apply(redirects) ||
            setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            _exit(127);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return -1;
}

#endif

class Cli : public InTempDir {
protected:
    Result run(const std::vector<std::string>& args, FileLimit file_limit = no_limit,
               const std::function<bool()>& kill_when = [] { return false; },
               const Redirects& redirects = {}) {
        const std::string out_path = (root_ / "stdout").string();
        const std::string err_path = (root_ / "stderr").string();
        Result result;
        result.status = spawn(args, out_path, err_path, redirects, file_limit, kill_when);
        // Windows console programs end their lines with CR LF.
        result.out = read_file(out_path);
        result.out.erase(std::remove(result.out.begin(), result.out.end(), '\r'), result.out.end());
        result.err = read_file(err_path);
        return result;
    }
};

const std::string usage =
    " Bytemend, USAGE:\n inputfile.bin outfile.bin decimal_location values_to_write \n";
const std::string more = "More in 'man bytemend', or on Windows in README.txt beside bytemend.exe.\n";
const std::string sample = "ab\ncd\r\n";  // line ends must come through as they are

std::string report(long long value, long long location) {
    return std::string("Hexintval = ") + std::to_string(value) + " . Adress = " +
           std::to_string(location) + " . \n";
}

bool exists(const std::string& path) {
    return std::filesystem::exists(std::filesystem::symlink_status(u8(path)));
}

// What the current folder holds, the command's new files among it.
size_t entries() {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("."), {}));
}

// Their names, as the folder spells them.
std::vector<std::string> names() {
    std::vector<std::string> all;
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
        all.push_back(entry.path().filename().string());
    }
    return all;
}

// Those of them that hold data. A new file has none until after it is
// marked to go if the run is killed; a kill as soon as it appears could
// come before the mark.
size_t entries_with_data() {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
        std::error_code gone;
        const auto size = std::filesystem::file_size(entry.path(), gone);
        count += !gone && size > 0 ? 1 : 0;
    }
    return count;
}

// A folder on a small file system, where a copy of 2 MiB cannot fit; CI
// mounts one for the Windows tests.
const char* const full_disk = std::getenv("BYTEMEND_FULL_DIR");
const std::string full_output = std::string(full_disk ? full_disk : "") + "/out.bin";

// Two folders on two file systems that number their files alike (two tmpfs
// mounts, which Wine also gives one volume serial), for the test of two
// files with one identity. CI makes them, and under Wine maps each to a
// drive letter of its own: then B is a drive, and "B:rel.bin" a name
// relative to that drive's current folder, on another volume than this one.
const char* const twin_a = std::getenv("BYTEMEND_TWIN_A");
const char* const twin_b = std::getenv("BYTEMEND_TWIN_B");
const bool twin_disks = twin_a != nullptr && twin_b != nullptr;
const std::string twin_in = std::string(twin_a ? twin_a : "") + "/twin.bin";
const std::string twin_out = std::string(twin_b ? twin_b : "") + "/twin.bin";
const bool other_drive = twin_disks && std::string(twin_b).size() == 2 && twin_b[1] == ':';
const std::string drive_relative = std::string(other_drive ? twin_b : "") + "rel.bin";

// Makes twin_in and twin_out two files of the same number, each on its own
// file system, by making a few on each and keeping a pair that matches.
void make_twins(const std::string& in_bytes, const std::string& out_bytes) {
    std::map<std::uint64_t, std::string> numbered;
    std::vector<std::string> made;
    for (int n = 0; n < 8; ++n) {
        for (const char* side : {twin_a, twin_b}) {
            made.push_back(std::string(side) + '/' + std::to_string(n));
            write_file(made.back(), "");
        }
    }
    for (size_t i = 0; i < made.size(); i += 2) {
        numbered[file_number(made[i])] = made[i];
    }
    for (size_t i = 1; i < made.size(); i += 2) {
        const auto twin = numbered.find(file_number(made[i]));
        if (twin != numbered.end()) {
            std::filesystem::rename(twin->second, twin_in);
            std::filesystem::rename(made[i], twin_out);
            break;
        }
    }
    for (const auto& name : made) {
        std::filesystem::remove(name);
    }
    ASSERT_TRUE(exists(twin_in) && exists(twin_out)) << "no two files of one number were made";
    write_file(twin_in, in_bytes);
    write_file(twin_out, out_bytes);
}

// A folder with `linked` in it, a symlink to `real` beside it: the test's
// own elsewhere; under Wine one made by CI, as Linux's ln started from a
// test to link a folder left a full run's later output and folders broken.
const char* const linked_dir = std::getenv("BYTEMEND_LINKED_DIR");
const std::string linked_root = !on_windows ? "." : linked_dir ? linked_dir : "";

// A name longer than any file system here takes.
const std::string long_name = std::string(256, 'n') + ".bin";

// A sparse input of 5 GiB whose only data, more than two chunks of the
// buffered copy, lies past 4 GiB around the byte at 4500000000: a copy that
// lost an offset's high bits would put it elsewhere. From tmpfs to the
// test's own folder the kernel will not copy, so the buffer does.
constexpr std::int64_t far_length = std::int64_t{5} << 30;
constexpr std::int64_t far_location = 4500000000;
constexpr std::int64_t far_start = far_location - 300000;
const std::string far_data = std::string(300000, 'f') + std::string(300000, 'g');
// Names in /dev/shm that no other test run takes: under Wine, process ids
// are counted by each prefix's server, and two runs at once share them.
const std::string unique = std::to_string(std::random_device{}());
// Where this user may make a file: a chroot's /dev/shm can be root's alone.
// A folder is made to find out, since making one follows no symlink.
const std::string shm_folder = [] {
    const std::string probe = "/dev/shm/bytemend-probe-" + unique;
    std::error_code error;
    const bool writable = std::filesystem::create_directory(probe, error);
    std::filesystem::remove(probe, error);
    return writable ? "/dev/shm" : ".";
}();
const std::string far_on_tmpfs = shm_folder + "/bytemend-far-" + unique + ".bin";
// On another file system than the test's folder, so that the kernel's copy
// is refused and the buffer copies.
const std::string on_tmpfs = shm_folder + "/bytemend-in-" + unique + ".bin";

void make_far_input(const std::string& path) {
    write_file(path, "");
    std::filesystem::resize_file(u8(path), far_length);
    std::fstream file(u8(path), std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(far_start);
    file.write(far_data.data(), static_cast<std::streamsize>(far_data.size()));
}

// The data in its place with the byte patched, zeros around it, the
// input's length, and its holes still holes.
void expect_far_copy(const std::string& path) {
    const size_t margin = 1 << 20;
    std::ifstream out(u8(path), std::ios::binary);
    out.seekg(far_start - static_cast<std::int64_t>(margin));
    std::string around(far_data.size() + 2 * margin, 'x');
    out.read(around.data(), static_cast<std::streamsize>(around.size()));
    const std::string zeros(margin, '\0');
    EXPECT_EQ(around, zeros + with_byte(far_data, far_location - far_start, 'A') + zeros);
    EXPECT_EQ(std::filesystem::file_size(u8(path)), static_cast<std::uintmax_t>(far_length));
#if !defined(_WIN32)
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_LT(status.st_blocks * 512, 64 << 20) << "the holes were filled";
#endif
}

// A folder deeper than Windows' old 260-character limit on a whole path.
const std::string long_folder = std::string(150, 'd') + "/" + std::string(150, 'e');

#if defined(_WIN32)
// The C++ library cannot remove it there; Windows can, behind \\?\.
void remove_long_folder() {
    const std::wstring top =
        L"\\\\?\\" + std::filesystem::current_path().wstring() + L"\\" + std::wstring(150, L'd');
    const std::wstring deep = top + L"\\" + std::wstring(150, L'e');
    for (const wchar_t* name : {L"\\in.bin", L"\\out.bin"}) {
        DeleteFileW((deep + name).c_str());
    }
    RemoveDirectoryW(deep.c_str());
    RemoveDirectoryW(top.c_str());
}
#else
void remove_long_folder() {
    std::filesystem::remove_all(long_folder.substr(0, 150));
}
#endif

struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string out;
    int status = 0;
    std::string input_after = sample;              // in.bin afterwards
    std::optional<std::string> output_after = {};  // out.bin afterwards; nullopt: not there
    std::function<void()> setup = [] {};
    std::string windows_skip = "";                // why the case cannot run there
    std::optional<std::string> windows_out = {};  // where Windows prints otherwise
    std::function<void()> check = [] {};          // for files other than in.bin and out.bin
    bool on_full_disk = false;                    // needs BYTEMEND_FULL_DIR
    bool on_twin_disks = false;                   // needs BYTEMEND_TWIN_A and _B
    bool on_other_drive = false;                  // needs BYTEMEND_TWIN_B to be a drive
    bool killed_midway = false;                   // killed once its new file shows
    bool over_holes = false;                      // copies 5 GiB, nearly all of it holes
    Redirects redirects = {};                     // standard descriptors set otherwise
    std::string err = "";                         // standard error
    std::optional<std::string> windows_err = {};  // where Windows says otherwise
};

// Shown in test names and failures instead of the object's bytes.
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class CliTable : public Cli, public testing::WithParamInterface<Case> {};

TEST_P(CliTable, Run) {
    const Case& c = GetParam();
    if (on_windows && !c.windows_skip.empty()) {
        GTEST_SKIP() << c.windows_skip;
    }
    struct stat full {};
    if (c.args.size() > 1 && c.args[1] == "/dev/full" &&
        (stat("/dev/full", &full) != 0 || !S_ISCHR(full.st_mode))) {
        GTEST_SKIP() << "/dev/full is not the always-full device here";
    }
    if (c.on_full_disk && full_disk == nullptr) {
        GTEST_SKIP() << "needs BYTEMEND_FULL_DIR, a folder on a small file system";
    }
    if (c.on_twin_disks && !twin_disks) {
        GTEST_SKIP() << "needs BYTEMEND_TWIN_A and BYTEMEND_TWIN_B, folders on two tmpfs mounts";
    }
    if (c.on_other_drive && !other_drive) {
        GTEST_SKIP() << "needs BYTEMEND_TWIN_B to be a drive letter of another volume, as under Wine in CI";
    }
    if (c.over_holes && !BYTEMEND_FINDS_HOLES) {
        GTEST_SKIP() << "this build finds no holes: the copy would write all 5 GiB";
    }
    if (c.killed_midway && !on_windows) {
        GTEST_SKIP() << "an unnamed file cannot be seen to kill on; tests/faults.sh kills it here";
    }
    write_file("in.bin", sample);
    c.setup();
    const size_t before = entries_with_data();
    const Result result =
        run(c.args, no_limit, [&] { return c.killed_midway && entries_with_data() > before; }, c.redirects);
    EXPECT_EQ(result.out, on_windows && c.windows_out ? *c.windows_out : c.out);
    EXPECT_EQ(result.status, c.status);
    const std::string err = on_windows && c.windows_err ? *c.windows_err : c.err;
    const size_t reason = err.rfind(": ");
    if (on_windows && !c.windows_err && err.starts_with("bytemend: cannot ")) {
        // Windows words a reason its own way, in the user's language; a
        // case's windows_err has Wine's words, as the tests run (LANG=C.UTF-8).
        EXPECT_EQ(result.err.substr(0, reason + 2), err.substr(0, reason + 2));
        EXPECT_TRUE(result.err.size() > reason + 3 && result.err.ends_with("\n")) << result.err;
    } else {
        EXPECT_EQ(result.err, err);
    }
    EXPECT_EQ(read_file("in.bin"), c.input_after);
    if (c.output_after) {
        EXPECT_EQ(read_file("out.bin"), *c.output_after);
    } else {
        EXPECT_FALSE(exists("out.bin"));
    }
    c.check();
}

const std::string copied = with_byte(sample, 1, 'A');
const std::string patched = with_byte(sample, 0, 'Z');
#if defined(_WIN32)
void make_fifo(const char*) {}
#else
void make_fifo(const char* path) {
    ASSERT_EQ(mkfifo(path, 0600), 0);
}
#endif

std::uint64_t old_number;  // of the out.bin that was there
std::uint32_t old_attributes;
std::string given_owner;   // of out.bin, once given away where this user can
std::ifstream held_open;   // out.bin, as another program would hold it
const std::string needs_links = "needs hard links or symlinks, which are not tested on Windows";
const std::string no_stdout_on_windows =
    "Windows' C runtime leaves a closed standard output closed: Done cannot be printed, status 1";

INSTANTIATE_TEST_SUITE_P(
    Cases, CliTable,
    testing::Values(
        // The usage text as it always was; what was wrong on standard error.
        Case{.name = "NoArguments", .args = {},
             .out = usage, .status = 1,
             .err = "bytemend: 0 arguments given, where 4 are needed: the input, the output, the location and the value\n"},
        Case{.name = "FiveArguments", .args = {"in.bin", "out.bin", "1", "41", "x"},
             .out = usage, .status = 1,
             .err = "bytemend: 5 arguments given, where 4 are needed: the input, the output, the location and the value\n"},
        Case{.name = "ValueNotAnOption", .args = {"in.bin", "1", "-ff"},
             .out = usage, .status = 1,
             .err = "bytemend: 3 arguments given, where 4 are needed: the input, the output, the location and the value\n"},
        Case{.name = "UnknownOption", .args = {"--bogus"},
             .out = usage, .status = 1,
             .err = "bytemend: unknown option '--bogus': the options are --help (-h) and --version\n"},
        Case{.name = "UnknownShortOption", .args = {"in.bin", "-q"},
             .out = usage, .status = 1,
             .err = "bytemend: unknown option '-q': the options are --help (-h) and --version\n"},
        Case{.name = "HelpAlone", .args = {"--help"},
             .out = usage + more, .status = 0},
        Case{.name = "HelpShort", .args = {"-h"},
             .out = usage + more, .status = 0},
        Case{.name = "HelpAmongOthers", .args = {"--help", "out.bin", "1", "41", "x"},
             .out = usage, .status = 1,
             .err = "bytemend: 5 arguments given, where 4 are needed: the input, the output, the location and the value\n"},
        Case{.name = "HelpUnprinted", .args = {"--help"},
             .out = "", .status = 1,
             .windows_skip = "Windows has no /dev/full",
             .redirects = {{1, "/dev/full", O_WRONLY}},
             .err = "bytemend: cannot print the usage text: No space left on device\n"},
        Case{.name = "Version", .args = {"--version"},
             .out = "bytemend " BYTEMEND_VERSION "\n", .status = 0},
        // The line of the usage's kind stays as it is; the system's reason
        // follows it on standard error.
        Case{.name = "MissingInput", .args = {"nofile.bin", "out.bin", "1", "41"},
             .out = "Error opening nofile.bin for reading.\n", .status = 1,
             .err = "bytemend: cannot open 'nofile.bin' for reading: No such file or directory\n"},
        Case{.name = "DirectoryInput", .args = {".", "out.bin", "0", "41"},
             .out = "Cannot measure the length of .: it is a directory.\n", .status = 1},
        // Refused at once, not waited on until a writer comes.
        Case{.name = "FifoInput", .args = {"fifo", "out.bin", "1", "41"},
             .out = "Cannot measure the length of fifo: it is not a regular file.\n", .status = 1,
             .setup = [] { make_fifo("fifo"); },
             .windows_skip = "Windows has no named pipes to make with mkfifo"},
        // Which texts are read as numbers, numbers_test.cpp's tables and the
        // fuzzers test; the rows here are what a user is told of one refused.
        Case{.name = "LocationNotANumber", .args = {"in.bin", "out.bin", "abc", "41"},
             .out = "Invalid decimal_location 'abc': expected a decimal byte offset.\n",
             .status = 1},
        // A hex editor's offset names another byte: refused, with the
        // number it is as hexadecimal.
        Case{.name = "LocationAsAHexEditorShowsIt", .args = {"in.bin", "out.bin", "1F00", "41"},
             .out = "Invalid decimal_location '1F00': expected a decimal byte offset; "
                    "as hexadecimal, 1F00 is 7936.\n",
             .status = 1},
        Case{.name = "LocationInHex", .args = {"in.bin", "out.bin", "0x4", "41"},
             .out = "Invalid decimal_location '0x4': expected a decimal byte offset; 0x4 is 4.\n",
             .status = 1},
        // A slip of the keyboard: never read up to the slip.
        Case{.name = "ValueWithTextAfter", .args = {"in.bin", "out.bin", "1", "9o"},
             .out = "Invalid values_to_write '9o': expected one hexadecimal value, one byte per run.\n", .status = 1},
        Case{.name = "SeveralValues", .args = {"in.bin", "out.bin", "1", "90 90"},
             .out = "Invalid values_to_write '90 90': expected one hexadecimal value, one byte per run.\n", .status = 1},
        // Beyond one byte, written as meant, and named on standard error.
        Case{.name = "ValueNegative", .args = {"in.bin", "out.bin", "1", " -1 "},
             .out = report(-1, 1) + "Done\n", .output_after = with_byte(sample, 1, '\xff'),
             .err = "bytemend: -1 is negative: its low 8 bits, 0xFF, are written\n"},
        Case{.name = "ValueBeyondAByteNotWritten", .args = {"in.bin", "out.bin", "7", "1FF"},
             .out = report(511, 7) + "Location 7 is outside in.bin, which is 7 bytes long.\n", .status = 1},
        Case{.name = "ValuePast32Bits", .args = {"in.bin", "out.bin", "1", "FFFFFFFF"},
             .out = report(2147483647, 1) + "Done\n", .output_after = with_byte(sample, 1, '\xff'),
             .err = "bytemend: FFFFFFFF is past the 32-bit range: it is read as 7FFFFFFF, whose low 8 bits, "
                    "0xFF, are written\n"},
        // An echoed argument never prints a line of its own, such as "Done".
        Case{.name = "NameWithControlCharacters", .args = {"no\tfile\nDone\n", "out.bin", "1", "41"},
             .out = "Error opening no\\tfile\\nDone\\n for reading.\n", .status = 1,
             .err = "bytemend: cannot open 'no\\tfile\\nDone\\n' for reading: No such file or directory\n"},
        // Nor moves the cursor or the line: C1 controls and the line
        // separator, in UTF-8, or as a byte of their own for a terminal of
        // eight-bit characters; other text stays as typed.
        Case{.name = "NameWithTerminalControls",
             .args = {"a\x1f\xc2\x9b\xe2\x80\xa8\xe2\x80\xa9\xe2\x80\xae\xe2\x81\xa6\xd8\x9c\xe2\x80\x8e\xe2\x80\x8f"
                      "\xe2\x81\xa9\xe2\x80\x90\xe0\xa0\x80\xf0\x9f\x98\x80\xc3\xa9.bin", "out.bin", "1", "41"},
             .out = "Error opening a\\x1f\\u009b\\u2028\\u2029\\u202e\\u2066\\u061c\\u200e\\u200f\\u2069\xe2\x80\x90\xe0\xa0\x80\xf0\x9f\x98\x80\xc3\xa9.bin "
                    "for reading.\n", .status = 1,
             .err = "bytemend: cannot open 'a\\x1f\\u009b\\u2028\\u2029\\u202e\\u2066\\u061c\\u200e\\u200f\\u2069\xe2\x80\x90\xe0\xa0\x80\xf0\x9f\x98\x80\xc3\xa9.bin' "
                    "for reading: "
                    "No such file or directory\n"},
        Case{.name = "NameEndingPastAscii", .args = {"caf\xc4\x81", "out.bin", "1", "41"},
             .out = "Error opening caf\xc4\x81 for reading.\n", .status = 1,
             .err = "bytemend: cannot open 'caf\xc4\x81' for reading: No such file or directory\n"},
        Case{.name = "NameWithEightBitControl", .args = {"a\x9b\xe9.bin", "out.bin", "1", "41"},
             .out = "Error opening a\\x9b\xe9.bin for reading.\n", .status = 1,
             .windows_skip = "Windows names are UTF-16: no byte of one stands alone",
             .err = "bytemend: cannot open 'a\\x9b\xe9.bin' for reading: No such file or directory\n"},
        Case{.name = "LocationWithControlCharacters", .args = {"in.bin", "out.bin", "1x\nDone\x7f", "41"},
             .out = "Invalid decimal_location '1x\\nDone\\x7f': expected a decimal byte offset.\n",
             .status = 1},
        Case{.name = "LocationAtLength", .args = {"in.bin", "out.bin", "7", "41"},
             .out = report(65, 7) + "Location 7 is outside in.bin, which is 7 bytes long.\n",
             .status = 1},
        Case{.name = "LocationNegative", .args = {"in.bin", "out.bin", "-1", "41"},
             .out = report(65, -1) + "Location -1 is outside in.bin, which is 7 bytes long.\n",
             .status = 1},
        Case{.name = "EmptyInput", .args = {"empty.bin", "out.bin", "0", "41"},
             .out = report(65, 0) + "Location 0 is outside empty.bin, which is 0 bytes long.\n",
             .status = 1,
             .setup = [] { write_file("empty.bin", ""); }},
        Case{.name = "LocationPastOneByte", .args = {"one.bin", "out.bin", "1", "41"},
             .out = report(65, 1) + "Location 1 is outside one.bin, which is 1 byte long.\n",
             .status = 1,
             .setup = [] { write_file("one.bin", "x"); }},
        // The kernel's copy done in one call of one byte.
        Case{.name = "CopyOfOneByte", .args = {"one.bin", "out.bin", "0", "41"},
             .out = report(65, 0) + "Done\n", .output_after = "A",
             .setup = [] { write_file("one.bin", "x"); }},
        Case{.name = "CopyThroughBufferAtZero", .args = {on_tmpfs, "out.bin", "0", "41"},
             .out = report(65, 0) + "Done\n", .output_after = with_byte(sample, 0, 'A'),
             .setup = [] { write_file(on_tmpfs, sample); },
             .check = [] { std::filesystem::remove(on_tmpfs); }},
        Case{.name = "Copy", .args = {"in.bin", "out.bin", "1", "41"},
             .out = report(65, 1) + "Done\n", .output_after = copied},
        Case{.name = "CopyCarriageReturnOverLineFeed", .args = {"in.bin", "out.bin", "2", "10D"},
             .out = report(269, 2) + "Done\n", .output_after = with_byte(sample, 2, '\r'),
             .err = "bytemend: 10D is more than one byte: its low 8 bits, 0x0D, are written\n"},
        Case{.name = "CopyZeroByte", .args = {"in.bin", "out.bin", "2", "00"},
             .out = report(0, 2) + "Done\n", .output_after = with_byte(sample, 2, '\0')},
        Case{.name = "CopyJustPastOneByte", .args = {"in.bin", "out.bin", "2", "100"},
             .out = report(256, 2) + "Done\n", .output_after = with_byte(sample, 2, '\0'),
             .err = "bytemend: 100 is more than one byte: its low 8 bits, 0x00, are written\n"},
        // Replaced whole, as a new file, where nothing is in the way.
        Case{.name = "CopyOverLongerOutput", .args = {"in.bin", "out.bin", "1", "41"},
             .out = report(65, 1) + "Done\n", .output_after = copied,
             .setup = [] {
                 write_file("out.bin", "a much longer old output");
                 old_number = file_number("out.bin");
             },
             .check = [] { EXPECT_EQ(file_number("out.bin") != old_number, BYTEMEND_REPLACES_OUTPUTS != 0); }},
        Case{.name = "CopyOverOutputOnTmpfs", .args = {"in.bin", on_tmpfs, "1", "41"},
             .out = report(65, 1) + "Done\n",
             .setup = [] {
                 write_file(on_tmpfs, "a much longer old output");
                 old_number = file_number(on_tmpfs);
             },
             .check = [] {
                 EXPECT_EQ(read_file(on_tmpfs), copied);
                 EXPECT_EQ(file_number(on_tmpfs) != old_number, BYTEMEND_REPLACES_OUTPUTS != 0);
                 std::filesystem::remove(on_tmpfs);
             }},
        // Replaced whole through a linked folder, which leads to the file
        // itself; keeping the attributes the old file has, and the name's
        // case as it stands.
        Case{.name = "CopyThroughLinkedFolder", .args = {"in.bin", linked_root + "/linked/out.bin", "1", "41"},
             .out = report(65, 1) + "Done\n",
             .setup = [] {
                 if (!on_windows) {
                     std::filesystem::create_directory("real");
                     std::filesystem::create_symlink("real", "linked");
                 }
                 write_file(linked_root + "/real/out.bin", "a much longer old output");
                 old_number = file_number(linked_root + "/real/out.bin");
             },
             .windows_skip = linked_dir ? "" : "needs BYTEMEND_LINKED_DIR, a folder with a symlink linked to real in it",
             .check = [] {
                 EXPECT_EQ(read_file(linked_root + "/real/out.bin"), copied);
                 EXPECT_EQ(file_number(linked_root + "/real/out.bin") != old_number, BYTEMEND_REPLACES_OUTPUTS != 0);
                 std::filesystem::remove(u8(linked_root + "/real/out.bin"));
             }},
        Case{.name = "CopyOverHiddenOutputTypedInAnotherCase",
             .args = {"in.bin", on_windows ? "KEPT.BIN" : "Kept.Bin", "1", "41"},
             .out = report(65, 1) + "Done\n",
             .setup = [] {
                 write_file("Kept.Bin", "a much longer old output");
                 set_attributes("Kept.Bin", 0x26);  // hidden, system, archive
                 old_attributes = attributes("Kept.Bin");
                 old_number = file_number("Kept.Bin");
             },
             .check = [] {
                 EXPECT_EQ(read_file("Kept.Bin"), copied);
                 EXPECT_EQ(attributes("Kept.Bin"), old_attributes);
                 EXPECT_EQ(file_number("Kept.Bin") != old_number, BYTEMEND_REPLACES_OUTPUTS != 0);
                 const auto all = names();
                 EXPECT_EQ(std::count(all.begin(), all.end(), "Kept.Bin"), 1);
             }},
        // Overwritten where it lies where a replacement would lose what the
        // old file is: another name for it, the file a symlink names (which
        // Wine's replacement takes away), its owner (Windows gives a new file
        // its maker's). Or where Windows would refuse to replace it in the
        // end: a program that has it open, sharing all but its deletion, as
        // most do.
        Case{.name = "CopyOverHardLinkedOutput", .args = {"in.bin", "out.bin", "1", "41"},
             .out = report(65, 1) + "Done\n", .output_after = copied,
             .setup = [] {
                 write_file("out.bin", "a much longer old output");
                 std::filesystem::create_hard_link("out.bin", "other.bin");
             },
             .check = [] { EXPECT_EQ(read_file("other.bin"), copied); }},
        Case{.name = "CopyThroughSymlinkOverOutput", .args = {"in.bin", "link.bin", "1", "41"},
             .out = report(65, 1) + "Done\n", .output_after = copied,
             .setup = [] {
                 write_file("out.bin", "a much longer old output");
                 make_symlink("out.bin", "link.bin");
             },
             .windows_skip = needs_linux_ln,
             .check = [] {
                 EXPECT_EQ(file_number("link.bin"), file_number("out.bin"));
                 remove_symlink("link.bin");
             }},
        Case{.name = "CopyOverOutputOfAnotherOwner", .args = {"in.bin", "out.bin", "1", "41"},
             .out = report(65, 1) + "Done\n", .output_after = copied,
             .setup = [] {
                 write_file("out.bin", "a much longer old output");
                 give_away("out.bin");
                 given_owner = owner("out.bin");
             },
             .check = [] { EXPECT_EQ(owner("out.bin"), given_owner); }},
        Case{.name = "CopyOverOutputOfAnotherGroup", .args = {"in.bin", "out.bin", "1", "41"},
             .out = report(65, 1) + "Done\n", .output_after = copied,
             .setup = [] {
                 write_file("out.bin", "a much longer old output");
                 give_away("out.bin", true);
                 given_owner = owner("out.bin");
             },
             .windows_skip = "a group alone is not given away under Wine",
             .check = [] { EXPECT_EQ(owner("out.bin"), given_owner); }},
        Case{.name = "CopyOverOutputOpenElsewhere", .args = {"in.bin", "out.bin", "1", "41"},
             .out = report(65, 1) + "Done\n", .output_after = copied,
             .setup = [] {
                 write_file("out.bin", "a much longer old output");
                 held_open.open(u8("out.bin"));
             },
             .check = [] { held_open.close(); }},
        Case{.name = "InPlaceSamePath", .args = {"in.bin", "in.bin", "0", "5a"},
             .out = report(90, 0) + "Done\n", .input_after = patched},
        Case{.name = "InPlaceOtherSpelling", .args = {"in.bin", "../work/in.bin", "0", "5a"},
             .out = report(90, 0) + "Done\n", .input_after = patched},
        Case{.name = "InPlaceHardLink", .args = {"in.bin", "hard.bin", "0", "5a"},
             .out = report(90, 0) + "Done\n", .input_after = patched,
             .setup = [] { std::filesystem::create_hard_link("in.bin", "hard.bin"); },
             .windows_skip = needs_links},
        Case{.name = "InPlaceSymlink", .args = {"in.bin", "sym.bin", "0", "5a"},
             .out = report(90, 0) + "Done\n", .input_after = patched,
             .setup = [] { std::filesystem::create_symlink("in.bin", "sym.bin"); },
             .windows_skip = needs_links},
        Case{.name = "ThroughDanglingSymlink", .args = {"in.bin", "link.bin", "1", "41"},
             .out = report(65, 1) + "Done\n", .output_after = copied,
             .setup = [] { std::filesystem::create_symlink("out.bin", "link.bin"); },
             .windows_skip = needs_links},
        // Each link relative to its own folder.
        Case{.name = "ThroughRelativeSymlinkChain", .args = {"in.bin", "sub/link.bin", "1", "41"},
             .out = report(65, 1) + "Done\n", .output_after = copied,
             .setup = [] {
                 std::filesystem::create_directory("sub");
                 std::filesystem::create_symlink("../link2.bin", "sub/link.bin");
                 std::filesystem::create_symlink("out.bin", "link2.bin");
             },
             .windows_skip = needs_links},
        Case{.name = "ThroughAbsoluteSymlinkInFolder", .args = {"in.bin", "sub/link.bin", "1", "41"},
             .out = report(65, 1) + "Done\n", .output_after = copied,
             .setup = [] {
                 std::filesystem::create_directory("sub");
                 std::filesystem::create_symlink(std::filesystem::absolute("out.bin"), "sub/link.bin");
             },
             .windows_skip = needs_links},
        // As far as the kernel follows a path: 40 links.
        Case{.name = "ThroughFortySymlinks", .args = {"in.bin", "0.link", "1", "41"},
             .out = report(65, 1) + "Done\n", .output_after = copied,
             .setup = [] {
                 for (int i = 0; i < 40; ++i) {
                     std::filesystem::create_symlink(i == 39 ? "out.bin" : std::to_string(i + 1) + ".link",
                                                     std::to_string(i) + ".link");
                 }
             },
             .windows_skip = needs_links},
        Case{.name = "EmptyOutputName", .args = {"in.bin", "", "1", "41"},
             .out = report(65, 1) + "Failed to open/create .\n", .status = 1,
             .err = "bytemend: cannot open or create '': No such file or directory\n",
             .windows_err = "bytemend: cannot open or create '': Path not found\n"},
        // Not a word into the data: the refusal goes to standard error.
        Case{.name = "StandardOutputByDevice", .args = {"in.bin", "/dev/stdout", "1", "41"},
             .out = "", .status = 1,
             .windows_skip = "Windows has no /dev/stdout",
             .err = "Cannot write /dev/stdout: it is standard output, where the report goes.\n"},
        Case{.name = "StandardOutputByName", .args = {"in.bin", "../stdout", "1", "41"},
             .out = "", .status = 1,
             .err = "Cannot write ../stdout: it is standard output, where the report goes.\n"},
        Case{.name = "StandardOutputReadWriteOnInput", .args = {"in.bin", "out.bin", "1", "41"},
             .out = "", .status = 1,
             .redirects = {{1, "in.bin", O_RDWR}},
             .err = "Cannot read in.bin: it is standard output, where the report goes.\n"},
        Case{.name = "StandardOutputReadWriteInPlace", .args = {"in.bin", "in.bin", "1", "41"},
             .out = "", .status = 1,
             .redirects = {{1, "in.bin", O_RDWR}},
             .err = "Cannot write in.bin: it is standard output, where the report goes.\n"},
        Case{.name = "StandardOutputAppendsToOutput", .args = {"in.bin", "out.bin", "1", "41"},
             .out = "", .status = 1, .output_after = "old",
             .setup = [] { write_file("out.bin", "old"); },
             .redirects = {{1, "out.bin", O_WRONLY | O_APPEND}},
             .err = "Cannot write out.bin: it is standard output, where the report goes.\n"},
        // A warning would be written into the data: said on standard output.
        Case{.name = "StandardErrorAppendsToOutput", .args = {"in.bin", "out.bin", "1", "100"},
             .out = "Cannot write out.bin: it is standard error, where messages go.\n", .status = 1,
             .output_after = "old",
             .setup = [] { write_file("out.bin", "old"); },
             .redirects = {{2, "out.bin", O_WRONLY | O_APPEND}}},
        Case{.name = "StandardErrorAppendsToInput", .args = {"in.bin", "out.bin", "1", "41"},
             .out = "Cannot read in.bin: it is standard error, where messages go.\n", .status = 1,
             .redirects = {{2, "in.bin", O_WRONLY | O_APPEND}}},
        // Both streams the output: the refusal has nowhere to go but into it.
        Case{.name = "BothStreamsAppendToOutput", .args = {"in.bin", "out.bin", "1", "41"},
             .out = "", .status = 1, .output_after = "old",
             .setup = [] { write_file("out.bin", "old"); },
             .redirects = {{1, "out.bin", O_WRONLY | O_APPEND}, {2, "out.bin", O_WRONLY | O_APPEND}}},
        // A closed descriptor is not taken by the input or the output.
        Case{.name = "StandardOutputClosedInPlace", .args = {"in.bin", "in.bin", "1", "41"},
             .out = "", .input_after = copied,
             .windows_skip = no_stdout_on_windows,
             .redirects = {{1, nullptr, 0}}},
        Case{.name = "StandardInputAndOutputClosed", .args = {"in.bin", "out.bin", "1", "41"},
             .out = "", .output_after = copied,
             .windows_skip = no_stdout_on_windows,
             .redirects = {{0, nullptr, 0}, {1, nullptr, 0}}},
        // A character device is no file a line could spoil, even the output.
        Case{.name = "NullDeviceOutputAndStandardOutput", .args = {"in.bin", "/dev/null", "1", "41"},
             .out = "", .windows_skip = "Windows has no /dev/null",
             .redirects = {{1, "/dev/null", O_WRONLY}}},
        Case{.name = "StandardOutputFull", .args = {"in.bin", "out.bin", "1", "41"},
             .out = "", .status = 1, .output_after = copied,
             .windows_skip = "Windows has no /dev/full",
             .redirects = {{1, "/dev/full", O_WRONLY}},
             .err = "bytemend: cannot print the whole report, though the byte was written: No space left on device\n"},
        // Quoted on Windows' one command line, and split again there.
        Case{.name = "NameWithBlanks", .args = {"in.bin", "o u t.bin", "1", "41"},
             .out = report(65, 1) + "Done\n",
             .check = [] { EXPECT_EQ(read_file("o u t.bin"), copied); }},
        Case{.name = "OutputFolderMissing", .args = {"in.bin", "nodir/out.bin", "1", "41"},
             .out = report(65, 1) + "Failed to open/create nodir/out.bin.\n", .status = 1,
             .err = "bytemend: cannot open or create 'nodir/out.bin': No such file or directory\n"},
        Case{.name = "OutputCannotBeWritten", .args = {"in.bin", "/dev/full", "1", "41"},
             .out = report(65, 1) + "Failed to write /dev/full: No space left on device.\n",
             .status = 1},
        // Names as typed, whatever the system's code page: Windows' ANSI code
        // pages fold "ā" to "a", and hold "日本" only in Japanese ones.
        Case{.name = "NameThatWouldFold", .args = {"in.bin", "ā.bin", "1", "41"},
             .out = report(65, 1) + "Done\n",
             .setup = [] { write_file("a.bin", "keep"); },
             .check = [] {
                 EXPECT_EQ(read_file("ā.bin"), copied);
                 EXPECT_EQ(read_file("a.bin"), "keep");
             }},
        Case{.name = "NameOutsideCodePagesIn", .args = {"日本.bin", "out.bin", "1", "41"},
             .out = report(65, 1) + "Done\n", .output_after = copied,
             .setup = [] { write_file("日本.bin", sample); }},
        Case{.name = "NameOutsideCodePagesOut", .args = {"in.bin", "日本.bin", "1", "41"},
             .out = report(65, 1) + "Done\n",
             .check = [] { EXPECT_EQ(read_file("日本.bin"), copied); }},
        // Printed as the UTF-8 bytes typed, on every system.
        Case{.name = "NamePrintedAsTyped", .args = {"\xC3\xA9.bin", "out.bin", "1", "41"},
             .out = "Error opening \xC3\xA9.bin for reading.\n", .status = 1,
             .err = "bytemend: cannot open '\xC3\xA9.bin' for reading: No such file or directory\n"},
        Case{.name = "PathPastOldWindowsLimit",
             .args = {long_folder + "/in.bin", long_folder + "/out.bin", "1", "41"},
             .out = report(65, 1) + "Done\n",
             .setup = [] {
                 std::filesystem::create_directories(long_folder);
                 write_file(long_folder + "/in.bin", sample);
             },
             .check = [] {
                 EXPECT_EQ(read_file(long_folder + "/out.bin"), copied);
                 remove_long_folder();
             }},
        Case{.name = "ReplacedPastOldWindowsLimit",
             .args = {long_folder + "/in.bin", long_folder + "/out.bin", "1", "41"},
             .out = report(65, 1) + "Done\n",
             .setup = [] {
                 std::filesystem::create_directories(long_folder);
                 write_file(long_folder + "/in.bin", sample);
                 write_file(long_folder + "/out.bin", "a much longer old output");
                 old_number = file_number(long_folder + "/out.bin");
             },
             .check = [] {
                 EXPECT_EQ(read_file(long_folder + "/out.bin"), copied);
                 EXPECT_EQ(file_number(long_folder + "/out.bin") != old_number, BYTEMEND_REPLACES_OUTPUTS != 0);
                 remove_long_folder();
             }},
        // Windows will not delete a read-only file: the unfinished copy must
        // not take the input's attribute before it is complete.
        Case{.name = "ReadOnlyInputOnFullDisk", .args = {"big.bin", full_output, "1", "41"},
             .out = report(65, 1) + "Failed to write " + full_output +
                    ": No space left on device.\n",
             .status = 1,
             .setup = [] {
                 write_file("big.bin", std::string(2 << 20, 'x'));
                 std::filesystem::permissions("big.bin", std::filesystem::perms::owner_read);
             },
             .windows_out = report(65, 1) + "Failed to write " + full_output + ": Disk full.\n",
             .check = [] {
                 EXPECT_TRUE(std::filesystem::is_empty(full_disk));
                 std::filesystem::permissions("big.bin", std::filesystem::perms::owner_all);
             },
             .on_full_disk = true},
        // One identity, two files: a copy, not a patch of the output.
        Case{.name = "TwoFilesOfOneIdentity", .args = {twin_in, twin_out, "1", "41"},
             .out = report(65, 1) + "Done\n",
             .setup = [] { make_twins(sample, "old, and longer than in.bin"); },
             .check = [] {
                 EXPECT_EQ(read_file(twin_out), copied);
                 std::filesystem::remove(twin_in);
                 std::filesystem::remove(twin_out);
             },
             .on_twin_disks = true},
        // The new file is made in the folder the name resolves to, on the
        // output's own volume, and renamed there.
        Case{.name = "DriveRelativeOutput", .args = {"in.bin", drive_relative, "1", "41"},
             .out = report(65, 1) + "Done\n",
             .check = [] {
                 EXPECT_EQ(read_file(std::string(twin_b) + "/rel.bin"), copied);
                 EXPECT_EQ(entries(), 1u) << "a temporary file left here";
                 std::filesystem::remove(std::string(twin_b) + "/rel.bin");
             },
             .on_twin_disks = true, .on_other_drive = true},
        // Refused before the copy, not when the copy is to get its name.
        Case{.name = "NameLongerThanVolumeTakes", .args = {"in.bin", long_name, "1", "41"},
             .out = report(65, 1) + "Failed to open/create " + long_name + ".\n", .status = 1,
             .check = [] { EXPECT_EQ(entries(), 1u); },
             .err = "bytemend: cannot open or create '" + long_name + "': File name too long\n"},
        // An unpaired surrogate, which NTFS allows (Wine does not), is a name
        // of its own, not the replacement character's.
        Case{.name = "NameNotValidUtf16", .args = {"z\xED\xA0\x80.bin", "out.bin", "1", "41"},
             .out = "Error opening z\xED\xA0\x80.bin for reading.\n", .status = 1,
             .setup = [] { write_file("z\uFFFD.bin", sample); },
             .err = "bytemend: cannot open 'z\xED\xA0\x80.bin' for reading: No such file or directory\n"},
        // As Windows' own commands are asked for help.
        Case{.name = "HelpAsWindowsAsks", .args = {"/?"},
             .out = usage, .status = on_windows ? 0 : 1,
             .windows_out = usage + more,
             .err = "bytemend: 1 argument given, where 4 are needed: the input, the output, the location and the value\n",
             .windows_err = ""},
        Case{.name = "HelpAsWindowsAsksAmongOthers", .args = {"/?", "out.bin", "1", "41"},
             .out = "Error opening /? for reading.\n", .status = 1,
             .err = "bytemend: cannot open '/?' for reading: No such file or directory\n"},
        // Patterns take what cmd's dir lists: *.* names without a dot too,
        // *. only those, and a ? also nothing before a dot.
        Case{.name = "PatternForAllTakesNamesWithoutDot", .args = {"*.*", "out.bin", "1", "41"},
             .out = "Error opening *.* for reading.\n", .status = 1,
             .setup = [] { write_file("noext", sample); },
             .windows_out = "Cannot take *.* as one file: the pattern matches 2 files.\n",
             .err = "bytemend: cannot open '*.*' for reading: No such file or directory\n",
             .windows_err = ""},
        Case{.name = "PatternForNamesWithoutDot", .args = {"*.", "out.bin", "1", "41"},
             .out = "Error opening *. for reading.\n", .status = on_windows ? 0 : 1,
             .output_after = on_windows ? std::optional(copied) : std::nullopt,
             .setup = [] { write_file("noext", sample); },
             .windows_out = report(65, 1) + "Done\n",
             .err = "bytemend: cannot open '*.' for reading: No such file or directory\n",
             .windows_err = ""},
        Case{.name = "PatternQuestionMarkBeforeDot", .args = {"i?.bin", "out.bin", "1", "41"},
             .out = "Error opening i?.bin for reading.\n", .status = 1,
             .setup = [] { write_file("i.bin", sample); },
             .windows_out = "Cannot take i?.bin as one file: the pattern matches 2 files.\n",
             .err = "bytemend: cannot open 'i?.bin' for reading: No such file or directory\n",
             .windows_err = ""},
        // Wine has no words for Windows' code for a folder: the C runtime's
        // stand in.
        Case{.name = "DirectoryOutput", .args = {"in.bin", "sub", "1", "41"},
             .out = report(65, 1) + "Failed to open/create sub.\n", .status = 1,
             .setup = [] { std::filesystem::create_directory("sub"); },
             .err = "bytemend: cannot open or create 'sub': Is a directory\n",
             .windows_err = "bytemend: cannot open or create 'sub': An operation is not supported on a directory\n"},
        Case{.name = "DirectoryOutputWithSlash", .args = {"in.bin", "sub/", "1", "41"},
             .out = report(65, 1) + "Failed to open/create sub/.\n", .status = 1,
             .setup = [] { std::filesystem::create_directory("sub"); },
             .err = "bytemend: cannot open or create 'sub/': Is a directory\n",
             .windows_err = "bytemend: cannot open or create 'sub/': An operation is not supported on a directory\n"},
        Case{.name = "EmptyInputName", .args = {"", "out.bin", "1", "41"},
             .out = "Error opening  for reading.\n", .status = 1,
             .err = "bytemend: cannot open '' for reading: No such file or directory\n",
             .windows_err = "bytemend: cannot open '' for reading: Path not found\n"},
        Case{.name = "CopyPastFourGibibytesInKernel",
             .args = {"far.bin", "far-out.bin", std::to_string(far_location), "41"},
             .out = report(65, far_location) + "Done\n",
             .setup = [] { make_far_input("far.bin"); },
             .check = [] { expect_far_copy("far-out.bin"); },
             .over_holes = true},
        Case{.name = "CopyPastFourGibibytesThroughBuffer",
             .args = {far_on_tmpfs, "far-out.bin", std::to_string(far_location), "41"},
             .out = report(65, far_location) + "Done\n",
             .setup = [] { make_far_input(far_on_tmpfs); },
             .check = [] {
                 expect_far_copy("far-out.bin");
                 std::filesystem::remove(far_on_tmpfs);
             },
             .over_holes = true},
        // The C runtime writes each printf to a file at once.
        Case{.name = "KilledMidway", .args = {"big.bin", "out.bin", "1", "41"},
             .out = report(65, 1), .status = 137,
             .setup = [] {
                 write_file("big.bin", "");
                 std::filesystem::resize_file("big.bin", std::uintmax_t{2} << 30);
             },
             .check = [] { EXPECT_EQ(entries(), 2u) << "something besides in.bin and big.bin"; },
             .killed_midway = true}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

#if defined(_WIN32)
// Whether the folder's own watch saw out.bin go, even for an instant: it
// holds the old file or the copy throughout, or a kill there loses both.
// Ended by a name of its own appearing in the folder.
class NameWatch {
public:
    NameWatch() : folder_(CreateFileW(L".", FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)) {
        thread_ = std::thread([this] {
            alignas(DWORD) char buffer[16384];
            for (DWORD size = 0; !ended_ && !lost_;) {
                lost_ = ReadDirectoryChangesW(folder_, buffer, sizeof buffer, FALSE, FILE_NOTIFY_CHANGE_FILE_NAME,
                                              &size, nullptr, nullptr) == 0 ||
                        size == 0;
                for (const char* at = buffer; size > 0;) {
                    const auto* change = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(at);
                    const std::wstring name(change->FileName, change->FileNameLength / sizeof(wchar_t));
                    gone_ = gone_ || (name == L"out.bin" && (change->Action == FILE_ACTION_REMOVED ||
                                                             change->Action == FILE_ACTION_RENAMED_OLD_NAME));
                    ended_ = ended_ || name == L"watch.end";
                    at += change->NextEntryOffset;
                    size = change->NextEntryOffset == 0 ? 0 : size;
                }
            }
        });
    }
    // Whether out.bin went, or what went by was lost.
    bool gone() {
        write_file("watch.end", "");
        thread_.join();
        CloseHandle(folder_);
        std::filesystem::remove("watch.end");
        return gone_ || lost_;
    }

private:
    HANDLE folder_;
    std::thread thread_;
    bool ended_ = false;
    bool gone_ = false;
    bool lost_ = false;
};

// A replacement of 100 MB, killed at many instants, or with another program
// at work in the folder: another program's save at the name, or a name
// made like one the command could use. The name holds the old file, the
// copy or the other program's at every instant; nothing else is left but
// one .bytemend-*.tmp where a kill came after the copy was unmarked.
TEST_F(Cli, ReplacementHoldsTheNameAtEveryInstant) {
    // A MiB at a time: a 32-bit test holds no three copies of 100 MB.
    constexpr std::streamsize chunk = 1 << 20;
    constexpr std::uintmax_t size = 100 * chunk;
    const auto fill = [](const char* path, char byte) {
        std::ofstream file(path, std::ios::binary);
        const std::string bytes(chunk, byte);
        for (std::uintmax_t done = 0; done < size; done += chunk) {
            file.write(bytes.data(), chunk);
        }
    };
    // "old", "copy", or what else out.bin holds.
    const auto holds = [] {
        const std::string old_part(chunk, 'o');
        const std::string in_part(chunk, 'i');
        const std::string first_copied = with_byte(in_part, 1, 'A');
        std::ifstream file("out.bin", std::ios::binary);
        std::string part(chunk, '\0');
        bool old = true;
        bool copy = true;
        std::uintmax_t read = 0;
        for (; file.read(part.data(), chunk), file.gcount() == chunk; read += chunk) {
            old = old && part == old_part;
            copy = copy && part == (read == 0 ? first_copied : in_part);
        }
        return read != size ? part.substr(0, static_cast<std::size_t>(file.gcount())) : old ? "old" : copy ? "copy" : "a mix";
    };
    fill("in.bin", 'i');
    const auto temporary = [] {
        const auto all = names();
        const auto found = std::find_if(all.begin(), all.end(), [](const std::string& name) {
            return name.starts_with(".bytemend-") && name.ends_with(".tmp");
        });
        return found == all.end() ? std::string() : *found;
    };
    enum class Act { kill, save, take_a_name };
    const struct {
        Act act;
        int poll;  // of 10 ms, for a kill
    } cases[] = {
        {Act::kill, 1},  {Act::kill, 3},  {Act::kill, 6},  {Act::kill, 10}, {Act::kill, 15},
        {Act::kill, 20}, {Act::kill, 30}, {Act::kill, 45}, {Act::kill, 70}, {Act::kill, 100},
        {Act::save, 0},  {Act::take_a_name, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.act) << " at " << c.poll);
        fill("out.bin", 'o');
        std::string taken;  // the name made beside the command's own
        bool saved = false;
        int polls = 0;
        NameWatch watch;
        const Result result = run({"in.bin", "out.bin", "1", "41"}, no_limit, [&] {
            const std::string made = temporary();
            // Saved as Windows programs save, once the copy is complete.
            if (c.act == Act::save && !saved && !made.empty() && std::filesystem::file_size(made) == size) {
                write_file("saved.tmp", "saved");
                saved = ReplaceFileW(std::filesystem::absolute("out.bin").c_str(),
                                     std::filesystem::absolute("saved.tmp").c_str(), nullptr, 0, nullptr, nullptr) != 0;
            }
            if (c.act == Act::take_a_name && taken.empty() && !made.empty()) {
                taken = made.substr(0, made.size() - 3) + "old";
                write_file(taken, "taken");
            }
            return c.act == Act::kill && ++polls >= c.poll;
        });
        // Another program's save may take the name away for an instant.
        EXPECT_TRUE(!watch.gone() || c.act == Act::save) << "out.bin went from its folder";
        const std::string now = holds();
        EXPECT_TRUE(now == "copy" || (c.act == Act::kill && now == "old") || (c.act == Act::save && now == "saved"))
            << now;
        if (!taken.empty()) {
            EXPECT_EQ(read_file(taken), "taken");
            std::filesystem::remove(taken);
        }
        EXPECT_EQ(saved, c.act == Act::save);
        std::filesystem::remove("saved.tmp");
        const std::string left = temporary();
        EXPECT_TRUE(left.empty() || (c.act == Act::kill && result.status == 137)) << left;
        if (!left.empty()) {
            std::filesystem::remove(left);
        }
        const auto all = names();
        EXPECT_EQ(all.size(), 2u) << "besides in.bin and out.bin: " << all.back();
    }
}
#endif

TEST_F(Cli, NewOutputTakesInputPermissionsAndReplacedOneKeepsItsOwn) {
    if (on_windows) {
        GTEST_SKIP() << "Windows files have no permission bits beyond read-only";
    }
    write_file("in.bin", sample);
    write_file("old.bin", "old");
    ASSERT_EQ(chmod("in.bin", 04755), 0);
    ASSERT_EQ(chmod("old.bin", 0604), 0);
    struct stat before {}, created {}, kept {};
    ASSERT_EQ(stat("old.bin", &before), 0);
    const mode_t previous = umask(027);
    EXPECT_EQ(run({"in.bin", "new.bin", "1", "41"}).status, 0);
    EXPECT_EQ(run({"in.bin", "old.bin", "1", "41"}).status, 0);
    umask(previous);
    ASSERT_EQ(stat("new.bin", &created), 0);
    ASSERT_EQ(stat("old.bin", &kept), 0);
    EXPECT_EQ(created.st_mode & 07777, 0750u);
    EXPECT_EQ(kept.st_mode & 07777, 0604u);
    EXPECT_EQ(kept.st_ino != before.st_ino, BYTEMEND_REPLACES_OUTPUTS != 0) << "replaced whole, or overwritten";
    EXPECT_EQ(read_file("old.bin"), copied);
}

TEST_F(Cli, FailedCopyRemovesOnlyAnOutputItCreated) {
    if (on_windows) {
        GTEST_SKIP() << "Windows has no file size limit to fail a write with";
    }
    const std::string big(64 * 1024, 'x');
    write_file("in.bin", big);
    write_file("old.bin", "there before");
    for (const char* output : {"out.bin", "old.bin"}) {
        SCOPED_TRACE(output);
        const Result result = run({"in.bin", output, "1", "41"}, 16 * 1024);
        EXPECT_EQ(result.out, report(65, 1) + "Failed to write " + output + ": File too large.\n");
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(read_file("in.bin"), big);
    }
    EXPECT_FALSE(exists("out.bin"));
    EXPECT_TRUE(exists("old.bin"));
}

#if defined(_WIN32)

TEST_F(Cli, PipeOutputGetsTheByteInTheStream) {
    GTEST_SKIP() << "needs a named pipe (mkfifo), which Windows does not have";
}

TEST_F(Cli, PipeClosedEarlyIsAFailedWriteNotADeath) {
    GTEST_SKIP() << "needs a named pipe (mkfifo), which Windows does not have";
}

#else

TEST_F(Cli, PipeOutputGetsTheByteInTheStream) {
    write_file("in.bin", sample);
    ASSERT_EQ(mkfifo("pipe", 0600), 0);
    // A reader is there first: a pipe that no program reads is refused. The
    // sample fits in the pipe's buffer, and is read once the command is done.
    const int end = open("pipe", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(end, 0);
    const Result result = run({"in.bin", "pipe", "1", "41"});
    std::string received(sample.size() + 1, '\0');
    received.resize(static_cast<std::size_t>(std::max<ssize_t>(read(end, received.data(), received.size()), 0)));
    close(end);
    EXPECT_EQ(result.out, report(65, 1) + "Done\n");
    EXPECT_EQ(received, copied);
}

TEST_F(Cli, PipeClosedEarlyIsAFailedWriteNotADeath) {
    write_file("in.bin", std::string(4 << 20, 'x'));  // far more than a pipe holds
    ASSERT_EQ(mkfifo("pipe", 0600), 0);
    // A reader is there first, and goes with a second as the command opens it.
    const int end = open("pipe", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(end, 0);
    std::thread reader([end] { close(open("pipe", O_RDONLY)); close(end); });
    const Result result = run({"in.bin", "pipe", "1", "41"});
    reader.join();
    EXPECT_EQ(result.out, report(65, 1) + "Failed to write pipe: Broken pipe.\n");
    EXPECT_EQ(result.status, 1);
}

#endif

TEST_F(Cli, PatchesPastFourGibibytesInPlace) {
    const std::uintmax_t length = 5ULL << 30;  // sparse: costs no disk space
    write_file("in.bin", "");
    std::filesystem::resize_file("in.bin", length);
    const Result result = run({"in.bin", "in.bin", "4500000000", "41"});
    EXPECT_EQ(result.out, report(65, 4500000000) + "Done\n");
    std::ifstream in("in.bin", std::ios::binary);
    in.seekg(4500000000);
    EXPECT_EQ(in.get(), 'A');
    EXPECT_EQ(std::filesystem::file_size("in.bin"), length);
}

// On Windows the command expands patterns itself, as a shell does
// elsewhere, but takes no pattern for more than one file: a forgotten output
// name would otherwise make the second match the output.
TEST_F(Cli, WildcardPatternsAreExpandedOnlyOnWindows) {
    write_file("in.bin", sample);
    write_file("a1.bin", "x");
    write_file("a2.bin", "y");
    write_file("report.binary", "z");  // REPORT~1.BIN where Windows makes short names
    write_file("fe", "");
    write_file("old.bak", "kept");
    std::filesystem::create_directory("in.dir");  // no file, for a pattern
    const std::string refused = "Cannot take a*.bin as one file: the pattern matches 2 files.\n";
    const auto output = [](const char* name) {
        return std::string("Cannot take ") + name + " as the output: a pattern would choose the file to overwrite.\n";
    };
    const std::string done = report(65, 1) + "Done\n";
    const std::string literal = on_windows ? "\\\\?\\" + std::filesystem::absolute("in.bin").string() : "";
    const struct {
        std::vector<std::string> args;
        std::string windows;
        std::string elsewhere;
    } cases[] = {
        // Only a run's four arguments: else the usage text.
        {.args = {"a*.bin", "1", "41"},
         .windows = usage, .elsewhere = usage},
        {.args = {"a*.bin", "out.bin", "1", "41"},
         .windows = refused, .elsewhere = "Error opening a*.bin for reading.\n"},
        {.args = {"i?.bin", "out.bin", "1", "41"},
         .windows = done, .elsewhere = "Error opening i?.bin for reading.\n"},
        {.args = {"in.*", "out.bin", "1", "41"},
         .windows = done, .elsewhere = "Error opening in.* for reading.\n"},
        // The match keeps the folder as typed.
        {.args = {"../work/i?.bin", "out.bin", "1", "41"},
         .windows = done, .elsewhere = "Error opening ../work/i?.bin for reading.\n"},
        // Matching nothing, a pattern stays as typed; quoted, it is a name.
        {.args = {"zz*.bin", "out.bin", "1", "41"},
         .windows = "Error opening zz*.bin for reading.\n",
         .elsewhere = "Error opening zz*.bin for reading.\n"},
        {.args = {"\"i?.bin\"", "out.bin", "1", "41"},
         .windows = "Error opening i?.bin for reading.\n",
         .elsewhere = "Error opening \"i?.bin\" for reading.\n"},
        // Names fit by their own, not by their short 8.3 names.
        {.args = {"r*.bin", "out.bin", "1", "41"},
         .windows = "Error opening r*.bin for reading.\n", .elsewhere = "Error opening r*.bin for reading.\n"},
        // Never the output, whatever it matches; numbers are never expanded.
        {.args = {"in.bin", "*.bak", "1", "41"},
         .windows = output("*.bak"), .elsewhere = done},
        {.args = {"in.bin", "i*.bin", "1", "41"},
         .windows = output("i*.bin"), .elsewhere = done},
        {.args = {"in.bin", "out.bin", "1", "f?"},
         .windows = "Invalid values_to_write 'f?': expected one hexadecimal value, one byte per run.\n",
         .elsewhere = "Invalid values_to_write 'f?': expected one hexadecimal value, one byte per run.\n"},
        // The ? of \\?\ is no pattern.
        {.args = {literal, "out.bin", "1", "41"},
         .windows = done, .elsewhere = "Error opening  for reading.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        EXPECT_EQ(run(c.args).out, on_windows ? c.windows : c.elsewhere);
        if (on_windows && c.windows == done) {
            EXPECT_EQ(read_file("out.bin"), copied);
        }
        std::filesystem::remove("out.bin");
    }
    EXPECT_EQ(read_file("a1.bin"), "x");
    EXPECT_EQ(read_file("a2.bin"), "y");
    EXPECT_EQ(read_file("report.binary"), "z");
    EXPECT_EQ(read_file("old.bak"), "kept");
    EXPECT_EQ(read_file("in.bin"), sample);
}

}  // namespace
