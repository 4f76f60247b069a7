// POSIX: identities, opens, symlinks followed by hand, new files by name.

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>

#include "console.h"
#include "fast_copy.h"
#include "file_system.h"
#include "new_file.h"
#include "posix.h"
#include "startup.h"

namespace bytemend {

std::int64_t nanoseconds(std::int64_t seconds, long fraction) {
    return seconds * 1000000000 + fraction;
}

namespace {

// The identity in `status`, where the call that filled it in succeeded. Two
// device nodes may stand for one disk: the device's number names it.
std::optional<FileId> id_of(int result, const struct stat& status) {
    if (result != 0) {
        return std::nullopt;
    }
    return S_ISBLK(status.st_mode)
               ? FileId{.volume = UINT64_MAX, .index = static_cast<std::uint64_t>(status.st_rdev)}
               : FileId{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

// Calls `call` again while a signal interrupts it.
template <typename Call>
std::error_code through_signals(Call call, size_t& done) {
    ssize_t result = 0;
    while ((result = call()) < 0 && errno == EINTR) {
    }
    done = result < 0 ? 0 : static_cast<size_t>(result);
    return result < 0 ? errno_error() : std::error_code();
}

// The folder of `path`, with its last slash ("" for the current one).
std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return path.substr(0, slash == std::string::npos ? 0 : slash + 1);
}

std::string name_of(const std::string& path) {
    return path.substr(folder_of(path).size());
}

// Turns `name` into where a new file of that name would be made: the end of
// its chain of symlinks (ELOOP past 40, as the kernel). A link is followed
// as the kernel follows one with fs.protected_symlinks, whatever the
// setting, as `cp` refuses another user's dangling link: in a sticky folder
// anyone may write, only a link of this user's or the folder's owner's.
std::error_code follow_links(std::string& name) {
    for (int followed = 0;; ++followed) {
        File folder;
        struct stat held {};
        struct stat link {};
        std::string target;
        if (const auto error = open_folder(folder_of(name), folder)) {
            return error;
        }
        const std::error_code error = read_link(folder.get(), name_of(name).c_str(), link, target);
        // Anything but a link is there already, which the new file's
        // exclusive name then finds.
        if (error == std::errc::no_such_file_or_directory || (!error && !S_ISLNK(link.st_mode))) {
            return {};
        }
        if (error || ::fstat(folder.get(), &held) != 0) {
            return error ? error : errno_error();
        }
        if (followed == 40) {
            return std::make_error_code(std::errc::too_many_symbolic_link_levels);
        }
        constexpr mode_t shared = S_ISVTX | S_IWOTH;
        if ((held.st_mode & shared) == shared && link.st_uid != ::geteuid() && link.st_uid != held.st_uid) {
            return std::make_error_code(std::errc::permission_denied);
        }
        // A relative target is relative to the link's own folder.
        const std::size_t slash = name.rfind('/');
        const std::size_t at = target[0] == '/' || slash == std::string::npos ? 0 : slash + 1;
        name.replace(at, std::string::npos, target);
    }
}

// Whether `typed` still leads, through its links, to the name `path` in
// `folder`, where they led as the file was made.
std::error_code still_leads(const std::string& typed, const std::string& path, int folder) {
    std::string again = typed;
    File now;
    if (const auto error = follow_links(again)) {
        return error;
    }
    const auto held = file_id(folder);
    if (again != path || open_folder(folder_of(again), now) || !held || file_id(now.get()) != held) {
        return std::make_error_code(std::errc::file_exists);
    }
    return {};
}

// O_NONBLOCK was for the open alone: the reads and writes may wait.
std::error_code waiting(File& file) {
    if (!file || ::fcntl(file.get(), F_SETFL, 0) != 0) {
        const std::error_code error = errno_error();
        file = File();
        return error;
    }
    return {};
}

// Renames `from` to `to` in `folder`, never in place of a file at `to`
// (EEXIST). Without an exclusive rename: a second name, then the first one
// gone; without hard links either (FAT, many FUSE file systems), a plain
// rename once lstat finds the name free (ENOENT; any other answer may hide
// a file), which leaves an instant where a file that takes it is replaced.
std::error_code rename_without_replacing(int folder, const char* from, const char* to) {
    const std::error_code error = rename_exclusive(folder, from, to);
    if (error != std::errc::invalid_argument) {
        return error;
    }
    if (::linkat(folder, from, folder, to, 0) == 0) {
        ::unlinkat(folder, from, 0);
        return {};
    }
    if (!means_unsupported(errno)) {
        return errno_error();
    }
    struct stat taken {};
    if (::fstatat(folder, to, &taken, AT_SYMLINK_NOFOLLOW) == 0) {
        return std::make_error_code(std::errc::file_exists);
    }
    if (errno != ENOENT) {
        return errno_error();
    }
    return ::renameat(folder, from, folder, to) == 0 ? std::error_code() : errno_error();
}

}  // namespace

bool means_unsupported(int error) {
    return error == EINVAL || error == EXDEV || error == EOPNOTSUPP || error == ENOTSUP || error == ENOTTY ||
           error == ENOSYS || error == EPERM || error == ETXTBSY;
}

bool start_process(int&, char**&) {
    for (int fd = 0; fd <= 2; ++fd) {
        // open() takes the lowest free number, which is this one.
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    // Sent for another program's open while a lease is held.
    std::signal(SIGIO, SIG_IGN);
    return true;
}

// Flushed at once: a run killed midway still shows its report line.
bool put_text(std::FILE* stream, std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
}

std::optional<FileId> file_id(int fd) {
    struct stat status {};
    return id_of(::fstat(fd, &status), status);
}

std::optional<FileState> file_state(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        return std::nullopt;
    }
    const FileState seen{status.st_size, nanoseconds(status.st_mtim.tv_sec, status.st_mtim.tv_nsec),
                         nanoseconds(status.st_ctim.tv_sec, status.st_ctim.tv_nsec)};
    return S_ISBLK(status.st_mode) ? FileState{} : fresh_state(fd).value_or(seen);
}

std::optional<FileId> target_id(const char* path) {
    struct stat status {};
    return id_of(::stat(path, &status), status);
}

std::error_code open_for_reading(const char* path, File& file) {
    file = File(::open(path, O_RDONLY | O_NONBLOCK));
    // A file under a lease (Samba's oplocks) answers a non-blocking open
    // with EWOULDBLOCK while the holder is told to let go; a FIFO never does.
    if (!file && errno == EWOULDBLOCK) {
        file = File(::open(path, O_RDONLY));
    }
    return waiting(file);
}

std::error_code open_for_writing(const char* path, File& file) {
    // A regular file is read back, so that zeros need not be written over
    // zeros; a FIFO opened to be read too would never see its reader go.
    struct stat before {};
    const bool regular = ::stat(path, &before) == 0 && S_ISREG(before.st_mode);
    file = File(regular ? ::open(path, O_RDWR) : -1);
    if (!file && regular && errno == ETXTBSY) {
        file = File(::open(path, O_RDONLY));
    }
    // A FIFO with no reader is refused at once (ENXIO) rather than waited on
    // for ever; a regular file waits, as any open, for a lease's holder.
    if (!file && (errno == EACCES || errno == ENOENT || !regular)) {
        file = File(::open(path, O_WRONLY | (regular ? 0 : O_NONBLOCK)));
        return waiting(file);
    }
    return file ? std::error_code() : errno_error();
}

template <typename Make>
std::error_code NewFile::temporarily(Make make) {
    std::error_code error = std::make_error_code(std::errc::file_exists);
    for (unsigned attempt = 0; error == std::errc::file_exists && attempt < 100; ++attempt) {
        temporary_ = folder_of(path_) + temporary_name();
        error = make(name_of(temporary_).c_str());
    }
    state_ = error ? state_ : State::temporary;
    return error;
}

std::error_code NewFile::create(const char* path, mode_t mode) {
    path_ = typed_ = path;
    std::error_code error = follow_links(path_);
    if (error || (error = open_folder(folder_of(path_), folder_))) {
        return error;
    }
    state_ = open_unnamed(folder_.get(), mode, file_) ? State::none : State::unnamed;
    error = file_ ? std::error_code() : temporarily([&](const char* name) {
        file_ = File(::openat(folder_.get(), name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        return file_ ? std::error_code() : errno_error();
    });
    id_ = file_ ? file_id(file_.get()) : std::nullopt;
    if (id_) {
        return {};
    }
    // Without its identity it could not be told apart from another file
    // later; made by this run an instant ago, it is still this run's own.
    error = error ? error : errno_error();
    if (state_ == State::temporary) {
        remove_at(temporary_);
    }
    state_ = State::none;
    return error;
}

std::error_code NewFile::keep() {
    const std::string name = name_of(path_);
    // Reached through links: named only where they still lead.
    std::error_code error = typed_ == path_ ? std::error_code() : still_leads(typed_, path_, folder_.get());
    if (!error) {
        error = state_ == State::unnamed
                    ? give_name(file_.get(), folder_.get(), name.c_str())
                    : rename_without_replacing(folder_.get(), name_of(temporary_).c_str(), name.c_str());
    }
    state_ = error ? state_ : State::kept;
    return error;
}

std::optional<FileId> NewFile::id_at(const std::string& path) const {
    struct stat status {};
    return id_of(::fstatat(folder_.get(), name_of(path).c_str(), &status, AT_SYMLINK_NOFOLLOW), status);
}

void NewFile::remove_at(const std::string& path) const {
    ::unlinkat(folder_.get(), name_of(path).c_str(), 0);
}

std::error_code NewFile::fit_to_replace(int old) {
    struct stat was {};
    struct stat now {};
    if (::fstat(old, &was) != 0 || ::fstat(file_.get(), &now) != 0) {
        return errno_error();
    }
    // The file at its name in its folder, wherever the typed name leads now.
    const bool again = replaces_ == id_of(0, was);
    replaces_ = id_of(0, was);
    std::error_code error = still_there();
    if (error || (error = why_not_replace(old, again))) {
        return error;
    }
    // Owner first: its change clears set-user-ID bits and capabilities.
    if ((was.st_uid != now.st_uid || was.st_gid != now.st_gid) && ::fchown(file_.get(), was.st_uid, was.st_gid) != 0) {
        return errno_error();
    }
    // Asked again: a set-group-ID bit of a group not this user's is dropped.
    if (::fchmod(file_.get(), was.st_mode & 07777) != 0 || ::fstat(file_.get(), &now) != 0) {
        return errno_error();
    }
    if ((now.st_mode & 07777) != (was.st_mode & 07777)) {
        return std::make_error_code(std::errc::operation_not_permitted);
    }
    return copy_attributes_and_flags(old, file_.get());
}

// Fitted again, as writing took away capabilities (and set-user-ID bits
// that this user may not keep), and asked only now whether anything holds
// the old file. A link never replaces: an unnamed file gets a temporary name.
std::error_code NewFile::ready_to_replace(int old) {
    std::error_code error = send_to_disk(file_.get(), ToDisk::written);
    if (!error && !(error = fit_to_replace(old)) && state_ == State::unnamed) {
        error = temporarily([&](const char* name) { return give_name(file_.get(), folder_.get(), name); });
    }
    return error;
}

// The names swapped in one step, and back where the file swapped out is
// not the old one (another program saved there meanwhile) or was opened to
// be written; where they cannot be swapped, checked just before a rename.
std::error_code NewFile::take_the_place(File& old) {
    const int folder = folder_.get();
    const std::string name = name_of(path_);
    const std::string temporary = name_of(temporary_);
    if (const auto error = still_there()) {
        return error;
    }
    // Nor another program's file, renamed over the temporary name.
    if (id_at(temporary_) != id_) {
        return std::make_error_code(std::errc::file_exists);
    }
    const std::error_code error = rename_exclusive(folder, temporary.c_str(), name.c_str(), true);
    if (error == std::errc::invalid_argument) {
        return ::renameat(folder, temporary.c_str(), folder, name.c_str()) == 0 ? std::error_code() : errno_error();
    }
    if (error) {
        return error;
    }
    const bool theirs = id_at(temporary_) != replaces_;
    if (theirs || opened_to_write(old.get())) {
        rename_exclusive(folder, temporary.c_str(), name.c_str(), true);
        return std::make_error_code(theirs ? std::errc::file_exists : std::errc::text_file_busy);
    }
    // Left, the old file is only what a killed run may leave too.
    ::unlinkat(folder, temporary.c_str(), 0);
    return {};
}

std::error_code reopen(File& file, bool writable) {
    const int mode = ::fcntl(file.get(), F_GETFL);
    if (mode < 0) {
        return errno_error();
    }
    if (((mode & O_ACCMODE) != O_RDONLY) == writable) {
        return {};
    }
    // Through /proc: the file itself, whatever its name leads to by now.
    const std::string self = "/proc/self/fd/" + std::to_string(file.get());
    File again(::open(self.c_str(), writable ? O_RDWR : O_RDONLY));
    if (!again) {
        return errno_error();
    }
    file = std::move(again);
    return {};
}

bool out_of_room(const std::error_code& error) {
    return error == std::errc::no_space_on_device || error == std::error_code(EDQUOT, std::generic_category());
}

std::error_code send_to_disk(int fd, ToDisk how, std::int64_t offset, std::int64_t size) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        return errno_error();
    }
    if (!S_ISREG(status.st_mode) && !S_ISBLK(status.st_mode)) {
        return {};
    }
    const auto sent = how == ToDisk::durable ? std::nullopt : write_back(fd, how == ToDisk::written, offset, size);
    // A start that cannot be made is no failure; a failed write is.
    if (how == ToDisk::started) {
        const std::error_code error = sent.value_or(std::error_code());
        return error == std::errc::io_error || out_of_room(error) ? error : std::error_code();
    }
    size_t unused = 0;
    return sent ? *sent : through_signals([&] { return ssize_t{::fdatasync(fd)}; }, unused);
}

std::optional<std::int64_t> free_space(int fd) {
    struct statvfs room {};
    if (::fstatvfs(fd, &room) != 0) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(room.f_bavail) * static_cast<std::int64_t>(room.f_frsize);
}

bool overwrite_fits(int fd, std::int64_t length) {
    // Data from the start to the input's length, without holes; the block
    // count may hold metadata too.
    struct stat status {};
    const auto data = next_data(fd, 0, length);
    return ::fstat(fd, &status) == 0 && status.st_size >= length &&
           static_cast<std::int64_t>(status.st_blocks) * 512 >= status.st_size &&
           (length == 0 || (data && data->start == 0 && data->end == length)) && rewritten_where_it_lies(fd);
}

std::error_code read_at(int fd, void* data, size_t size, std::int64_t offset, size_t& done) {
    return through_signals([&] { return offset < 0 ? ::read(fd, data, size) : ::pread(fd, data, size, offset); },
                           done);
}

std::error_code write_at(int fd, const void* data, size_t size, std::int64_t offset, size_t& done) {
    return through_signals(
        [&] { return offset < 0 ? ::write(fd, data, size) : ::pwrite(fd, data, size, offset); }, done);
}

std::error_code truncate_file(int fd, std::int64_t length) {
    return ::ftruncate(fd, length) == 0 ? std::error_code() : errno_error();
}

std::error_code close_file(int fd) {
    return ::close(fd) == 0 ? std::error_code() : errno_error();
}

}  // namespace bytemend
