#include "output.h"

#include <string>

#include "copy.h"
#include "same_file.h"
#include "say.h"
#include "standard_output.h"

namespace bytemend {

namespace {

// Opens an existing output without emptying it, so that the caller can
// first find out whether it is the input; or makes a new one.
std::error_code open_or_create(Output& output, mode_t mode) {
    std::error_code error = open_for_writing(output.path, output.existing);
    // An empty name names no file: a new file would be made in the current
    // folder and fail only once the whole copy was done.
    if (error == std::errc::no_such_file_or_directory && *output.path != '\0') {
        error = output.made.create(output.path, mode);
    }
    return error ? error : describe(output.existing ? output.existing.get() : output.made.fd(), output.opened);
}

// Makes the new file to replace an existing regular output, or leaves it to
// be overwritten where it lies; the error where its name no longer leads to
// the file opened (an editor's save moved it away).
std::error_code make_replacement(Output& output, const Input& input) {
    output.kind = Output::Kind::overwritten;
    if (!S_ISREG(output.opened.status.st_mode)) {
        return {};
    }
    // No room for a second copy: overwritten where it lies, where that
    // needs no new blocks; else a failed replacement leaves it whole.
    const auto room = free_space(output.existing.get());
    if (room && *room < input.length && overwrite_fits(output.existing.get(), input.length)) {
        return {};
    }
    OpenFile made;
    if (output.made.create(output.path, 0600)) {
        output.made.discard();
        return {};
    }
    // Held only to be read, where it can be: only a writer keeps it in place.
    reopen(output.existing, false);
    const std::error_code error = output.made.fit_to_replace(output.existing.get());
    if (error || describe(output.made.fd(), made)) {
        output.made.discard();
        return error == std::errc::file_exists || error == std::errc::no_such_file_or_directory ? error
                                                                                               : std::error_code();
    }
    output.opened = made;
    output.kind = Output::Kind::replaced;
    return {};
}

bool cannot_open(const char* path, const std::error_code& error) {
    say("Failed to open/create %s.\n", shown(path).c_str());
    say_why("open or create " + quoted(path), error);
    return false;
}

// Holds the old file to be written where it lies (a running program refuses).
std::error_code writable(Output& output) {
    const std::error_code error = reopen(output.existing, true);
    output.opened.fd = output.existing.get();
    return error;
}

// Gives up a replacement that found no room for an overwrite where the old
// file lies, only where that needs no new blocks: else it would stop midway.
bool overwrite_instead(Output& output, const Input& input, const std::error_code& no_room) {
    output.made.discard();
    if (!overwrite_fits(output.existing.get(), input.length)) {
        say("Failed to write %s: %s; a copy beside it needs up to %lld bytes, and it was left as it was.\n",
            shown(output.path).c_str(), no_room.message().c_str(), static_cast<long long>(input.length));
        return false;
    }
    if (writable(output) || describe(output.existing.get(), output.opened)) {
        return say_failed("write", output.path, no_room);
    }
    output.kind = Output::Kind::overwritten;
    return true;
}

}  // namespace

bool open_output(Output& output, const char* path, const Input& input) {
    output.path = path;
    // Permission bits only, as cp does: set-user-ID and the like are not
    // handed on to a copy, and open() takes the umask off.
    if (const auto error = open_or_create(output, input.opened.status.st_mode & 0777)) {
        return cannot_open(path, error);
    }
    // A road to standard output or error that only the open file shows.
    if (!check_standard_output("write", path, output.opened)) {
        return false;
    }
    // A file made by this run is no other file, whatever a device shows.
    // The input's name reaching an existing output that is another file: the
    // input was replaced meanwhile (an editor's save).
    const Sameness seen = one_or_two(input.opened, output.opened);
    const Sameness same = !output.existing && seen == Sameness::unreached ? Sameness::two : seen;
    const bool replaced = output.existing && same == Sameness::two && output.opened.id &&
                          output.opened.id != input.opened.id && target_id(input.path) == output.opened.id;
    if (!replaced && (same == Sameness::one || same == Sameness::two)) {
        output.kind = !output.existing ? Output::Kind::made : Output::Kind::same_as_input;
        if (const auto error = output.existing && same == Sameness::two ? make_replacement(output, input)
                                                                        : std::error_code()) {
            return say_failed("replace", path, error);
        }
        const bool in_place = output.kind == Output::Kind::overwritten || output.kind == Output::Kind::same_as_input;
        const auto error = in_place ? writable(output) : std::error_code();
        return !error || cannot_open(path, error);
    }
    const std::string from = shown(input.path);
    const std::string to = shown(path);
    if (replaced) {
        say("Cannot copy %s to %s: %s was replaced meanwhile; nothing was written.\n", from.c_str(),
            to.c_str(), from.c_str());
    } else if (same == Sameness::unknown || same == Sameness::unreached || same == Sameness::locked) {
        say("Cannot tell whether %s and %s are one file or two: %s; nothing was written.\n", from.c_str(), to.c_str(),
            same == Sameness::unknown  ? "they show one identity"
            : same == Sameness::locked ? "they show one identity, and another program holds a lock on it"
                                   : "a loop device stands on a device that cannot be opened");
    } else {
        say("Cannot copy %s to %s: %s.\n", from.c_str(), to.c_str(),
            same == Sameness::shifted
                ? "one is a loop device on the other, which it does not show byte for byte"
                : "they show overlapping stretches of one file");
    }
    return false;
}

bool write_output(const Input& input, Output& output, std::int64_t location, unsigned char byte) {
    if (output.kind == Output::Kind::same_as_input) {
        return say_stop(output, patch_in_place(input, output, location, byte), location);
    }
    Stop stop = copy_patched(input, output, location, byte);
    if (output.kind == Output::Kind::replaced && stop.why == Stop::Why::write && out_of_room(stop.error)) {
        if (!overwrite_instead(output, input, stop.error)) {
            return false;
        }
        stop = copy_patched(input, output, location, byte);
    }
    return say_stop(output, stop, location);
}

bool close_output(Output& output) {
    if (output.kind == Output::Kind::made) {
        if (const auto error = output.made.keep()) {
            return say_failed("create", output.path, error);
        }
        const auto error = output.made.close();
        return !error || say_failed("close", output.path, error);
    }
    if (output.kind == Output::Kind::replaced) {
        const auto error = output.made.replace(output.existing);
        if (error == std::errc::text_file_busy) {
            say("Failed to replace %s: another program opened it meanwhile; it was left as it was.\n",
                shown(output.path).c_str());
            return false;
        }
        return !error || say_failed("replace", output.path, error);
    }
    // Overwritten where it lies: made durable, or a power loss would leave
    // a mix. A patch in place is one byte, old or new either way: its
    // writeback is only started.
    if (const auto error = send_to_disk(output.existing.get(),
                                        output.kind == Output::Kind::overwritten ? ToDisk::durable : ToDisk::started)) {
        return say_failed("write", output.path, error);
    }
    const auto closed = output.existing.close();
    return !closed || say_failed("close", output.path, closed);
}

}  // namespace bytemend
