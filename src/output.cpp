#include "output.h"

#include <unistd.h>

#include <string>
#include <utility>

#include "fast_copy.h"
#include "say.h"
#include "standard_output.h"

namespace bytemend {

namespace {

// Opens an existing output without emptying it, so that the caller can
// first find out whether it is the input; or makes a new one.
std::error_code open_or_create(Output& output, mode_t mode) {
    std::error_code error;
    output.existing = open_for_writing(output.path, error);
    // An empty name names no file, in the system's words; a new file would
    // be made in the current folder and fail only once the whole copy was
    // done.
    if (error != std::errc::no_such_file_or_directory || *output.path == '\0') {
        return error;
    }
    return output.made.create(output.path, mode);
}

// How the output stands to the input. A loop device and its backing file,
// or two loop devices on one file, are one file that identity cannot see:
// the same stretch is one file; stretches apart are two; any other overlap
// would shift or cut the data as it was copied.
enum class Road {
    apart,        // two files, or stretches of one that do not overlap
    same,         // one file, or one stretch of it
    shifted,      // a loop device on the other, not showing it byte for byte
    overlapping,  // two devices on stretches of one file that overlap
    unknown,      // one identity, and nothing to tell one file from two
    locked,       // one identity, and another program's lock in the way
    unreached,    // a loop device on a device that cannot be followed
    replaced,     // two files, the input's name now the output's
};

// Two opens of one identity. The probe's "one" is sure, whatever another
// program does meanwhile. Its "two" holds only where the states, taken from
// both in turn, show two files at rest. One state through both is one file
// where the probe cannot be asked; where it says "two", it may be two files
// written in one tick to one size: nothing to go by.
Road one_or_two(int in, int out) {
    const Probe probe = probe_one_file(in, out);
    if (probe == Probe::one) {
        return Road::same;
    }
    // Another program's lock in the way of the probe leaves only a guess,
    // where an identity may stand for two files.
    if (probe == Probe::taken && (identity_may_lie(in) || identity_may_lie(out))) {
        return Road::locked;
    }
    const auto first_in = file_state(in);
    const auto first_out = file_state(out);
    const auto then_in = file_state(in);
    const auto then_out = file_state(out);
    if (!first_in || !first_out || !then_in || !then_out) {
        return Road::unknown;
    }
    if (*first_in == *first_out || *first_out == *then_in || *then_in == *then_out) {
        return probe == Probe::two ? Road::unknown : Road::same;
    }
    if (probe == Probe::two && *first_in == *then_in && *first_out == *then_out) {
        return Road::apart;
    }
    return Road::unknown;
}

Road road_between(const Input& input, const Output& output) {
    const bool same_id = input.id && output.id && *input.id == *output.id;
    if (S_ISBLK(input.status.st_mode) || S_ISBLK(output.status.st_mode)) {
        const auto in = window_of(input.file.get(), input.status, input.id);
        const auto out = window_of(output.fd(), output.status, output.id);
        // Beneath a device that cannot be followed may lie the other file:
        // a copy is safe only to a file this run made, or onto one device.
        if (((in && !in->reached) || (out && !out->reached)) && output.existing && !same_id) {
            return Road::unreached;
        }
        if (in && out && in->file == out->file) {
            if (in->offset == out->offset && in->length == out->length) {
                return Road::same;
            }
            if (!in->overlaps(*out)) {
                return Road::apart;
            }
            return S_ISBLK(input.status.st_mode) && S_ISBLK(output.status.st_mode) ? Road::overlapping
                                                                                   : Road::shifted;
        }
    }
    if (!same_id) {
        // The input's name reaching the output means the input was replaced
        // meanwhile (an editor's save), and a copy would overwrite the new.
        return output.existing && output.id && target_id(input.path) == output.id
                   ? Road::replaced
                   : Road::apart;
    }
    return one_or_two(input.file.get(), output.fd());
}

// Makes the new file that is to replace an existing regular output, beside
// it, with everything the user has of the old one; false where that cannot
// be done without losing something, and the old one is to be overwritten
// where it lies instead. A run that worked that way before still does.
bool make_replacement(Output& output, const Input& input) {
    if (!S_ISREG(output.status.st_mode)) {
        return false;
    }
    // No room for a second copy as long as the input: overwritten where it
    // lies, where that needs no more room than the old file has; else the
    // replacement is tried, and a failure leaves the old file whole.
    const auto room = free_space(output.existing.get());
    if (room && *room < input.length && overwrite_fits(output.existing.get(), input.length)) {
        return false;
    }
    struct stat status {};
    if (output.made.create(output.path, 0600) || output.made.take_over(output.existing.get()) ||
        ::fstat(output.made.fd(), &status) != 0) {
        output.made.discard();
        return false;
    }
    output.status = status;
    return true;
}

}  // namespace

std::optional<Output> open_output(const char* path, const Input& input) {
    Output output;
    output.path = path;
    // Permission bits only, as cp does: set-user-ID and the like are not
    // handed on to a copy, and open() takes the umask off.
    std::error_code error = open_or_create(output, input.status.st_mode & 0777);
    if (!error && ::fstat(output.fd(), &output.status) != 0) {
        error = errno_error();
    }
    if (error) {
        say("Failed to open/create %s.\n", shown(path).c_str());
        say_why("open or create " + quoted(path), error);
        return std::nullopt;
    }
    // Decided on the open files, not their names, so that a hard link, a
    // symlink or another spelling of the path is recognised.
    output.id = file_id(output.fd());
    // The names were checked before the report; this catches a road to
    // standard output that only the open file shows.
    if (!check_standard_output("write", path, output.fd(), output.status, output.id)) {
        return std::nullopt;
    }
    const Road road = road_between(input, output);
    if (road == Road::same || road == Road::apart) {
        output.kind = !output.existing            ? Output::Kind::made
                      : road == Road::same         ? Output::Kind::same_as_input
                      : make_replacement(output, input) ? Output::Kind::replaced
                                                   : Output::Kind::existing;
        return output;
    }
    const std::string from = shown(input.path);
    const std::string to = shown(path);
    if (road == Road::replaced) {
        say("Cannot copy %s to %s: %s was replaced meanwhile; nothing was written.\n", from.c_str(),
            to.c_str(), from.c_str());
    } else if (road == Road::unknown || road == Road::unreached || road == Road::locked) {
        say("Cannot tell whether %s and %s are one file or two: %s; nothing was written.\n",
            from.c_str(), to.c_str(),
            road == Road::unknown  ? "they show one identity"
            : road == Road::locked ? "they show one identity, and another program holds a lock on it"
                                   : "a loop device stands on a device that cannot be opened");
    } else {
        say("Cannot copy %s to %s: %s.\n", from.c_str(), to.c_str(),
            road == Road::shifted
                ? "one is a loop device on the other, which it does not show byte for byte"
                : "they show overlapping stretches of one file");
    }
    return std::nullopt;
}

bool overwrite_instead(Output& output, const Input& input) {
    const std::error_code no_room = std::exchange(output.no_room, {});
    output.made.discard();
    if (!overwrite_fits(output.existing.get(), input.length) || ::fstat(output.existing.get(), &output.status) != 0) {
        return say_failed("write", output.path, no_room);
    }
    output.kind = Output::Kind::existing;
    return true;
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
        // A reader or a loop device that opened it meanwhile would be cut off.
        if (error == std::errc::text_file_busy) {
            say("Failed to replace %s: another program opened it meanwhile; it was left as it was.\n",
                shown(output.path).c_str());
            return false;
        }
        return !error || say_failed("replace", output.path, error);
    }
    // Overwritten where it lies: made durable now, or a power loss would
    // leave a mix of old and new. The patch in place is one byte, which is
    // old or new either way: its writeback is only started.
    const auto error = output.kind == Output::Kind::existing ? make_durable(output.existing.get())
                                                             : start_writeback(output.existing.get());
    if (error) {
        return say_failed("write", output.path, error);
    }
    const auto closed = output.existing.close();
    return !closed || say_failed("close", output.path, closed);
}

}  // namespace bytemend
