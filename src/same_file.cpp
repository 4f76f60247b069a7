#include "same_file.h"

namespace bytemend {

namespace {

// Two opens of one identity. The probe's "one" is sure; its "two" holds
// only where the states, taken from both in turn, show two files at rest.
// One state through both is one file, but a guess where the probe says "two".
Sameness one_identity(int a, int b) {
    const Probe probe = probe_one_file(a, b);
    if (probe == Probe::one) {
        return Sameness::one;
    }
    // Another program's lock leaves only a guess, where an identity may lie.
    if (probe == Probe::taken && (identity_may_lie(a) || identity_may_lie(b))) {
        return Sameness::locked;
    }
    const auto first_a = file_state(a);
    const auto first_b = file_state(b);
    const auto then_a = file_state(a);
    const auto then_b = file_state(b);
    if (!first_a || !first_b || !then_a || !then_b) {
        return Sameness::unknown;
    }
    if (*first_a == *first_b || *first_b == *then_a || *then_a == *then_b) {
        return probe == Probe::two ? Sameness::unknown : Sameness::one;
    }
    return probe == Probe::two && *first_a == *then_a && *first_b == *then_b ? Sameness::two : Sameness::unknown;
}

}  // namespace

Sameness one_or_two(const OpenFile& a, const OpenFile& b) {
    const bool same_id = a.id && b.id && *a.id == *b.id;
    // A loop device and its file, or two loop devices on one, are one file
    // that identity cannot see: the same stretch is one file, stretches
    // apart are two; any other overlap would shift or cut the data copied.
    if (S_ISBLK(a.status.st_mode) || S_ISBLK(b.status.st_mode)) {
        const auto in_a = window_of(a);
        const auto in_b = window_of(b);
        if (((in_a && !in_a->reached) || (in_b && !in_b->reached)) && !same_id) {
            return Sameness::unreached;
        }
        if (in_a && in_b && in_a->file == in_b->file) {
            const bool devices = S_ISBLK(a.status.st_mode) && S_ISBLK(b.status.st_mode);
            return in_a->offset == in_b->offset && in_a->length == in_b->length ? Sameness::one
                   : !in_a->overlaps(*in_b)                                     ? Sameness::two
                   : devices                                                    ? Sameness::overlapping
                                                                                : Sameness::shifted;
        }
    }
    return same_id ? one_identity(a.fd, b.fd) : Sameness::two;
}

}  // namespace bytemend
