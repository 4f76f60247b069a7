#pragma once

#include <sys/types.h>

#include <array>
#include <optional>
#include <utility>

#include "file.h"
#include "files.h"

namespace bytemend {

// A new file's whole life, in the folder where `path` would be: made with no
// name where the system can (Linux's O_TMPFILE), else under a temporary name
// of its own; kept under `path` once complete, never in place of a file that
// took that name meanwhile; discarded when it goes unkept, so that a run that
// fails or is killed leaves nothing under `path`. Where `path` is a dangling
// symlink, the file goes where the link points. Making and keeping it are
// each system's own, in its platform file.
class NewFile {
public:
    NewFile() = default;
    NewFile(NewFile&& other) noexcept
        : file_(std::move(other.file_)), path_(other.path_), temporary_(other.temporary_),
          id_(other.id_), mode_(other.mode_), marked_(other.marked_),
          state_(std::exchange(other.state_, State::none)) {}
    NewFile& operator=(NewFile&&) = delete;
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;
    ~NewFile() { discard(); }

    // Makes the file, with the permissions in `mode`; false, with errno set,
    // where it cannot be made there.
    bool create(const char* path, mode_t mode);

    [[nodiscard]] int fd() const { return file_.get(); }

    // Gives it its name; false, with errno set (EEXIST where the name was
    // taken meanwhile), and nothing named, where that fails.
    bool keep();

    // Closes it. A failed close means its data cannot be trusted: a kept
    // file is then removed again, if its name still stands for it.
    bool close();

private:
    enum class State {
        none,       // nothing to discard: moved from, closed, or never made
        unnamed,    // no name at all; it goes with its descriptor
        temporary,  // under its temporary name
        kept,       // under its own name, for good
    };

    // Takes `path` as where the file is to be kept; false, with errno set,
    // for a name too long for it.
    bool take_path(const char* path);

    // Removes whatever this run made and did not keep.
    void discard();

    File file_;
    std::array<char, name_room> path_{};       // where it is kept
    std::array<char, name_room> temporary_{};  // its name until then, if it has one
    std::optional<FileId> id_;                 // to tell it from any other file at its names
    mode_t mode_ = 0;                          // permissions that Windows can give only when kept
    bool marked_ = false;                      // Windows: to be deleted as it closes
    State state_ = State::none;
};

// The POSIX systems' ways to make a new file, on which their NewFile is
// built; Linux has each of them and the others may not. Windows makes its
// files its own way.

// Opens a new file with no name yet, for reading and writing, in the folder
// where `path` would be, so that a run that dies midway leaves nothing
// behind. A closed File where the system or the file system cannot.
File open_unnamed(const char* path, mode_t mode);

// Gives the file from open_unnamed its name; fails if the name is taken.
bool give_name(int fd, const char* path);

// Renames `from` to `to` unless `to` exists (EEXIST); EINVAL where the
// system or the file system cannot rename that way.
bool rename_exclusive(const char* from, const char* to);

}  // namespace bytemend
