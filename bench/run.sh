#!/usr/bin/env bash
# Times bytemend against the tool a user would otherwise reach for, on data it
# makes in a temporary folder, and prints one Markdown table. Medians come
# from hyperfine's timings; peak memory from GNU time. With --quick, smaller
# files; with --only TEXT, only the rows whose name holds TEXT, to time one
# again.
#
#   bench/run.sh [--quick] [--only TEXT]
#
# BENCH_DIR picks the parent of the temporary folder (default: /var/tmp, which
# is on disk where /tmp may be in memory).
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    echo "usage: bench/run.sh [--quick] [--only TEXT]" >&2
    exit 2
}
quick=false only=""
while [ $# -gt 0 ]; do
    case "$1" in
    --quick) quick=true ;;
    --only)
        [ $# -gt 1 ] || usage
        only=$2
        shift
        ;;
    *) usage ;;
    esac
    shift
done

if $quick; then
    big_mib=64 sparse_gib=1 xfs_mib=64 runs=8 small_runs=100
else
    big_mib=1024 sparse_gib=8 xfs_mib=1024 runs=20 small_runs=300
fi

# --- tools -------------------------------------------------------------------

install_missing() {  # install_missing command package ...
    local wanted=()
    while [ $# -gt 0 ]; do
        command -v "$1" >/dev/null || [ -x "/usr/sbin/$1" ] || wanted+=("$2")
        shift 2
    done
    [ ${#wanted[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
        echo "bench: please install ${wanted[*]}" >&2
        return 1
    fi
    echo "bench: installing ${wanted[*]}" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${wanted[@]}" >/dev/null ||
        { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${wanted[@]}" >/dev/null; }
}

install_missing g++ g++ cmake cmake ninja ninja-build hyperfine hyperfine /usr/bin/time time rsync rsync
# Only for the XFS row, which is skipped without it.
install_missing mkfs.xfs xfsprogs || true

echo "bench: building" >&2
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
bytemend="$PWD/build/bench/bytemend"

# --- scratch space -------------------------------------------------------------

work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/bytemend-bench.XXXXXX")
mnt="$work/xfs"
cleanup() {
    mountpoint -q "$mnt" 2>/dev/null && umount "$mnt"
    rm -rf "$work"
}
trap cleanup EXIT

# --- measuring -----------------------------------------------------------------

rows=()

# times_of json n: every time hyperfine took for its n-th command (1-based).
times_of() {
    awk -v n="$2" '/"times": \[/ { k++; inside = k == n; next }
                   inside && /\]/ { inside = 0 }
                   inside { gsub(/[ ,]/, ""); print }' "$1"
}

median() {
    sort -g "$1" | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

human_time() {
    awk -v s="$1" 'BEGIN {
        ms = s * 1000
        if (ms < 10) printf "%.2f ms", ms; else if (ms < 1000) printf "%.0f ms", ms; else printf "%.2f s", s
    }'
}

peak_memory() {  # peak_memory command...: peak resident set of one run
    /usr/bin/time -v "$@" 2>&1 >/dev/null |
        awk '/Maximum resident set size/ { printf "%.1f MiB", $NF / 1024 }'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# compare scenario runs warmup prepare ours baseline [notes]
#
# The runs are made in rounds that take turns at going first, so that a slow
# spell of the machine (writeback, memory reclaim in a virtual machine) falls
# on both commands alike rather than on whichever ran then. Leaves the
# baseline's median in baseline_median, empty for a row not run.
compare() {
    local scenario=$1 count=$2 warmup=$3 prepare=$4 ours=$5 baseline=$6 notes=${7-}
    local json="$work/times.json" rounds=4 round
    baseline_median=""
    [[ $scenario == *"$only"* ]] || return 0
    echo "bench: $scenario" >&2
    : >"$work/ours.times"
    : >"$work/baseline.times"
    for ((round = 0; round < rounds; round++)); do
        local order=(ours baseline) commands=("$ours" "$baseline")
        if ((round % 2)); then
            order=(baseline ours) commands=("$baseline" "$ours")
        fi
        # Its notes on outliers would bury the table; a failure shows them all.
        hyperfine -N --style none --runs $((count / rounds > 2 ? count / rounds : 2)) \
            --warmup "$warmup" --prepare "$prepare" --export-json "$json" "${commands[@]}" \
            >/dev/null 2>"$work/hyperfine.err" || { cat "$work/hyperfine.err" >&2; return 1; }
        times_of "$json" 1 >>"$work/${order[0]}.times"
        times_of "$json" 2 >>"$work/${order[1]}.times"
    done
    local a b
    a=$(median "$work/ours.times")
    b=$(median "$work/baseline.times")
    eval "$prepare"
    # shellcheck disable=SC2086  # the commands are plain words, as hyperfine -N takes them
    rows+=("| $scenario | $(human_time "$a") | $(human_time "$b") | $(ratio "$a" "$b") | $(peak_memory $ours) | $notes |")
    baseline_median=$b
}

size_label() {  # size_label mib
    if [ $(($1 % 1024)) -eq 0 ]; then echo "$(($1 / 1024)) GiB"; else echo "$1 MiB"; fi
}

kib_used() { du -k "$1" | cut -f1; }

# The space a copy takes of its own: its extents not shared with another file.
kib_unshared() {
    filefrag -v "$1" | awk -F: '
        /blocks of [0-9]+ bytes/ { match($0, /blocks of [0-9]+/); block = substr($0, RSTART + 10, RLENGTH - 10) }
        /^ *[0-9]+:/ && !/shared/ { blocks += $4 }
        END { print blocks * block / 1024 }'
}

# --- data ----------------------------------------------------------------------

echo "bench: making data in $work" >&2
head -c 4096 /dev/urandom >"$work/small.bin"
head -c "$((big_mib << 20))" /dev/urandom >"$work/big.bin"
printf 'Z' >"$work/byte.bin"
truncate -s "${sparse_gib}G" "$work/sparse.bin"
sparse_len=$((sparse_gib << 30))
for at in 0 $((sparse_len / 5)) $((sparse_len / 2)) $((sparse_len - (2 << 20))); do
    head -c $((2 << 20)) /dev/urandom | dd of="$work/sparse.bin" bs=1M seek=$((at >> 20)) conv=notrunc status=none
done
sync

mid=$(((big_mib << 20) / 2 + 3))
out="$work/out.bin"
fresh="sh -c 'rm -f $out $work/cp.bin; sync'"

# --- scenarios -----------------------------------------------------------------

compare "4 KiB copy, vs cp" "$small_runs" 20 "$fresh" \
    "$bytemend $work/small.bin $out 100 5a" "cp $work/small.bin $work/cp.bin"

# Each run replaces the output the last one left; cp truncates it and writes
# it again. The sync before each run leaves no writeback of the last one.
cp "$work/small.bin" "$out" && cp "$work/small.bin" "$work/cp.bin"
compare "4 KiB copy over an existing 4 KiB output, vs cp" "$small_runs" 20 "sync" \
    "$bytemend $work/small.bin $out 100 5a" "cp $work/small.bin $work/cp.bin"

compare "$(size_label $big_mib) copy, vs cp" "$runs" 1 "$fresh" \
    "$bytemend $work/big.bin $out $mid 5a" "cp $work/big.bin $work/cp.bin"

big_over="$(size_label $big_mib) copy over an existing $(size_label $big_mib) output"
cp "$work/big.bin" "$out" && cp "$work/big.bin" "$work/cp.bin" && cp "$work/big.bin" "$work/rsync.bin"
compare "$big_over, vs cp" "$runs" 1 "sync" \
    "$bytemend $work/big.bin $out $mid 5a" "cp $work/big.bin $work/cp.bin"
cp_over=$baseline_median

# rsync too writes a new file beside the old one and renames it over it, as
# bytemend does, though it waits for none of it to reach the disk. A local
# copy sends the whole file, without the delta algorithm: --whole-file only
# says so. --ignore-times copies even an output that looks up to date, as an
# output made within the same second as its input does.
compare "$big_over, vs rsync" "$runs" 1 "sync" \
    "$bytemend $work/big.bin $out $mid 5a" "rsync --whole-file --ignore-times $work/big.bin $work/rsync.bin"
if [ -n "$cp_over" ] && [ -n "$baseline_median" ]; then
    rows[-1]="${rows[-1]% |}rsync takes $(ratio "$baseline_median" "$cp_over") times cp's time (the row above) |"
fi

compare "$(size_label $big_mib) in place, vs dd conv=notrunc" "$small_runs" 20 "true" \
    "$bytemend $work/big.bin $work/big.bin $mid 5a" \
    "dd if=$work/byte.bin of=$work/big.bin bs=1 seek=$mid count=1 conv=notrunc status=none"

"$bytemend" "$work/sparse.bin" "$out" $((sparse_len / 3)) 5a >/dev/null
cp --sparse=auto "$work/sparse.bin" "$work/cp.bin"
sync
sparse_notes="allocated: bytemend $(kib_used "$out") KiB, cp $(kib_used "$work/cp.bin") KiB, input $(kib_used "$work/sparse.bin") KiB"
compare "$sparse_gib GiB sparse copy, vs cp --sparse=auto" "$runs" 1 "$fresh" \
    "$bytemend $work/sparse.bin $out $((sparse_len / 3)) 5a" \
    "cp --sparse=auto $work/sparse.bin $work/cp.bin" "$sparse_notes"

# The reflink rows need a file system that shares blocks: XFS on a loop device.
xfs_copy="$(size_label $xfs_mib) copy on XFS, vs cp --reflink=auto"
xfs_over="$(size_label $xfs_mib) copy over an existing $(size_label $xfs_mib) output on XFS, vs cp --reflink=auto"
xfs_skip=""
if [ "$(id -u)" -ne 0 ]; then
    xfs_skip="needs root to mount a loop device"
elif ! command -v mkfs.xfs >/dev/null && [ ! -x /usr/sbin/mkfs.xfs ]; then
    xfs_skip="mkfs.xfs (xfsprogs) is not installed"
else
    mkdir "$mnt"
    truncate -s $((xfs_mib * 3 + 512))M "$work/xfs.img"
    if ! error=$(mkfs.xfs -q -m reflink=1 "$work/xfs.img" 2>&1 && mount -o loop "$work/xfs.img" "$mnt" 2>&1); then
        xfs_skip="mounting a loop device failed (${error%%$'\n'*})"
    fi
fi
if [ -n "$xfs_skip" ]; then
    echo "bench: skipping the XFS reflink rows: $xfs_skip" >&2
    for scenario in "$xfs_copy" "$xfs_over"; do
        if [[ $scenario == *"$only"* ]]; then
            rows+=("| $scenario | skipped | skipped | | | $xfs_skip |")
        fi
    done
else
    head -c "$((xfs_mib << 20))" /dev/urandom >"$mnt/big.bin"
    sync
    xfs_mid=$(((xfs_mib << 20) / 2 + 3))
    "$bytemend" "$mnt/big.bin" "$mnt/out.bin" "$xfs_mid" 5a >/dev/null
    cp --reflink=auto "$mnt/big.bin" "$mnt/cp.bin"
    sync
    xfs_notes="extra space: bytemend $(kib_unshared "$mnt/out.bin") KiB, cp $(kib_unshared "$mnt/cp.bin") KiB"
    compare "$xfs_copy" "$small_runs" 5 "sh -c 'rm -f $mnt/out.bin $mnt/cp.bin; sync'" \
        "$bytemend $mnt/big.bin $mnt/out.bin $xfs_mid 5a" "cp --reflink=auto $mnt/big.bin $mnt/cp.bin" \
        "$xfs_notes"

    # Over the outputs just made: bytemend's replaces its own, cp's is
    # truncated, its shared blocks let go, and shared again.
    "$bytemend" "$mnt/big.bin" "$mnt/out.bin" "$xfs_mid" 5a >/dev/null
    cp --reflink=auto "$mnt/big.bin" "$mnt/cp.bin"
    sync
    xfs_notes="extra space: bytemend $(kib_unshared "$mnt/out.bin") KiB, cp $(kib_unshared "$mnt/cp.bin") KiB"
    compare "$xfs_over" "$small_runs" 5 "sync" \
        "$bytemend $mnt/big.bin $mnt/out.bin $xfs_mid 5a" "cp --reflink=auto $mnt/big.bin $mnt/cp.bin" \
        "$xfs_notes"
fi

# --- report --------------------------------------------------------------------

echo
echo "Machine: $(nproc) cores, $(uname -sr), $(df -T "$work" | awk 'NR == 2 { print $2 }') under $(dirname "$work"); page cache warm; $(cp --version | sed -n 1p); rsync $(rsync --version | awk 'NR == 1 { print $3 }'); timed with $(hyperfine --version)."
echo
echo "| Scenario | bytemend | baseline | ratio | bytemend peak memory | notes |"
echo "|---|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
