#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <system_error>

#include "file.h"
#include "file_system.h"

namespace bytemend {

// A new file's whole life where `path` leads: made with no name where the
// system can, else under a temporary name; kept under `path` once complete
// (never over a file that took the name meanwhile), or put in the place of
// the file there in one step; else discarded, so that a failed or killed
// run leaves nothing. Never moved: one owner from start to end.
class NewFile {
public:
    NewFile() = default;
    NewFile(NewFile&&) = delete;
    NewFile& operator=(NewFile&&) = delete;
    ~NewFile() { discard(); }

    // Makes it, with the permissions in `mode`.
    std::error_code create(const char* path, mode_t mode);

    [[nodiscard]] int fd() const { return file_.get(); }

    // Names it; nothing named where that fails (EEXIST: the name was taken).
    std::error_code keep();

    // Checks that `old`, the file at its name, may be replaced, and gives
    // this one its owner and group, permission bits, extended attributes
    // (ACLs, labels, capabilities) and flags (NOCOW); else the error: a
    // reason of why_not_replace, or what a replacement would lose. Called
    // again after the copy, which takes capabilities away.
    std::error_code fit_to_replace(int old);

    // Puts it, complete, in `old`'s place in one step, its data on the disk
    // first so that a power loss leaves one file or the other; fitted again,
    // and `old` closed. A program that opens `old` to write it meanwhile,
    // where the system can tell, has the names swapped back (ETXTBSY): it
    // writes the file the name holds. Discarded, `old` untouched, on failure.
    std::error_code replace(File& old);

    // Closes it once kept. A failed close means its data cannot be trusted:
    // it is then removed again, if its name still stands for it.
    std::error_code close();

    // Removes whatever this run made and did not keep.
    void discard();

private:
    // replace()'s two steps that differ between systems, around the close:
    // its data on the disk, fitted again, and a name of its own; then
    // renamed over `old`, held as long as that needs.
    std::error_code ready_to_replace(int old);
    std::error_code take_the_place(File& old);

    // Why `old` is better overwritten where it lies than replaced: the first
    // of the reasons doc/behaviour.md gives, besides what fit_to_replace
    // cannot carry. `again` just before the rename.
    [[nodiscard]] std::error_code why_not_replace(int old, bool again) const;

    // What `path` (its name or temporary one) names in its folder, unfollowed.
    [[nodiscard]] std::optional<FileId> id_at(const std::string& path) const;
    void remove_at(const std::string& path) const;

    // Whether its name still holds the file it is to replace: EEXIST where
    // another file took the name, ENOENT where none has.
    [[nodiscard]] std::error_code still_there() const;

    // `.bytemend-<random>.tmp`: no other user can foresee it, as mkstemp's.
    static std::string temporary_name();

    // Makes it with `make(name)` under the first free temporary name.
    template <typename Make>
    std::error_code temporarily(Make make);

    // none: nothing to discard (closed, or never made); unnamed: it goes with
    // its descriptor; kept: under its own name for good.
    enum class State { none, unnamed, temporary, kept };

    File file_;
    File folder_;            // POSIX: where it is made, kept and renamed
    std::string typed_;      // POSIX: its name as typed, which may lead to path_ through links
    std::string path_;       // where it is kept
    std::string temporary_;  // its name until then, if it has one
    std::optional<FileId> id_;  // to tell it from any other file at its names
    std::optional<FileId> replaces_;  // the file it is to take the place of
    mode_t mode_ = 0;           // permissions that Windows can give only when kept
    bool marked_ = false;       // Windows: to be deleted as it closes
    State state_ = State::none;
};

}  // namespace bytemend
