#!/usr/bin/env bash
# Makes one step of a run fail at a time, for real where that can be arranged
# (a full file system, the file size limit, a kill) and otherwise by having
# strace make the system call return an error, and checks what a user is
# left with: the exit status, the lines printed, the input, and the output.
#
#   tests/faults.sh [--road ROAD] path/to/bytemend [emulator and its arguments]
#   tests/faults.sh --roads
#   tests/faults.sh --table [--check | --update] doc/reliability.md
#
# --road runs that road's rows alone, as CTest does, one test a road, and
# --roads lists the roads, each with its CTest labels. Exits 77 (skipped)
# where strace is missing or tracing is not allowed, for a command that
# runs under an emulator, and where every row it ran skipped itself. --table prints the rows below as
# the Markdown tables of the reliability document, and checks or updates the
# document's copy, which lies between its two "faults.sh --table" comments.
# shellcheck disable=SC2317  # the roads, runs and checks are called by name
set -uo pipefail

# The sizes, each named once. The input is four buffer-loads and 7 bytes,
# not a whole number of 512-byte sectors, with a hole of one buffer-load
# from its middle; old.bin, written in full, is twice as long.
at=1000 value=41              # the patch: byte 1000 becomes 'A'
chunk=262144                  # the command's buffer
length=$((4 * chunk + 7))     # the input
sectors=$((4 * chunk))        # the input cut to whole sectors
middle=$((2 * chunk))         # where the hole starts; also a shorter output, a cut loop device
old_length=$((2 * sectors))
loop_offset=4096
small_fs=512k                 # the full file system
limit_kib=256                 # the file size limit, in KiB
meanwhile_after=0.75          # s into a run, when another program acts: the run is held 2 s
cut_to=500                    # in.bin as another program cuts it, short of the patch
crash_sets=15                 # the sets of files run in turn, a power loss during each
report="Hexintval = $((16#$value)) . Adress = $at . "
# The inner shells of the mount namespaces see them too.
export at value small_fs

# The tables below, their columns padded for the eye, as the script reads
# them: no blanks around a column, none at a line's end, no empty lines.
unpadded() {
    sed -E 's/[[:space:]]*\|[[:space:]]*/|/g; s/[[:space:]]+$//; /^$/d'
}

# about [--mounts] what: the road's line in the reliability document, and
# whether it mounts a file system, sets up a loop device or makes a mount
# namespace (CTest's label "mounts"); false where only that is asked.
about() {
    mounts=""
    if [ "$1" = --mounts ]; then mounts=1; shift; fi
    what=$1
    [ -z "${describing-}" ]
}

# The roads, in the order their functions are defined.
roads() {
    local road
    shopt -s extdebug
    for road in $(compgen -A function road_); do declare -F "$road"; done | sort -k2n | cut -d' ' -f1 | sed 's/^road_//'
    shopt -u extdebug
}

# nth_call trace name which: the place among the calls of that name of the
# first one that "which" picks, as strace's when= counts them.
nth_call() {
    local after="" target=$3
    if [[ $3 == *" >> "* ]]; then after=${3%% >> *} target=${3#* >> }; fi
    awk -v call="$2(" -v after="$after" -v target="$target" '
        index($0, call) == 1 { n++; if ((after == "" || seen) && $0 ~ target) { print n; exit } }
        after != "" && $0 ~ after { seen = 1 }' "$1"
}

# The KiB of a file's extents that it shares with no other file.
kib_unshared() {
    filefrag -v "$1" | awk -F: '
        /blocks of [0-9]+ bytes/ { match($0, /blocks of [0-9]+/); block = substr($0, RSTART + 10, RLENGTH - 10) }
        /^ *[0-9]+:/ && !/shared/ { blocks += $4 }
        END { print blocks * block / 1024 }'
}

# What a replaced file must keep of the old one: owner, group,
# permissions, extended attributes.
extras() { stat -c '%u:%g %a' "$1"; getfattr -d -m - "$1" 2>/dev/null; lsattr -d "$1" 2>/dev/null | cut -d' ' -f1; }

# The files as each run must find them: the input whole, no output; then
# the road's own, and its settings, from the defaults: a run as its row
# says, which leaves the input unchanged.
fresh_files() {
    rm -f in.bin out.bin old.bin old.bin~ old-before.bin prog.bin old-link.bin link.bin before.bin mounted.bin theirs.bin "view 1.bin" locked .bytemend-*
    cp original.bin in.bin
    [ ! -d a ] || chattr -a a
    rm -rf d d.moved other a pub victim
    setfacl -k . 2>/dev/null
    old_inode="" input=in.bin output=out.bin strace_setup=() meanwhile="" temp_kept="" hide_table=""
    runs() { traced_run; }
    checks() { input_kept; }
    "road_$mode"
}

# mount_image fs [options]: a new file system of that type, on a loop
# device, on mnt, its image at $image.
image=fs.img crash_jobs=""
mount_image() {
    truncate -s 512M "$image"
    mkdir -p mnt
    # shellcheck disable=SC2086  # the options are words
    { "mkfs.$1" -q ${mkfs_options-} "$image" && mount -o "loop${2:+,$2}" "$image" mnt; } >/dev/null 2>&1 && return
    rm -f "$image"
    skip "cannot mount $1 on a loop device here (needs root and mkfs.$1)"
    return 1
}

# mount_host: an XFS on a loop device, on host, for the image to lie on: a
# clone of it there (cp --reflink), taken while it is mounted, is its disk
# as a power loss at that instant would leave it.
mount_host() {
    truncate -s 2G host.img
    mkdir -p host
    if { mkfs.xfs -q host.img && mount -o loop host.img host && echo probe >host/probe &&
        cp --reflink=always host/probe host/clone; } >/dev/null 2>&1; then
        image=host/fs.img
        return
    fi
    if mountpoint -q host; then umount host; fi
    rm -f host.img
    skip "cannot clone files on an XFS on a loop device here (needs root, mkfs.xfs and reflinks)"
    return 1
}

unmount_image() {
    # The crash rows' runs and other program, still at work there.
    local job
    for job in $crash_jobs; do kill "$job" 2>/dev/null && wait "$job"; done
    crash_jobs=""
    if mountpoint -q mnt; then umount mnt; fi
    if mountpoint -q host; then umount host; fi
    rm -f fs.img host.img
    image=fs.img
}

# image_files fs: that file system on mnt, once a row, and in.bin there.
image_files() {
    mountpoint -q mnt || mount_image "$1" || return
    rm -f mnt/*.bin mnt/.bytemend-*
    cp original.bin mnt/in.bin
    input=mnt/in.bin output=mnt/old.bin
}

# image_old_checks: mnt/old.bin replaced by the patched copy, or as it was.
image_old_checks() {
    if [ "$want" = 0 ]; then
        cmp -s mnt/old.bin expected.bin || fail "old.bin is not the patched copy"
        [ "$(stat -c %i mnt/old.bin)" != "$old_inode" ] || fail "old.bin was overwritten where it lies, not replaced"
    else
        cmp -s mnt/old.bin old-original.bin || fail "old.bin changed though the copy failed ($(stat -c %s mnt/old.bin) bytes)"
    fi
}

# noroom_mount fs: old.bin on that file system on mnt; noroom_fill KiB: the
# file system full, then that much room again, once it has counted it.
noroom_mount() {
    mountpoint -q mnt || mount_image "$1" || return
    rm -f mnt/*.bin mnt/.bytemend-* mnt/filler mnt/filler-blocks
    cp old-original.bin mnt/old.bin
    output=mnt/old.bin
}
noroom_fill() {
    cp mnt/old.bin old-before.bin
    sync && { dd if=/dev/zero of=mnt/filler bs=64k status=none 2>/dev/null; sync; } &&
        { dd if=/dev/zero of=mnt/filler-blocks bs=1k status=none 2>/dev/null; sync; } &&
        truncate -s "-$1K" mnt/filler && sync && sleep 1 && sync
    runs() {
        plain_run
        cmp -s mnt/old.bin old-before.bin || fail "old.bin changed ($(cmp mnt/old.bin old-before.bin 2>&1 | head -1))"
    }
}

# crash_files sets: the crash rows' inputs on mnt, in.bin and tail.bin (in.bin
# and 1 MiB of hole), and that many sets of the files to be overwritten and
# patched in place, all on the disk; beside them, what each should become.
crash_files() {
    local set
    cp original.bin mnt/in.bin
    cp original.bin tail-original.bin
    truncate -s +1M tail-original.bin
    cp tail-original.bin mnt/tail.bin
    cp expected.bin tail-expected.bin
    truncate -s +1M tail-expected.bin
    head -c $middle old-original.bin >short-original.bin
    for set in $(seq "$1"); do
        : >"mnt/old-$set.bin"
        : >"mnt/short-$set.bin"
        # NOCOW while still empty, as Btrfs asks.
        [ "$fs" != btrfs ] || chattr +C "mnt/old-$set.bin" "mnt/short-$set.bin"
        cat old-original.bin >>"mnt/old-$set.bin"
        cat short-original.bin >>"mnt/short-$set.bin"
        cp original.bin "mnt/self-$set.bin"
    done
    sync
}

# crash_runs set: that set's runs, to new outputs, over the old ones, and in
# place; the first's status and lines kept for the checks after the table,
# any other's failure in listing.
crash_runs() {
    local pair
    "$exe" mnt/tail.bin "mnt/out-tail-$1.bin" $at $value >stdout 2>stderr
    echo $? >status
    for pair in in:out-$1 in:old-$1 in:short-$1 self-$1:self-$1; do
        "$exe" "mnt/${pair%:*}.bin" "mnt/${pair#*:}.bin" $at $value >/dev/null 2>&1 ||
            echo "could not write ${pair#*:}.bin" >>listing
    done
}

# crash_check sets: the files on mnt as a power loss left them; what is
# wrong printed, and false. The inputs unchanged; a new output missing, or
# its copy or a start of it, never its length of anything else; an existing
# one its old file or the new copy, whole; a patch in place the old byte or
# the new one, the rest unchanged.
crash_check() {
    local set file copy size wrong=""
    cmp -s mnt/in.bin original.bin && cmp -s mnt/tail.bin tail-original.bin || wrong+=" an input changed;"
    for set in $(seq "$1"); do
        for file in out-$set:expected out-tail-$set:tail-expected; do
            copy=${file#*:}.bin file=${file%:*}.bin
            size=$(stat -c %s "mnt/$file" 2>/dev/null) || continue
            [ "$size" -le "$(stat -c %s "$copy")" ] && cmp -s -n "$size" "mnt/$file" "$copy" ||
                wrong+=" $file is not the copy or a start of it ($size bytes);"
        done
        for file in old-$set:old-original short-$set:short-original self-$set:original; do
            copy=${file#*:}.bin file=${file%:*}.bin
            cmp -s "mnt/$file" "$copy" || cmp -s "mnt/$file" expected.bin ||
                wrong+=" $file is neither what it was nor the copy ($(stat -c '%s bytes' "mnt/$file" 2>/dev/null || echo missing));"
        done
    done
    [ -z "$wrong" ] || { echo "${wrong%;}"; return 1; }
}

# crash_run fs mount-options sets [losses]: a power loss, and the image
# mounted again: right after Done, made by shutting the file system down as
# one leaves it (ext4, XFS), or by cloning its image; with no losses given,
# by cloning it at random instants.
crash_run() {
    local losses=("${@:4}") sets=$3 set how states again pid wrong first
    fs=$1
    if [ "${losses[0]-}" = "shutdown -f" ] && ! command -v xfs_io >/dev/null; then
        skip "needs xfs_io, to shut a file system down"
        return 1
    fi
    if [ "${losses[0]-}" != "shutdown -f" ]; then mount_host || return; fi
    # How each state is mounted. Another test's mount namespace (unshare
    # -m), made while a file system was mounted here, keeps it alive
    # past umount, and XFS refuses a second with its UUID, which every
    # state of the image has: nouuid, or a state would fail to mount for
    # no fault of the run's.
    again=loop
    [ "$fs" != xfs ] || again+=,nouuid
    mount_image "$fs" "$2" || return
    crash_files "$sets"
    # Each power loss after Done on files of its own, then all checked.
    for set in $(seq ${#losses[@]}); do
        crash_runs "$set"
        how=${losses[set - 1]} states=$image
        if [ "$how" = clone ]; then
            cp --reflink=always "$image" host/state.img || fail "cannot clone the image"
            states=host/state.img
        elif ! error=$(xfs_io -x -c "$how" mnt 2>&1); then
            skip "cannot shut $fs down here: $error"
            return 1
        fi
        if ! error=$({ umount mnt && mount -o "$again" "$states" mnt; } 2>&1); then
            fail "cannot mount the image again after the power loss ($how): $error"
            return 1
        fi
        problems=$(crash_check "$set") || fail "after the power loss ($how):$problems"
    done
    if [ ${#losses[@]} -eq 0 ]; then
        # Another program, committing the journal now and then (ext4 and
        # XFS commit all they hold for one fsync).
        rm -f stop
        for _ in $(seq 60); do
            [ -e stop ] && break
            sleep "0.$(printf %03d $((RANDOM % 1000)))"
            echo more >>mnt/other.txt && sync mnt/other.txt
        done &
        crash_jobs=$!
        # A power loss at a random instant of each set's runs, or soon after.
        for set in $(seq "$sets"); do
            crash_runs "$set" &
            pid=$!
            crash_jobs+=" $pid"
            sleep "0.$(printf %03d $((RANDOM % 200)))"
            cp --reflink=always "$image" "host/state-$set.img" || fail "cannot clone the image"
            wait $pid
            crash_jobs=${crash_jobs% *}
        done
        : >stop
        wait "$crash_jobs"
        crash_jobs=""
        umount mnt
        wrong=0 first=""
        for set in $(seq "$sets"); do
            if ! error=$(mount -o "$again" "host/state-$set.img" mnt 2>&1); then
                problems=" it cannot be mounted: $error"
            elif problems=$(crash_check "$sets"); then
                problems=""
            fi
            [ -z "$problems" ] || { wrong=$((wrong + 1)) first=${first:-"the first, at set $set:$problems"}; }
            if mountpoint -q mnt; then umount mnt; fi
            rm "host/state-$set.img"
        done
        [ $wrong -eq 0 ] || fail "$wrong of $sets power losses left files wrong, $first"
    fi
    [ ! -s listing ] || fail "$(cat listing)"
    status=$(cat status)
}

# attach losetup's arguments: one more loop device, put first in devices,
# the order they must be detached in.
attach() {
    device=$(losetup -f --show "$@" 2>/dev/null) && devices=("$device" "${devices[@]}")
}

# loop_files [length]: in.bin cut to whole sectors, as a loop device holds
# them, or to that length; a loop run leaves it as it was.
loop_files() {
    truncate -s "${1-$sectors}" in.bin
    checks() { cmp -s in.bin before.bin || fail "in.bin changed"; }
}

# loop_attach losetup's arguments: in.bin kept as before.bin, and the first
# loop device; loop_skip: those set up detached, and the row skipped.
loop_attach() {
    cp in.bin before.bin
    devices=()
    attach "$@" || loop_skip
}
loop_skip() {
    [ ${#devices[@]} -eq 0 ] || losetup -d "${devices[@]}"
    skip "${1:-cannot set up a loop device here (needs root and losetup)}"
    return 1
}

# loop_exec input output: the run, then the loop devices detached, and DEV
# in the row's last line the device.
loop_exec() {
    "$exe" "$1" "$2" $at $value >stdout 2>stderr
    status=$?
    losetup -d "${devices[@]}"
    last=${last//DEV/$device}
}

# apart_checks length [from]: in.bin's bytes from byte `from` (length by
# default) are its first `length` bytes, patched.
apart_checks() {
    local from=${2-$1}
    head -c "$1" before.bin >half.bin && patch_byte half.bin
    cmp -s in.bin <(head -c "$from" before.bin; cat half.bin; tail -c +$((from + $1 + 1)) before.bin) ||
        fail "in.bin's stretch after its first $from bytes is not its first $1, patched"
}

# Another program's lock, for the bindfs shell too: perl -e "$lock_range"
# FILE START LENGTH takes a write lock (struct flock as 64-bit Linux lays
# it out; LENGTH 0 to the end) and makes the file "locked", held for a
# minute. The lock probe looks at the last byte a file can have.
# shellcheck disable=SC2016  # perl's own variables
export lock_range='open(my $f, "+<", $ARGV[0]) or exit 1; fcntl($f, F_SETLK,
    pack("s s x4 q q i x4", F_WRLCK, SEEK_SET, $ARGV[1], $ARGV[2], 0)) or exit 1; open(my $l, ">", "locked"); sleep 60'
last_byte=9223372036854775807

# bindfs_run: the run through bindfs, in a mount namespace of its own;
# the road's name tells the inner shell which files it takes.
bindfs_run() {
    # shellcheck disable=SC2016  # expanded by the inner shell
    unshare -m bash -c 'set -e
        mkdir -p real view
        a=real/a.bin b=real/inner/b.bin expect=expected.bin
        if [ "$1" != bindfs-twice ]; then
            mount -t tmpfs bytemend-outer real && mkdir real/inner && mount -t tmpfs bytemend-inner real/inner
            # tmpfs numbers its own files from 2 up: find a pair that shares one.
            for n in $(seq 8); do : >real/f$n; : >real/inner/g$n; done
            pair=$(join <(stat -c "%i %n" real/f* | sort) <(stat -c "%i %n" real/inner/g* | sort) | head -1)
            read -r _ f g <<<"$pair"
            mv "$f" $a; mv "$g" $b
            cp in.bin $a; cp old-original.bin $b
            # One size, and one time to the nanosecond: written by the
            # shell itself, back to back, until both land in one tick
            # of the clock. A time once looked at makes the next change
            # exact, so each try changes both once first.
            if [ "$1" != bindfs-same-id ]; then
                x=$(printf "%04096d" 0 | tr 0 x) y=$(printf "%04096d" 0 | tr 0 y)
                for _ in $(seq 20); do
                    : >$a; : >$b; printf %s "$x" >$a; printf %s "$y" >$b
                    [ "$(stat -c "%s %.9Y %.9Z" $a)" = "$(stat -c "%s %.9Y %.9Z" $b)" ] && break
                done
                cp $b unchanged.bin
                expect=unchanged.bin
            fi
            args=(view/a.bin view/inner/b.bin)
        else
            args=(in.bin view/out.bin)
        fi
        bindfs real view || exit 99
        : >listing
        [ "$1" != bindfs-twice ] || "$2" in.bin view/out.bin $at $value >/dev/null
        if [ "$1" = bindfs-locked ]; then
            perl -MFcntl -e "$lock_range" view/inner/b.bin '"$last_byte"' 1 &
            until [ -e locked ] || ! kill -0 $! 2>/dev/null; do sleep 0.05; done
        fi
        "$2" "${args[@]}" $at $value >stdout 2>stderr || status=$?
        [ "$1" != bindfs-locked ] || kill $! || true
        wait
        if [ "$1" != bindfs-twice ]; then cmp -s $b $expect || echo "the output is not the copy, or not what it was" >>listing
        else cmp -s view/out.bin expected.bin || echo "out.bin is not the copy" >>listing
            echo "$(stat -c %b view/out.bin) $(stat -c %b in.bin)" >blocks
        fi
        umount view
        exit ${status:-0}' _ "$mode" "$exe" 2>/dev/null
    status=$?
    if [ ! -e listing ]; then
        skip "cannot mount bindfs in a namespace of our own here (needs bindfs and FUSE)"
        return 1
    fi
    if [ "$mode" = bindfs-locked ] && [ ! -e locked ]; then
        skip "cannot lock the last byte of a file here (needs perl, and a 64-bit struct flock)"
        return 1
    fi
    [ ! -s listing ] || fail "$(cat listing)"
    if [ -e blocks ]; then
        read -r out_blocks in_blocks <blocks
        # The input's blocks and the one the byte is in; the old
        # output's hole must not come back as zeros.
        [ "$out_blocks" -le $((in_blocks + 8)) ] || fail "out.bin takes $out_blocks blocks, in.bin $in_blocks"
    fi
}

# reflink_run fs: in.bin copied, on that file system, to a new, a longer
# and a shorter out.bin and a longer one with a second hard link.
reflink_run() {
    local old kib
    mount_image "$1" || return
    # A replacement is born with these; the old file has them too.
    [ "$1" != btrfs ] || { setfacl -d -m u:2:r mnt && btrfs property set mnt compression zstd; } 2>/dev/null
    cp in.bin mnt/in.bin
    [ "$1" != btrfs ] || [ "$(getfattr -m - mnt/in.bin 2>/dev/null | grep -c '^[bs]')" = 2 ] ||
        echo "note $name: new files here get no default ACL and compression (needs setfacl and btrfs); replaced without them"
    for old in none longer shorter linked; do
        rm -f mnt/out.bin mnt/out-link.bin
        case $old in
        longer | linked) cp old-original.bin mnt/out.bin ;;
        shorter) head -c $middle old-original.bin >mnt/out.bin ;;
        esac
        [ "$old" != linked ] || ln mnt/out.bin mnt/out-link.bin
        [ "$old" = none ] || [ "$1" != btrfs ] || btrfs property set mnt/out.bin compression lzo 2>/dev/null
        old_inode=$(stat -c %i mnt/out.bin 2>/dev/null)
        sync
        "$exe" mnt/in.bin mnt/out.bin $at $value >stdout 2>stderr
        status=$?
        sync
        cmp -s mnt/out.bin expected.bin || fail "out.bin over $old is not the patched copy"
        # The patched block and nothing else.
        kib=$(kib_unshared mnt/out.bin)
        [ "$kib" -le 4 ] || fail "out.bin over $old takes $kib KiB of its own"
        if [ "$old" = linked ]; then
            [ mnt/out-link.bin -ef mnt/out.bin ] || fail "out.bin and its second name are two files now"
        elif [ "$(stat -c %i mnt/out.bin)" = "$old_inode" ]; then
            fail "out.bin over $old was overwritten where it lies, not replaced"
        fi
    done
}

skip() { echo "skipped $name: $*"; skipped=$((skipped + 1)); }
fail() { echo "FAIL $name: $*"; failed=$((failed + 1)); }

# The run as its row says: a trial run without the fault, then the run with
# it. The trial's output goes where the real run's goes: glibc asks a
# terminal or device for more than a file.
traced_run() {
    strace -o trace "${strace_setup[@]}" "$exe" "${args[@]}" >stdout 2>stderr
    # shellcheck disable=SC2206  # the other names are words
    local names=("$call" ${other_names[$call]-}) n=""
    for call in "${names[@]}"; do
        n=$(nth_call trace "$call" "$which")
        [ -n "$n" ] && break
    done
    if [ -z "$n" ]; then
        # The rows name x86-64's calls: there, one not made is a step the
        # command left out.
        if grep -qE "^($(IFS='|'; echo "${names[*]}"))\(" trace; then
            fail "no ${names[*]} call matches '$which'"
        elif [ "$(uname -m)" = x86_64 ]; then
            fail "made no ${names[*]} call"
        else
            skip "this system makes no call named ${names[*]}"
        fi
        return 1
    fi
    fresh_files
    [[ $fault == *when=* ]] || fault="$fault:when=@"
    # "@..+N": that call and the N - 1 after it.
    [[ $fault == *when=@..+* ]] && fault=${fault/..+${fault##*+}/..$((n + ${fault##*+} - 1))}
    # The road's other program, acting while the faulted call waits.
    if [ -n "$meanwhile" ]; then (sleep $meanwhile_after && eval "$meanwhile") & fi
    strace -o trace "${strace_setup[@]}" -e "inject=$call:${fault//@/$n}" "$exe" "${args[@]}" >stdout 2>stderr
    status=$?
    wait
    grep -qE 'INJECTED|DELAYED' trace || fail "the fault was not injected"
}

# A run for real, as it is.
plain_run() { "$exe" "${args[@]}" >stdout 2>stderr; status=$?; }

# What runs leave, by default: the input unchanged.
input_kept() { cmp -s "$input" original.bin || fail "the input changed"; }

# A new out.bin: the patched copy, or after a failure none at all.
new_out() {
    if [ "$want" = 0 ]; then
        cmp -s "$dir"/out.bin expected.bin || fail "out.bin is not the patched copy"
    elif [ -e "$dir"/out.bin ]; then
        fail "an unfinished out.bin was left behind"
    fi
}

# in.bin patched in place, or after a failure changed in its byte at most.
patched_in_place() {
    if [ "$want" = 0 ]; then
        cmp -s in.bin expected.bin || fail "in.bin is not patched, or changed beyond its byte"
    else
        cmp -s in.bin original.bin || cmp -s in.bin expected.bin || fail "in.bin changed beyond its byte"
    fi
}

# old_file [command]: old.bin, longer, written in full, another user's and
# with an extended attribute, the output; the command run on it, before
# what it has is noted. old_how "replaced": a run must replace it whole;
# "written": it is overwritten where it lies, so that a failure past its
# open may leave it changed.
old_file() {
    cp old-original.bin old.bin
    chown 1:1 old.bin
    setfattr -n user.bytemend -v kept old.bin 2>/dev/null
    chattr +d old.bin 2>/dev/null  # a flag to be carried: not to be dumped
    [ $# -eq 0 ] || "$@" 2>/dev/null
    old_inode=$(stat -c %i old.bin) old_extras=$(extras old.bin)
    output=old.bin old_how=""
    checks() { input_kept; old_checks; }
}

# old_checks: old.bin replaced whole, or where that would lose something
# overwritten where it lies; untouched by a failed run that never overwrote it.
old_checks() {
    if [ "$want" = 0 ]; then
        cmp -s old.bin expected.bin || fail "old.bin is not the patched copy"
    elif [ ! -e old.bin ]; then
        fail "old.bin, there before, was removed"
    elif [ "$old_how" != written ] || [[ $last == *open/create* ]]; then
        cmp -s old.bin old-original.bin || fail "old.bin changed, though the run failed"
    fi
    if [ "$want" = 0 ] && [ "$old_how" = replaced ]; then
        [ "$(stat -c %i old.bin)" != "$old_inode" ] || fail "old.bin was overwritten where it lies, not replaced"
    elif [ "$(stat -c %i old.bin)" != "$old_inode" ]; then
        fail "old.bin is another file than before"
    fi
    [ "$(extras old.bin)" = "$old_extras" ] || fail "old.bin lost its owner, permissions, attribute or flag"
}

# no_unnamed: O_TMPFILE refused, from a trial run's count of openat.
no_unnamed() {
    strace -o trace "$exe" in.bin out.bin $at $value >/dev/null
    rm -f out.bin
    strace_setup+=(-e "inject=openat:error=EOPNOTSUPP:when=$(nth_call trace openat O_TMPFILE)")
}

# A mount namespace of our own, or the row skipped: in a chroot whose root
# is no mount point, say, there is none.
namespace() {
    unshare -m true 2>/dev/null && return
    skip "cannot make a mount namespace here (a chroot whose root is no mount point, say)"
    return 1
}

# kill_run: slowed at each buffer write so that a kill lands in the copy,
# and killed once the first buffer-load is written, however slow the machine.
kill_run() {
    local tracer traced
    strace -o trace "${strace_setup[@]}" -e inject=write:delay_enter=300000 "$exe" "${args[@]}" >stdout 2>stderr &
    tracer=$!
    for _ in $(seq 200); do
        grep -qs "^write(.*$chunk)" trace && break
        sleep 0.05
    done
    read -r traced <"/proc/$tracer/task/$tracer/children"
    kill -KILL "$traced"
    wait "$tracer" 2>/dev/null
    status=$?
    grep -q "^write(.*$chunk)" trace || fail "was not killed in the middle of the copy"
    : >stderr  # strace's own remarks on the kill
}

# overlay_run: two names of one file that identity cannot tell apart: the
# upper layer's file system and the overlay report devices of their own.
overlay_run() {
    mkdir lower upper ovlwork merged
    mv in.bin upper/in.bin
    # shellcheck disable=SC2016  # expanded by the inner shell
    unshare -rm bash -c 'mount -t overlay bytemend-overlay -o lowerdir=lower,upperdir=upper,workdir=ovlwork merged ||
        exit; : >listing; "$@" >stdout 2>stderr' _ "$exe" "${args[@]}" 2>/dev/null
    status=$?
    mv upper/in.bin in.bin
    [ -e listing ] && return
    skip "cannot mount an overlay in a namespace of our own here"
    return 1
}

# The roads into a run, each row below taking one: those with a call are
# faulted by strace, the others run for real. A road is a function,
# road_NAME, that begins with "about" and then sets up its files and
# input, output, meanwhile (another program's act while the faulted call
# waits) and strace_setup (faults of its own). It may define runs, how it
# runs where not as its row says, false to give the row up, and checks, of
# what the run leaves. It is called before each of its rows, and again
# after a trial run; one that builds on another calls that one's first.
road_new() { about "in.bin copied to a new out.bin" || return
    checks() { input_kept; new_out; }
}
road_buf() { about "new, with the kernel copy refused (EXDEV), so that the buffer copies" || return
    road_new; strace_setup=(-e inject=copy_file_range:error=EXDEV)
}
road_nocopy() { about "new, with the kernel copy copying nothing (copy_file_range returns 0), so that the buffer copies" || return
    road_new; strace_setup=(-e inject=copy_file_range:retval=0)
}
road_named() { about "new, with no unnamed files (O_TMPFILE refused), so that out.bin is made by name" || return
    road_new; no_unnamed
}
road_norename() { about "named, with no exclusive rename (renameat2 refused: EINVAL), so that out.bin is named by link, then unlink" || return
    road_named; strace_setup+=(-e inject=renameat2:error=EINVAL:when=1)
}
road_nolink() { about "norename, with no hard links either (link refused: EPERM), so that out.bin is named by rename once lstat finds no file there" || return
    road_norename; strace_setup+=(-e "inject=?link,linkat:error=EPERM")
}
road_nomem() { about "buf, with no memory to be had once the fault is injected" || return
    # Not "ldd | grep -q": grep leaving early can kill ldd with SIGPIPE,
    # and under pipefail that would read as "not linked".
    if [[ $(ldd "$exe") == *libasan* ]]; then
        skip "AddressSanitizer's allocator does not ask the system for each buffer"
        return 1
    fi
    road_buf
    # Every brk after start-up fails too, so that malloc has nowhere to turn.
    strace -o trace "$exe" in.bin out.bin $at $value >/dev/null
    rm -f out.bin
    strace_setup+=(-e "inject=brk:retval=0:when=$(($(grep -c '^brk(' trace) + 1))+")
}
road_old() { about "in.bin copied over old.bin, longer, written in full, another user's and with an extended attribute and a capability: old.bin replaced whole" || return
    # A capability (cap_net_raw+ep), which a write takes away: only a
    # replacement can keep it.
    old_file setfattr -n security.capability -v 0sAQAAAgAgAAAAAAAAAAAAAAAAAAA= old.bin
    old_how=replaced
}
road_oldacl() { about "old, old.bin with an ACL of its own, in a folder whose default ACL gives its replacement another" || return
    old_file setfacl -m u:1:r old.bin; old_how=replaced; setfacl -d -m u:2:r . 2>/dev/null
    [ -n "$(getfacl -cd . 2>/dev/null)" ] ||
        skip "cannot give a folder a default ACL here (needs setfacl, and ACLs on the tests' file system)"
}
road_oldkept() { about "old, where its replacement cannot be given what old.bin has, or finds no room, so that old.bin is overwritten where it lies" || return
    old_file
}
road_oldfull() { about "oldkept, its replacement finding no room (copy_file_range refused: EDQUOT)" || return
    road_oldkept; strace_setup=(-e inject=copy_file_range:error=EDQUOT)
}
road_old-noroom() { about "old, the replacement's copy out of room (copy_file_range: ENOSPC, once), so that old.bin is overwritten where it lies instead" || return
    old_file; strace_setup=(-e inject=copy_file_range:error=ENOSPC:when=1)
}
road_oldlinked() { about "old, with a second hard link, old-link.bin, so that old.bin is overwritten where it lies" || return
    old_file ln old.bin old-link.bin; old_how=written
    checks() { input_kept; old_checks; [ old-link.bin -ef old.bin ] || fail "old-link.bin and old.bin are two files now"; }
}
road_oldlinked-nopunch() { about "oldlinked, where no hole can be punched (fallocate refused: EOPNOTSUPP)" || return
    road_oldlinked; strace_setup=(-e inject=fallocate:error=EOPNOTSUPP)
}
road_oldlinked-zeros() { about "oldlinked, old.bin with a block of zeros beneath in.bin's hole, between blocks of data" || return
    road_oldlinked; dd if=/dev/zero of=old.bin bs=4096 seek=$((middle / 4096 + 1)) count=1 conv=notrunc status=none
}
road_oldsymlink() { about "old, through link.bin, a symlink to old.bin" || return
    old_file ln -s old.bin link.bin; output=link.bin old_how=replaced
    checks() { input_kept; old_checks; [ "$(readlink link.bin)" = old.bin ] || fail "link.bin is no longer a symlink to old.bin"; }
}
road_newrelinked() { about "new, through link.bin, a dangling symlink to out.bin, which another program points at other.bin $meanwhile_after s into the run" || return
    ln -s out.bin link.bin; output=link.bin meanwhile="ln -sfn other.bin link.bin"
    checks() {
        input_kept; new_out
        [ "$(readlink link.bin)" = other.bin ] && [ ! -e other.bin ] || fail "other.bin, where link.bin now leads, was made"
    }
}
road_oldswapped() { about "old, another program renaming a file of its own over old.bin $meanwhile_after s into the run" || return
    old_file; meanwhile="printf theirs >theirs.bin && mv theirs.bin old.bin"
    checks() { input_kept; [ "$(cat old.bin)" = theirs ] || fail "the other program's old.bin was not left alone"; }
}
road_tmpswapped() { about "old, another program renaming a file of its own over the replacement's temporary name $meanwhile_after s into the run" || return
    old_file; temp_kept=1
    meanwhile='for f in .bytemend-*.tmp; do printf theirs >theirs.bin && mv theirs.bin "$f"; done'
    checks() {
        input_kept; old_checks
        [ "$(cat .bytemend-*.tmp 2>/dev/null)" = theirs ] || fail "the other program's file at the temporary name was not left alone"
    }
}
road_oldremoved() { about "old, another program removing old.bin $meanwhile_after s into the run" || return
    old_file; meanwhile="rm old.bin"
    checks() { input_kept; [ ! -e old.bin ] || fail "old.bin, removed, is back"; }
}
road_oldmoved() { about "old, in folder d, which another program renames $meanwhile_after s into the run, leaving a symlink to folder other, with an old.bin of its own, in its place" || return
    mkdir d other
    cp old-original.bin d/old.bin
    printf theirs >other/old.bin
    output=d/old.bin meanwhile="mv d d.moved && ln -s other d"
    checks() {
        input_kept
        [ "$(cat other/old.bin)" = theirs ] || fail "the old.bin of the folder the symlink leads to was not left alone"
        cmp -s d.moved/old.bin expected.bin || fail "old.bin, in its folder moved, is not the patched copy"
    }
}
road_oldlooped() { about --mounts "old, with a loop device set up on old.bin, which would go on with the old file, so that it is overwritten where it lies" || return
    old_file
    runs() {
        devices=()
        attach old.bin || loop_skip || return
        plain_run
        cmp -s -n "$length" "$device" expected.bin || fail "the loop device does not show the patched copy"
        losetup -d "$device"
    }
}
road_oldappend() { about "old, in an append-only folder (chattr +a), which takes no rename over it, so that it is overwritten where it lies" || return
    mkdir a; cp old-original.bin a/old.bin; chattr +a a 2>/dev/null; output=a/old.bin
    if ! lsattr -d a 2>/dev/null | grep -q '^[^ ]*a'; then
        skip "this file system has no append-only folders"
    fi
    runs() { plain_run; }
    checks() {
        input_kept
        cmp -s a/old.bin expected.bin || fail "a/old.bin is not the patched copy"
        ! compgen -G "a/.bytemend-*" >/dev/null || fail "left its temporary file in the append-only folder"
    }
}
road_oldbound() { about --mounts "old, bind-mounted onto 'view 1.bin', a name the table of mounts escapes (view\\0401.bin), in a mount namespace of its own, so that it is overwritten where it lies" || return
    old_file; : >"view 1.bin"
    runs() {
        namespace || return
        # shellcheck disable=SC2016  # expanded by the inner shell
        unshare -m bash -c 'mount --bind old.bin "view 1.bin" || exit 99; "$@"; status=$?
            cmp -s "view 1.bin" expected.bin || echo "view 1.bin, old.bin mounted, is not the patched copy" >listing
            exit $status' _ "$exe" "${args[@]}" >stdout 2>stderr
        status=$?
        if [ "$status" -eq 99 ]; then
            skip "cannot bind-mount a file in a mount namespace of our own here"
            return 1
        fi
        [ ! -s listing ] || fail "$(cat listing)"
    }
}
road_oldopened() { about "old, another program opening old.bin to append to it $meanwhile_after s into the run, appending a line, then 3 s later another" || return
    old_file; meanwhile="{ echo record1 && sleep 3 && echo record2; } >>old.bin"
    checks() {
        input_kept
        cmp -s old.bin <(cat old-original.bin; printf 'record1\nrecord2\n') ||
            fail "old.bin is not what it was with the other program's two lines"
    }
}
road_oldread() { about "old, another program opening old.bin to read it $meanwhile_after s into the run, while the copy's data is written out" || return
    old_file; old_how=replaced meanwhile="sleep 2 <old.bin"
}
road_running() { about "in.bin copied over prog.bin, a copy of sleep that is running" || return
    cp "$(command -v sleep)" prog.bin; output=prog.bin
    runs() {
        ./prog.bin 20 &
        until [ "$(readlink /proc/$!/exe)" = "$PWD/prog.bin" ] || ! kill -0 $! 2>/dev/null; do sleep 0.05; done
        plain_run
        kill -0 $! 2>/dev/null || fail "the running program ended"
        kill $! 2>/dev/null
        wait
        cmp -s prog.bin expected.bin || fail "prog.bin is not the patched copy"
    }
}
road_oldnoproc() { about --mounts "old, in a mount namespace where the run's /proc/self/fd is an empty tmpfs, under ulimit -f $limit_kib (KiB), so that the copy fails midway" || return
    old_file
    runs() {
        # The command takes the shell's process, whose descriptors the
        # mount hides; the rest of /proc stays, as sanitizers read it.
        # shellcheck disable=SC2016  # expanded by the inner shell
        # The same status 1 where no namespace can be made: tried first.
        unshare -m true 2>/dev/null &&
            unshare -m bash -c 'mount -t tmpfs bytemend-nofd /proc/$$/fd || exit 99; ulimit -f $1; shift; exec "$@"' _ \
                "$limit_kib" "$exe" "${args[@]}" >stdout 2>stderr
        status=$?
        [ "$status" -ne 99 ] && [ -e stdout ] && return
        skip "cannot mount over /proc/PID/fd in a mount namespace of our own here"
        return 1
    }
}
road_oldsaved() { about "old, another program saving old.bin as an editor does $meanwhile_after s into the run: renamed to old.bin~, a file of its own written as old.bin" || return
    old_file; meanwhile="mv old.bin old.bin~ && printf theirs >old.bin"
    checks() {
        input_kept
        [ "$(cat old.bin)" = theirs ] || fail "the other program's old.bin was not left alone"
        cmp -s old.bin~ old-original.bin || fail "old.bin~, the file the run opened, changed"
    }
}
road_oldplanted() { about "old, with the 100 temporary names of the process id the run then has (.bytemend-PID-0.tmp to -99) taken before it starts" || return
    old_file; old_how=replaced
    runs() {
        # shellcheck disable=SC2016  # expanded by the inner shell, whose process the command takes over
        bash -c 'for n in $(seq 0 99); do : >".bytemend-$$-$n.tmp"; done; exec "$@"' _ "$exe" "${args[@]}" >stdout 2>stderr
        status=$?
        [ "$(find . -maxdepth 1 -name '.bytemend-*' -empty | wc -l)" = 100 ] || fail "did not leave the 100 planted names alone"
        rm -f .bytemend-*
    }
}
road_planted() { about "new, out.bin in a folder that anyone may write (sticky, mode 1777), where another user (nobody) plants a symlink to victim/raced $meanwhile_after s into the run, after the output's open found no file; victim a folder that only root writes" || return
    mkdir -m 1777 pub && mkdir -m 755 victim
    output=pub/out.bin meanwhile="setpriv --reuid=65534 --regid=65534 --clear-groups ln -s ../victim/raced pub/out.bin"
    # The other user walks into the work folder, which only root may.
    if [ "$(id -u)" != 0 ] || ! command -v setpriv >/dev/null || ! chmod 755 .; then
        skip "cannot act as another user here (needs root and setpriv)"
    fi
    checks() {
        input_kept
        [ ! -e victim/raced ] || fail "followed the other user's link: made victim/raced"
        [ -L pub/out.bin ] || fail "the other user's link is gone"
    }
}
road_planted-before() { about "planted, the link there before the run starts" || return
    road_planted
    runs() { eval "$meanwhile"; plain_run; }
}
road_planted-own() { about "planted-before, the link root's own" || return
    road_planted-before
    runs() { ln -s ../victim/raced pub/out.bin; plain_run; }
    checks() { input_kept; cmp -s victim/raced expected.bin || fail "victim/raced, where root's own link leads, is not the patched copy"; }
}
road_planted-own-theirs() { about "planted-own, the folder another user's (nobody)" || return
    road_planted-own; chown 65534 pub 2>/dev/null
}
road_fifo() { about "new, out.bin a FIFO that no program reads" || return
    mkfifo out.bin
    runs() {
        timeout 20 "$exe" "${args[@]}" >stdout 2>stderr
        status=$?
        [ -p out.bin ] || fail "out.bin is no longer the FIFO"
    }
}
road_oldmounted() { about --mounts "old, with mounted.bin bind-mounted over it in a mount namespace of its own, as container runtimes mount files, so that it is overwritten where it lies" || return
    old_file; cp old-original.bin mounted.bin
    runs() {
        namespace || return
        # shellcheck disable=SC2016  # expanded by the inner shell
        unshare -m bash -c 'mount --bind mounted.bin old.bin || exit 99
            [ -z "$1" ] || mount --bind /dev/null /proc/$$/mountinfo || exit 99
            shift; exec "$@"' _ "${hide_table-}" "$exe" "${args[@]}" >stdout 2>stderr
        status=$?
        [ "$status" -ne 99 ] && return
        skip "cannot bind-mount a file in a mount namespace of our own here"
        return 1
    }
    checks() {
        input_kept
        cmp -s mounted.bin expected.bin || fail "the file mounted over old.bin is not the patched copy"
        cmp -s old.bin old-original.bin || fail "old.bin, beneath the mount, changed"
    }
}
road_oldmounted-untold() { about --mounts "oldmounted, with the run's table of mounts (/proc/PID/mountinfo) an empty file" || return
    road_oldmounted; hide_table=1
}
road_inplace() { about "in.bin patched in place" || return
    output=in.bin
    checks() { patched_in_place; }
}
road_grown() { about "inplace, another program appending 8 bytes to in.bin $meanwhile_after s into the run" || return
    road_inplace; meanwhile="printf appended >>in.bin"
    checks() { cmp -s in.bin <(cat expected.bin; printf appended) || fail "in.bin is not patched, with what was appended kept"; }
}
road_cut() { about "inplace, another program cutting in.bin to $cut_to bytes $meanwhile_after s into the run" || return
    road_inplace; meanwhile="truncate -s $cut_to in.bin"
    checks() { cmp -s in.bin <(head -c "$cut_to" original.bin) || fail "in.bin is not as the other program cut it"; }
}
road_swapped() { about "inplace, another program renaming a file of its own over in.bin $meanwhile_after s into the run" || return
    road_inplace; meanwhile="printf theirs >theirs.bin && mv theirs.bin in.bin"
    checks() { cmp -s in.bin <(printf theirs) || fail "the other program's in.bin was not left alone"; }
}
road_stdoutlinked() { about "new, another program linking out.bin to standard output's file $meanwhile_after s into the run" || return
    meanwhile="ln stdout out.bin"
}
road_shrunk() { about "new, another program cutting in.bin to $cut_to bytes $meanwhile_after s into the run" || return
    meanwhile="truncate -s $cut_to in.bin"
    checks() { new_out; }  # the input cut by the other program
}
road_locked() { about "inplace, another program holding a lock on all of in.bin (lockf)" || return
    road_inplace
    runs() {
        perl -MFcntl -e "$lock_range" in.bin 0 0 &
        until [ -e locked ] || ! kill -0 $! 2>/dev/null; do sleep 0.05; done
        plain_run
        kill $! 2>/dev/null
        wait
    }
}
road_full() { about --mounts "new, out.bin on a $small_fs tmpfs in a mount namespace of its own" || return
    mkdir full; output=full/out.bin
    runs() {
        # A 512 KiB file system of our own, in a mount namespace of our own.
        # shellcheck disable=SC2016  # expanded by the inner shell
        unshare -rm bash -c 'mount -t tmpfs -o size=$small_fs bytemend-full full || exit 99
            "$@" >stdout 2>stderr; status=$?; ls -A full >listing; exit $status' _ "$exe" "${args[@]}" 2>/dev/null
        status=$?
        if [ "$status" -eq 99 ] || [ ! -e listing ]; then
            skip "cannot mount a tmpfs in a namespace of our own here"
            return 1
        fi
        [ ! -s listing ] || fail "left $(cat listing) on the full file system"
    }
}
road_ulimit() { about "new, under ulimit -f $limit_kib (KiB)" || return
    road_new
    runs() { (ulimit -f "$limit_kib" && exec "$exe" "${args[@]}") >stdout 2>stderr; status=$?; }
}
road_kill() { about "buf, killed (SIGKILL) once the first buffer-load is written" || return
    road_buf
    temp_kept=1  # a kill may leave the temporary file
    runs() { kill_run; }
}
road_killlink() { about "kill, through link.bin, a dangling symlink to out.bin" || return
    road_kill; ln -s out.bin link.bin; output=link.bin
}
road_killnamed() { about "kill, with no unnamed files" || return
    road_kill; no_unnamed
}
road_killnamed-again() { about "killnamed, then run again as it was, beside the temporary file the kill left" || return
    road_killnamed
    runs() { kill_run; strace -o trace "${strace_setup[@]}" "$exe" "${args[@]}" >stdout 2>stderr; status=$?; }
}
road_killold() { about "kill, over old.bin as old has it" || return
    road_kill; old_file
}
road_overlay() { about --mounts "an overlay's upper name of in.bin in, its merged name out" || return
    input=upper/in.bin output=merged/in.bin
    runs() { overlay_run; }
    checks() { patched_in_place; }
}
road_overlay-back() { about --mounts "overlay, the other way round" || return
    road_overlay; input=merged/in.bin output=upper/in.bin
}
road_loop() { about --mounts "in.bin's loop device in, in.bin (cut to whole sectors) out" || return
    loop_files
    runs() { loop_attach in.bin && loop_exec "$device" in.bin; }
    checks() { cmp -s in.bin <(head -c "$sectors" expected.bin) || fail "in.bin is not patched, or changed beyond its byte"; }
}
road_loop-unaligned() { about --mounts "loop, in.bin not cut to whole sectors" || return
    loop_files $length
    runs() { loop_attach in.bin && loop_exec "$device" in.bin; }
}
road_loop-offset() { about --mounts "loop, the device starting $loop_offset bytes into in.bin" || return
    loop_files
    runs() { loop_attach -o "$loop_offset" in.bin && loop_exec "$device" in.bin; }
}
road_loop-limit() { about --mounts "loop, the device cut at $middle bytes" || return
    loop_files
    runs() { loop_attach --sizelimit "$middle" in.bin && loop_exec "$device" in.bin; }
}
road_loop-offset-back() { about --mounts "loop-offset, the other way round" || return
    loop_files
    runs() { loop_attach -o "$loop_offset" in.bin && loop_exec in.bin "$device"; }
}
road_loop-stacked() { about --mounts "loop, through a second loop device starting $loop_offset bytes into the first" || return
    loop_files
    runs() { loop_attach in.bin && { attach -o "$loop_offset" "$device" || loop_skip; } && loop_exec "$device" in.bin; }
}
road_loop-apart() { about --mounts "the loop device of in.bin's first $middle bytes in, that of its next $middle bytes out" || return
    loop_files
    runs() {
        loop_attach --sizelimit "$middle" in.bin && { attach -o "$middle" in.bin || loop_skip; } &&
            loop_exec "${devices[1]}" "$device"
    }
    checks() { apart_checks "$middle"; }
}
road_loop-apart-back() { about --mounts "loop-apart, the other way round" || return
    road_loop-apart
    runs() {
        loop_attach --sizelimit "$middle" in.bin && { attach -o "$middle" in.bin || loop_skip; } &&
            loop_exec "$device" "${devices[1]}"
    }
    checks() {
        tail -c +$((middle + 1)) before.bin | head -c "$middle" >half.bin && patch_byte half.bin
        cmp -s in.bin <(cat half.bin; tail -c +$((middle + 1)) before.bin) || fail "in.bin's first half is not its second, patched"
    }
}
road_loop-apart-partition() { about --mounts "loop-apart, the input in.bin's first $chunk bytes, the output a partition from $chunk bytes into a loop device of all of in.bin" || return
    loop_files
    # A DOS partition table makes in.bin's second half a partition.
    sfdisk -q in.bin <<<"start=$((chunk / 512))" >/dev/null 2>&1
    part_offset=0
    runs() {
        # Shorter than the partition, which counted back from its start
        # would overlap it. The kernel reads the table as it sets the
        # device up, where it knows DOS tables; partx has it add the
        # partition where not.
        loop_attach --sizelimit "$chunk" in.bin || return
        { attach -P -o "$part_offset" in.bin && { [ -b "${device}p1" ] || partx -a "$device" 2>/dev/null; } &&
            [ -b "${device}p1" ]; } ||
            loop_skip "cannot set up a partition on a loop device here (needs sfdisk, and partx where the kernel reads no DOS table)" ||
            return
        device+=p1
        loop_exec "${devices[1]}" "$device"
    }
    checks() { apart_checks "$chunk" $((part_offset + chunk)); }
}
road_loop-apart-partition-offset() { about --mounts "loop-apart-partition, the loop device of in.bin starting $loop_offset bytes into it, its partition table there" || return
    road_loop-apart-partition
    part_offset=$loop_offset
    head -c 512 original.bin | dd of=in.bin conv=notrunc status=none
    truncate -s $((sectors - loop_offset)) table.bin
    sfdisk -q table.bin <<<"start=$((chunk / 512))" >/dev/null 2>&1
    dd if=table.bin of=in.bin bs=512 count=1 seek=$((loop_offset / 512)) conv=notrunc status=none
    rm table.bin
}
road_loop-stdout() { about --mounts "new, standard output in.bin's loop device" || return
    loop_files
    runs() {
        loop_attach in.bin || return
        # The report would go into in.bin, through the device.
        : >stdout
        "$exe" "${args[@]}" 1<>"$device" 2>stderr
        status=$?
        losetup -d "${devices[@]}"
    }
    checks() { cmp -s in.bin before.bin || fail "in.bin changed"; new_out; }
}
road_loop-stdout-out() { about --mounts "loop-stdout, with in.bin the output and original.bin the input" || return
    road_loop-stdout; input=original.bin output=in.bin
    checks() { cmp -s in.bin before.bin || fail "in.bin changed"; }
}
road_loop-unreached() { about --mounts "loop-stacked, the second device set up on a node of the first that is then removed" || return
    loop_files; output=in.bin
    runs() {
        loop_attach in.bin && { { mknod node b "$(stat -c %Hr "$device")" "$(stat -c %Lr "$device")" 2>/dev/null &&
            attach -o "$loop_offset" node && rm node; } || loop_skip; } && loop_exec "$device" "$output"
    }
}
road_loop-unreached-new() { about --mounts "loop-unreached, copied to a new out.bin, which this run made" || return
    road_loop-unreached; output=out.bin
    checks() { cmp -s in.bin before.bin && [ -s out.bin ] || fail "in.bin changed, or out.bin is not there"; }
}
road_loop-cached() { about --mounts "loop, the device both in and out, held open by another program with its first block cached, then byte $((at + 1)) changed through in.bin" || return
    loop_files
    runs() {
        local file
        loop_attach in.bin || return
        # Another program holds the device open with its first block
        # cached, then changes the byte after the patch through the file:
        # that block, stale now, written back whole would undo it.
        # shellcheck disable=SC2217  # it only holds the device open
        sleep 60 <"$device" &
        dd if="$device" of=/dev/null bs=4096 count=1 status=none
        for file in in.bin before.bin; do
            printf B | dd of="$file" bs=1 seek=$((at + 1)) conv=notrunc status=none
        done
        "$exe" "$device" "$device" "$at" "$value" >stdout 2>stderr
        status=$?
        # The holder's close, the device's last, writes back what it cached.
        kill $! && wait $!
        losetup -d "${devices[@]}"
    }
    checks() { patch_byte before.bin && cmp -s in.bin before.bin || fail "in.bin is not patched, with the other program's change kept"; }
}
road_bindfs-twice() { about --mounts "in.bin copied twice to out.bin through bindfs, which can neither report nor punch holes" || return
    runs() { bindfs_run; }
}
road_bindfs-same-id() { about --mounts "a.bin to b.bin through bindfs: two files with one identity, from two tmpfs mounts, one inside the other" || return
    runs() { bindfs_run; }
}
road_bindfs-same-state() { about --mounts "bindfs-same-id, the two of one size and written in one tick, so that they show one state too" || return
    runs() { bindfs_run; }
}
road_bindfs-locked() { about --mounts "bindfs-same-state, another program holding a write lock on the last byte b.bin can have" || return
    runs() { bindfs_run; }
}
road_reflink-xfs() { about --mounts "in.bin copied to a new, a longer and a shorter out.bin on XFS on a loop device, and to a longer one with a second hard link" || return
    runs() { reflink_run xfs; }
}
road_reflink-btrfs() { about --mounts "reflink-xfs, on Btrfs, in a folder that gives new files a default ACL and its compression (zstd), two extended attributes; the old out.bin compressed otherwise (lzo)" || return
    runs() { reflink_run btrfs; }
}
road_shrunk-xfs() { about --mounts "in.bin copied to a new out.bin on XFS on a loop device, another program cutting in.bin to $middle bytes $meanwhile_after s into the run" || return
    image_files xfs || return; output=mnt/out.bin meanwhile="truncate -s $middle mnt/in.bin"
    checks() { new_out; }  # the input cut by the other program
}
road_shrunk-btrfs() { about --mounts "shrunk-xfs, on Btrfs" || return
    image_files btrfs || return; output=mnt/out.bin meanwhile="truncate -s $middle mnt/in.bin"
    checks() { new_out; }
}
road_shrunk-old-xfs() { about --mounts "shrunk-xfs, copied over old.bin, longer and written in full" || return
    road_shrunk-xfs || return; cp old-original.bin mnt/old.bin; output=mnt/old.bin
}
road_noroom-btrfs() { about --mounts "in.bin copied over old.bin on Btrfs on a loop device, filled up to 640 KiB short of full, too little for a copy beside old.bin" || return
    noroom_mount btrfs || return; noroom_fill 640
}
road_noroom-xfs() { about --mounts "noroom-btrfs, on XFS, old.bin sharing its blocks with twin.bin (cp --reflink)" || return
    noroom_mount xfs || return; cp --reflink=always mnt/old.bin mnt/twin.bin; noroom_fill 640
}
road_noroom-ext4() { about --mounts "noroom-btrfs, on ext4 with 1 KiB blocks and 128-byte inodes, filled up, old.bin with a block punched out of its middle and an extended attribute in a block of its own, so that it counts as many blocks as its length" || return
    mkfs_options="-b 1024 -I 128 -m 0" noroom_mount ext4 || return
    fallocate -p -o $chunk -l 1024 mnt/old.bin && setfattr -n user.bytemend -v "$(printf '%0900d' 0)" mnt/old.bin
    # None: the block missing from old.bin is one too many.
    noroom_fill 0
}
road_noroom-xfs-extents() { about --mounts "noroom-xfs, old.bin in 202 extents, more than one batch of its map holds (every other 4 KiB block unshared, then twin.bin removed), so that it is overwritten where it lies" || return
    noroom_mount xfs || return
    cp --reflink=always mnt/old.bin mnt/twin.bin
    local block
    for block in $(seq 0 2 200); do xfs_io -c "funshare $((block * 4096)) 4096" mnt/old.bin; done
    rm mnt/twin.bin
    noroom_fill 640
    runs() { plain_run; }
    checks() { input_kept; cmp -s mnt/old.bin expected.bin || fail "old.bin is not the patched copy"; }
}
road_nocow() { about --mounts "old, on Btrfs on a loop device, old.bin made NOCOW (chattr +C) before its data, so that it can share no block" || return
    image_files btrfs || return
    # NOCOW while still empty, as Btrfs asks.
    : >mnt/old.bin && chattr +C mnt/old.bin && cat old-original.bin >>mnt/old.bin && old_inode=$(stat -c %i mnt/old.bin)
    checks() {
        input_kept
        image_old_checks
        [ "$want" != 0 ] || [[ $(lsattr mnt/old.bin | cut -d' ' -f1) == *C* ]] || fail "old.bin is no longer NOCOW"
    }
}
road_project() { about --mounts "old, on XFS on a loop device, old.bin in project 42 (xfs_io chproj), by which quotas count it" || return
    image_files xfs || return
    cp old-original.bin mnt/old.bin && xfs_io -c 'chproj 42' mnt/old.bin >/dev/null && old_inode=$(stat -c %i mnt/old.bin)
    checks() {
        input_kept
        image_old_checks
        [ "$want" != 0 ] || [[ $(xfs_io -c lsproj mnt/old.bin) == *" 42" ]] || fail "old.bin left project 42"
    }
}
road_crash-ext4() { about --mounts "on ext4 on a loop device, out.bin made from in.bin, out-tail.bin from tail.bin (in.bin and 1 MiB of hole), old.bin and short.bin (old.bin's first $middle bytes) overwritten, self.bin patched in place; then the power lost and the image mounted again, twice, on files of their own (old-1.bin, old-2.bin): with the journal written (shutdown -f), then without (shutdown)" || return
    runs() { crash_run ext4 "" 2 "shutdown -f" shutdown; }
}
road_crash-xfs() { about --mounts "crash-ext4, on XFS, where the copies share blocks" || return
    runs() { crash_run xfs "" 2 "shutdown -f" shutdown; }
}
road_crash-btrfs() { about --mounts "crash-ext4's runs on Btrfs, old.bin and short.bin NOCOW, the power lost once: the image cloned at that instant (cp --reflink, on an XFS on a loop device) while still mounted, and the clone mounted" || return
    runs() { crash_run btrfs "" 1 clone; }
}
road_crash-any-ext4() { about --mounts "crash-ext4's runs on $crash_sets sets of files in turn, the image cloned (as in crash-btrfs) at a random instant during or soon after each set's runs, another program committing the journal at random instants (an fsync of a file of its own); each clone mounted and all the files checked" || return
    runs() { crash_run ext4 "" "$crash_sets"; }
}
road_crash-any-xfs() { about --mounts "crash-any-ext4, on XFS" || return
    runs() { crash_run xfs "" "$crash_sets"; }
}
road_crash-any-btrfs() { about --mounts "crash-any-ext4, on Btrfs committing each second (commit=1), old.bin and short.bin NOCOW" || return
    # Btrfs commits each 30 s; here each second, so that its states
    # include commits.
    runs() { crash_run btrfs commit=1 "$crash_sets"; }
}
road_pipe() { about "/dev/stdout out, standard output a pipe" || return
    output=/dev/stdout
    runs() { "$exe" "${args[@]}" 2>stderr | cat >stdout; status=${PIPESTATUS[0]}; }
}

# name | road | call | which call | fault | status | last line. "which call"
# picks the first call of that name whose trace line matches; "A >> B" the
# first matching B after one matching A. The fault goes to that call, or
# with when=@+ to it and every later one, with when=@..+N to N calls from
# it. "R+" stands for the report line before the last line; "E+" puts the
# last line on standard error, with nothing on standard output, or the
# report line alone after "R+"; DEV stands for the loop device.
cases=$(unpadded <<EOF
Input cannot be opened                  | new              | openat          | "in\.bin", O_RDONLY            | error=EACCES         | 1   | Error opening in.bin for reading.
Input cannot be measured                | new              | newfstatat      | "", .*size=$length             | error=EIO            | 1   | Cannot measure the length of in.bin: Input/output error.
Input's blocking mode cannot be cleared | new              | fcntl           | F_SETFL                        | error=EBADF          | 1   | Error opening in.bin for reading.
No unnamed files here                   | new              | openat          | O_TMPFILE                      | error=EOPNOTSUPP     | 0   | R+Done
Output cannot be created at all         | new              | openat          | O_TMPFILE                      | error=EACCES:when=@+ | 1   | R+Failed to open/create out.bin.
New output cannot be measured           | new              | newfstatat      | O_TMPFILE >> .                 | error=EIO            | 1   | R+Failed to open/create out.bin.
Output made by name cannot be measured  | named            | newfstatat      | O_EXCL >> .                    | error=EIO            | 1   | R+Failed to open/create out.bin.
No exclusive rename                     | named            | renameat2       | RENAME_NOREPLACE               | error=EINVAL         | 0   | R+Done
No exclusive rename, no hard links      | norename         | link            | \.bytemend                     | error=EPERM          | 0   | R+Done
No exclusive rename, links unsupported  | norename         | link            | \.bytemend                     | error=EOPNOTSUPP     | 0   | R+Done
No exclusive rename, no link call       | norename         | link            | \.bytemend                     | error=ENOSYS         | 0   | R+Done
No exclusive rename, link across mounts | norename         | link            | \.bytemend                     | error=EXDEV          | 0   | R+Done
Name taken before the plain rename      | nolink           | newfstatat      | "out\.bin".*NOFOLLOW           | retval=0             | 1   | R+Failed to create out.bin: File exists.
Name unseen before the plain rename     | nolink           | newfstatat      | "out\.bin".*NOFOLLOW           | error=EACCES         | 1   | R+Failed to create out.bin: Permission denied.
Input under a lease                     | new              | openat          | "in\.bin", O_RDONLY.O_NONBLOCK | error=EAGAIN         | 0   | R+Done
Reflink fails                           | new              | ioctl           | FICLONE                        | error=EIO            | 0   | R+Done
Holes cannot be found                   | new              | lseek           | SEEK_DATA                      | error=EINVAL         | 0   | R+Done
Kernel copy across file systems         | new              | copy_file_range | .                              | error=EXDEV          | 0   | R+Done
Kernel without the copy call            | new              | copy_file_range | .                              | error=ENOSYS         | 0   | R+Done
Kernel copy not permitted here          | new              | copy_file_range | .                              | error=EPERM          | 0   | R+Done
Kernel copy refused, file busy          | new              | copy_file_range | .                              | error=ETXTBSY        | 0   | R+Done
Kernel copy fails                       | new              | copy_file_range | .                              | error=EIO            | 1   | R+Failed to write out.bin: Input/output error.
Kernel copy copies nothing              | new              | copy_file_range | .                              | retval=0:when=@+     | 0   | R+Done
Clone interrupted, then no kernel copy  | nocopy           | ioctl           | FICLONE                        | error=EINTR          | 0   | R+Done
Input ends during the kernel copy       | shrunk           | copy_file_range | .                              | delay_enter=2000000  | 1   | R+Failed to read file.
Input length cannot be checked again    | new              | lseek           | SEEK_END                       | error=EIO            | 1   | R+Failed to read file.
Output's length cannot be checked       | new              | newfstatat      | copy_file_range >> .           | error=EIO            | 1   | R+Failed to write out.bin: Input/output error.
Patched byte cannot be written          | new              | pwrite64        | "A", 1, $at                    | error=EIO            | 1   | R+Failed to write out.bin: Input/output error.
Output made standard output meanwhile   | stdoutlinked     | newfstatat      | Hexintval >> "out\.bin"        | delay_enter=2000000  | 1   | R+E+Cannot write out.bin: it is standard output, where the report goes.
Output name taken meanwhile             | new              | linkat          | out\.bin                       | error=EEXIST         | 1   | R+Failed to create out.bin: File exists.
New output's close fails                | new              | close           | linkat >> ^close               | error=EIO            | 1   | R+Failed to close out.bin: Input/output error.
No memory for the buffer                | nomem            | mmap            | EXDEV >> MAP_ANONYMOUS         | error=ENOMEM:when=@+ | 1   | R+Failed to allocate memory.
Buffered read fails                     | buf              | pread64         | $chunk, 0\)                    | error=EIO            | 1   | R+Failed to read file.
Buffered read interrupted               | buf              | pread64         | $chunk, 0\)                    | error=EINTR          | 0   | R+Done
Input ends early                        | buf              | pread64         | $chunk, $chunk\)               | retval=0             | 1   | R+Failed to read file.
Output cannot seek                      | buf              | lseek           | SEEK_SET                       | error=ESPIPE         | 1   | R+Failed to write out.bin: Illegal seek.
Buffered write fails                    | buf              | write           | $chunk\)                       | error=EIO            | 1   | R+Failed to write out.bin: Input/output error.
Disk full on the second chunk           | buf              | write           | $chunk\) >> $chunk\)           | error=ENOSPC         | 1   | R+Failed to write out.bin: No space left on device.
Out of room beside it, written in place | old-noroom       | openat          | "/proc/self/fd/[0-9]+", O_RDWR | delay_enter=1        | 0   | R+Done
Nor can it be opened to be written      | old-noroom       | openat          | "/proc/self/fd/[0-9]+", O_RDWR | error=EACCES         | 1   | R+Failed to write old.bin: No space left on device.
Buffered write writes nothing           | buf              | write           | $chunk\)                       | retval=0             | 1   | R+Failed to write out.bin: Input/output error.
Buffered write interrupted              | buf              | write           | $chunk\)                       | error=EINTR          | 0   | R+Done
Existing output cannot be opened        | old              | openat          | "old\.bin", O_RDWR             | error=EACCES:when=@+ | 1   | R+Failed to open/create old.bin.
Existing output not to be written       | old              | openat          | "old\.bin", O_RDWR             | error=EPERM          | 1   | R+Failed to open/create old.bin.
Copy over an existing output fails      | old              | copy_file_range | .                              | error=EIO            | 1   | R+Failed to write old.bin: Input/output error.
Replacement made by name                | old              | openat          | O_TMPFILE                      | error=EOPNOTSUPP     | 0   | R+Done
Replacement's data cannot be written out| old              | sync_file_range | .                              | error=EIO            | 1   | R+Failed to replace old.bin: Input/output error.
Attributes not listed the second time   | old              | flistxattr      | copy_file_range >> .           | error=EIO            | 1   | R+Failed to replace old.bin: Input/output error.
Every temporary name taken              | old              | linkat          | \.bytemend                     | error=EEXIST:when=@..+100 | 1 | R+Failed to replace old.bin: File exists.
All but the last such name taken        | old              | linkat          | \.bytemend                     | error=EEXIST:when=@..+99 | 0  | R+Done
Its ACL, not the folder's default       | oldacl           | openat          | "in\.bin"                      | delay_enter=1        | 0   | R+Done
Replacement cannot be named             | old              | linkat          | \.bytemend                     | error=EIO            | 1   | R+Failed to replace old.bin: Input/output error.
Replacement's close fails               | old              | close           | linkat >> ^close               | error=EIO            | 1   | R+Failed to replace old.bin: Input/output error.
Replacement cannot be renamed           | old              | rename          | old\.bin                       | error=EIO            | 1   | R+Failed to replace old.bin: Input/output error.
Its owner cannot be given               | oldkept          | fchown          | .                              | error=EPERM          | 0   | R+Done
Attribute read as it grows              | oldkept          | fgetxattr       | fgetxattr >> .                 | error=ERANGE         | 0   | R+Done
Its attribute cannot be given           | oldkept          | fsetxattr       | user\.bytemend                 | error=EPERM          | 0   | R+Done
Its flags cannot be read                | oldkept          | ioctl           | FS_IOC_GETFLAGS                | error=EIO            | 0   | R+Done
Its project cannot be read              | oldkept          | ioctl           | FS_IOC_FSGETXATTR              | error=EIO            | 0   | R+Done
Its replacement finds no room           | oldkept          | copy_file_range | .                              | error=EDQUOT         | 0   | R+Done
No room, and it cannot be measured      | oldfull          | newfstatat      | copy_file_range >> .           | error=EIO            | 1   | R+Failed to write old.bin: Disk quota exceeded; a copy beside it needs up to $length bytes, and it was left as it was.
No holes can be punched in it           | oldlinked        | fallocate       | .                              | error=EOPNOTSUPP     | 0   | R+Done
No holes, zeros amid the old data       | oldlinked-zeros  | fallocate       | .                              | error=EOPNOTSUPP:when=@+ | 0 | R+Done
Punching a hole fails                   | oldlinked        | fallocate       | .                              | error=EIO            | 1   | R+Failed to write old.bin: Input/output error.
Punching a hole not permitted           | oldlinked        | fallocate       | .                              | error=EPERM          | 0   | R+Done
Existing output cannot be read back     | oldlinked-nopunch | openat         | "old\.bin", O_RDWR             | error=EACCES         | 0   | R+Done
Existing output cannot be cut           | oldlinked        | ftruncate       | $length                        | error=EIO            | 1   | R+Failed to write old.bin: Input/output error.
It cannot be made durable               | oldlinked        | fdatasync       | .                              | error=EIO            | 1   | R+Failed to write old.bin: Input/output error.
Existing output's close fails           | oldlinked        | close           | pwrite64 >> ^close             | error=EIO            | 1   | R+Failed to close old.bin: Input/output error.
Replaced through a symlink, by name     | oldsymlink       | openat          | O_TMPFILE                      | error=EOPNOTSUPP     | 0   | R+Done
Existing output replaced meanwhile      | oldswapped       | sync_file_range | .                              | delay_enter=2000000  | 1   | R+Failed to replace old.bin: File exists.
Existing output replaced at the swap    | oldswapped       | renameat2       | RENAME_EXCHANGE                | delay_enter=2000000  | 1   | R+Failed to replace old.bin: File exists.
Existing output removed before the copy | oldremoved       | openat          | O_TMPFILE                      | delay_enter=2000000  | 1   | R+Failed to replace old.bin: No such file or directory.
Output's symlink moved meanwhile        | newrelinked      | pwrite64        | .                              | delay_enter=2000000  | 1   | R+Failed to create link.bin: File exists.
Temporary name taken meanwhile          | tmpswapped       | linkat          | bytemend                       | delay_exit=2000000   | 1   | R+Failed to replace old.bin: File exists.
Existing output removed meanwhile       | oldremoved       | sync_file_range | .                              | delay_enter=2000000  | 1   | R+Failed to replace old.bin: No such file or directory.
Opened to be written meanwhile          | oldopened        | sync_file_range | .                              | delay_enter=2000000  | 1   | R+Failed to replace old.bin: another program opened it meanwhile; it was left as it was.
Opened to be written at the swap        | oldopened        | renameat2       | RENAME_EXCHANGE                | delay_enter=2000000  | 1   | R+Failed to replace old.bin: another program opened it meanwhile; it was left as it was.
Opened to be read meanwhile             | oldread          | sync_file_range | .                              | delay_enter=2000000  | 0   | R+Done
A running program replaced              | running          | -               | -                              | -                    | 0   | R+Done
Replaced without /proc, failing midway  | oldnoproc        | -               | -                              | -                    | 1   | R+Failed to write old.bin: File too large.
Existing output saved anew meanwhile    | oldsaved         | openat          | O_TMPFILE                      | delay_enter=2000000  | 1   | R+Failed to replace old.bin: File exists.
Temporary names taken before the run    | oldplanted       | -               | -                              | -                    | 0   | R+Done
Another user's link planted after open  | planted          | openat          | "pub/out\.bin", O_WRONLY       | delay_exit=2000000   | 1   | R+Failed to open/create pub/out.bin.
Another user's link there before        | planted-before   | -               | -                              | -                    | 1   | R+Failed to open/create pub/out.bin.
One's own link there, followed          | planted-own      | -               | -                              | -                    | 0   | R+Done
The same in another user's folder       | planted-own-theirs | -             | -                              | -                    | 0   | R+Done
A FIFO that no program reads            | fifo             | -               | -                              | -                    | 1   | R+Failed to open/create out.bin.
Its folder moved meanwhile              | oldmoved         | sync_file_range | .                              | delay_enter=2000000  | 0   | R+Done
In place: cannot open for writing       | inplace          | openat          | "in\.bin", O_RDWR              | error=EACCES:when=@+ | 1   | R+Failed to open/create in.bin.
In place: byte cannot be written        | inplace          | pwrite64        | "A", 1, $at                    | error=EIO            | 1   | R+Failed to write in.bin: Input/output error.
In place: write interrupted             | inplace          | pwrite64        | "A", 1, $at                    | error=EINTR          | 0   | R+Done
In place: its writeback fails           | inplace          | sync_file_range | .                              | error=EIO            | 1   | R+Failed to write in.bin: Input/output error.
In place: close fails                   | inplace          | close           | pwrite64 >> ^close             | error=EIO            | 1   | R+Failed to close in.bin: Input/output error.
In place: lock probe cannot be asked    | inplace          | fcntl           | F_OFD_GETLK                    | error=ENOLCK         | 0   | R+Done
In place while another program appends  | grown            | openat          | "in\.bin", O_RDWR              | delay_enter=2000000  | 0   | R+Done
In place while another program locks it | locked           | -               | -                              | -                    | 0   | R+Done
In place while another program cuts it  | cut              | openat          | "in\.bin", O_RDWR              | delay_enter=2000000  | 1   | R+Location $at is outside in.bin, which is now $cut_to bytes long.
In place, input replaced meanwhile      | swapped          | openat          | "in\.bin", O_RDWR              | delay_enter=2000000  | 1   | R+Cannot copy in.bin to in.bin: in.bin was replaced meanwhile; nothing was written.
Input shrinks before sharing, XFS       | shrunk-xfs       | openat          | O_TMPFILE                      | delay_enter=2000000  | 1   | R+Failed to read file.
Input shrinks before sharing, Btrfs     | shrunk-btrfs     | openat          | O_TMPFILE                      | delay_enter=2000000  | 1   | R+Failed to read file.
Input shrinks before sharing over old   | shrunk-old-xfs   | openat          | "mnt/old\.bin", O_RDWR         | delay_enter=2000000  | 1   | R+Failed to read file.
No room on Btrfs                        | noroom-btrfs     | -               | -                              | -                    | 1   | R+Failed to write mnt/old.bin: No space left on device; a copy beside it needs up to $length bytes, and it was left as it was.
No room on XFS, blocks shared           | noroom-xfs       | -               | -                              | -                    | 1   | R+Failed to write mnt/old.bin: No space left on device; a copy beside it needs up to $length bytes, and it was left as it was.
No room on ext4, a hole in the old file  | noroom-ext4      | -               | -                              | -                    | 1   | R+Failed to write mnt/old.bin: No space left on device; a copy beside it needs up to $length bytes, and it was left as it was.
No room on XFS, old.bin in 202 extents  | noroom-xfs-extents | -             | -                              | -                    | 0   | R+Done
Copy over a NOCOW output               | nocow            | openat          | "mnt/in\.bin"                  | delay_enter=1        | 0   | R+Done
Copy over a NOCOW output fails          | nocow            | copy_file_range | .                              | error=EIO            | 1   | R+Failed to write mnt/old.bin: Input/output error.
Copy over an output in a project        | project          | openat          | "mnt/in\.bin"                  | delay_enter=1        | 0   | R+Done
Its mount not told, in a project        | project          | statx           | S_IFREG                        | error=EIO            | 0   | R+Done
Real full file system                   | full             | -               | -                              | -                    | 1   | R+Failed to write full/out.bin: No space left on device.
Real file size limit                    | ulimit           | -               | -                              | -                    | 1   | R+Failed to write out.bin: File too large.
Killed in the middle of a copy          | kill             | -               | -                              | -                    | 137 | R+
Killed, through a dangling symlink      | killlink         | -               | -                              | -                    | 137 | R+
Killed, with no unnamed files           | killnamed        | -               | -                              | -                    | 137 | R+
Run again after that kill               | killnamed-again  | -               | -                              | -                    | 0   | R+Done
Killed over an existing output          | killold          | -               | -                              | -                    | 137 | R+
A file mounted over the output          | oldmounted       | -               | -                              | -                    | 0   | R+Done
The same, the table of mounts empty     | oldmounted-untold | -              | -                              | -                    | 0   | R+Done
A loop device on the output             | oldlooped        | -               | -                              | -                    | 0   | R+Done
An append-only folder                   | oldappend        | -               | -                              | -                    | 0   | R+Done
A file bind-mounted elsewhere           | oldbound         | -               | -                              | -                    | 0   | R+Done
Overlay: upper in, merged out           | overlay          | -               | -                              | -                    | 0   | R+Done
Overlay: merged in, upper out           | overlay-back     | -               | -                              | -                    | 0   | R+Done
Loop device in, its file out            | loop             | -               | -                              | -                    | 0   | R+Done
Loop: file not in whole sectors         | loop-unaligned   | -               | -                              | -                    | 1   | R+Cannot copy DEV to in.bin: one is a loop device on the other, which it does not show byte for byte.
Loop device at an offset                | loop-offset      | -               | -                              | -                    | 1   | R+Cannot copy DEV to in.bin: one is a loop device on the other, which it does not show byte for byte.
Loop device with a size limit           | loop-limit       | -               | -                              | -                    | 1   | R+Cannot copy DEV to in.bin: one is a loop device on the other, which it does not show byte for byte.
File in, its offset loop out            | loop-offset-back | -               | -                              | -                    | 1   | R+Cannot copy in.bin to DEV: one is a loop device on the other, which it does not show byte for byte.
Loop device on a loop device            | loop-stacked     | -               | -                              | -                    | 1   | R+Cannot copy DEV to in.bin: one is a loop device on the other, which it does not show byte for byte.
Loops on stretches that do not overlap  | loop-apart       | -               | -                              | -                    | 0   | R+Done
Loops apart, the later stretch in      | loop-apart-back  | -               | -                              | -                    | 0   | R+Done
Loop and a partition that do not overlap| loop-apart-partition | -           | -                              | -                    | 0   | R+Done
Partition of a loop device at an offset  | loop-apart-partition-offset | -    | -                              | -                    | 0   | R+Done
Standard output the input's loop device | loop-stdout      | -               | -                              | -                    | 1   | E+Cannot read in.bin: it is standard output, where the report goes.
Standard output the output's loop device| loop-stdout-out  | -               | -                              | -                    | 1   | E+Cannot write in.bin: it is standard output, where the report goes.
Loop device on a vanished loop node     | loop-unreached   | -               | -                              | -                    | 1   | R+Cannot tell whether DEV and in.bin are one file or two: a loop device stands on a device that cannot be opened; nothing was written.
The same, copied to a new file          | loop-unreached-new | -             | -                              | -                    | 0   | R+Done
In place through a loop device's cache  | loop-cached      | -               | -                              | -                    | 0   | R+Done
Copied twice through bindfs             | bindfs-twice     | -               | -                              | -                    | 0   | R+Done
Two files with one identity             | bindfs-same-id   | -               | -                              | -                    | 0   | R+Done
Two files with one identity and state   | bindfs-same-state | -              | -                              | -                    | 1   | R+Cannot tell whether view/a.bin and view/inner/b.bin are one file or two: they show one identity; nothing was written.
The same, with another program's lock   | bindfs-locked    | -               | -                              | -                    | 1   | R+Cannot tell whether view/a.bin and view/inner/b.bin are one file or two: they show one identity, and another program holds a lock on it; nothing was written.
Reflinks on XFS                         | reflink-xfs      | -               | -                              | -                    | 0   | R+Done
Reflinks on Btrfs                       | reflink-btrfs    | -               | -                              | -                    | 0   | R+Done
Power lost after Done, ext4             | crash-ext4       | -               | -                              | -                    | 0   | R+Done
Power lost after Done, XFS              | crash-xfs        | -               | -                              | -                    | 0   | R+Done
Power lost after Done, Btrfs            | crash-btrfs      | -               | -                              | -                    | 0   | R+Done
Power lost at random instants, ext4     | crash-any-ext4   | -               | -                              | -                    | 0   | R+Done
Power lost at random instants, XFS      | crash-any-xfs    | -               | -                              | -                    | 0   | R+Done
Power lost at random instants, Btrfs    | crash-any-btrfs  | -               | -                              | -                    | 0   | R+Done
Standard output a pipe                  | pipe             | -               | -                              | -                    | 1   | E+Cannot write /dev/stdout: it is standard output, where the report goes.
EOF
)

# The reliability document's tables: the roads, then the rows.
table() {
    local name mode call which fault want last made status line
    echo "| Road | What it is |"
    echo "|---|---|"
    for mode in $(roads); do
        describing=1 "road_$mode"
        echo "| \`$mode\` | $what |"
    done
    echo
    echo "| Fault | Road | Made to fail | Status | Last line |"
    echo "|---|---|---|---|---|"
    while IFS='|' read -r name mode call which fault want last; do
        made="for real"
        if [ "$call" != - ]; then
            made=${fault%%:*} made=${made#error=} made=${made/#retval=/returns }
            [[ $made == delay_enter=* ]] && made="delayed $((${made#*=} / 1000000)) s"
            [[ $made == delay_exit=* ]] && made="held $((${made#*=} / 1000000)) s once it returns"
            [[ $fault == *when=@+ ]] && made+=", and every later call"
            [[ $fault == *when=@..+* ]] && made+=", and the $((${fault##*+} - 1)) calls after it"
            made="\`$call\` matching \`$which\`: $made"
        fi
        status=$want line=${last#R+}
        [ "$want" = 137 ] && status=killed line="(none after the report line)"
        [[ $last == E+* ]] && line="on standard error: ${last#E+}"
        [[ $last == R+E+* ]] && line="the report line, then on standard error: ${last#R+E+}"
        echo "| $name | \`$mode\` | $made | $status | $line |"
    done <<<"$cases"
}

if [ "${1-}" = --table ]; then
    begin="<!-- faults.sh --table -->" end="<!-- end of faults.sh --table -->"
    if [ -n "${2-}" ] && ! [ "$(grep -cxF -- "$begin" "${3-}") $(grep -cxF -- "$end" "${3-}")" = "1 1" ]; then
        echo "faults: ${3-} needs the lines '$begin' and '$end', once each"
        exit 1
    fi
    case ${2-} in
    "") table ;;
    --check)
        diff -u <(awk -v begin="$begin" -v end="$end" '$0 == end { f = 0 } f; $0 == begin { f = 1 }' "$3") <(table) ||
            { echo "faults: the tables in $3 are not the rows': tests/faults.sh --table --update $3"; exit 1; }
        ;;
    --update)
        TABLE=$(table) awk -v begin="$begin" -v end="$end" '
            $0 == end { f = 0 } !f; $0 == begin { print ENVIRON["TABLE"]; f = 1 }' "$3" >"$3.new" && mv "$3.new" "$3"
        ;;
    *) echo "usage: tests/faults.sh --table [--check | --update] file" >&2; exit 2 ;;
    esac
    exit
fi

# CTest labels a road that mounts "mounts", and the others "faults"; one
# whose rows strace faults too, both.
if [ "${1-}" = --roads ]; then
    for mode in $(roads); do
        describing=1 "road_$mode"
        labels=faults
        if [ -n "$mounts" ]; then
            labels=mounts
            awk -F'|' -v road="$mode" '$2 == road && $3 != "-" { traced = 1 } END { exit !traced }' <<<"$cases" &&
                labels=faults,mounts
        fi
        echo "$mode $labels"
    done
    exit
fi
only=""
if [ "${1-}" = --road ]; then
    only=$2
    shift 2
    declare -F "road_$only" >/dev/null || { echo "faults: no road $only"; exit 2; }
fi
exe=$(realpath "$1")
shift
# qemu-user makes the command's calls itself, among its own, by this
# machine's names: strace would see and fault the emulator, not the command.
if [ $# -gt 0 ]; then
    echo "skipped: the command runs under $1, whose calls strace would fault instead of the command's"
    exit 77
fi

command -v strace >/dev/null || { echo "skipped: strace is not installed"; exit 77; }
strace -o /dev/null true 2>/dev/null || { echo "skipped: tracing (ptrace) is not allowed here"; exit 77; }
# LeakSanitizer cannot work under a tracer; the other sanitizers can.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

work=$(mktemp -d)
trap 'unmount_image; chattr -a "$work/a" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" || exit 1

# The input, with its hole, its byte not yet 'A'; the copy it should become;
# and old.bin, to be overwritten.
head -c $length /dev/urandom >original.bin
printf '\0' | dd of=original.bin bs=1 seek=$at conv=notrunc status=none
fallocate -p -o $middle -l $chunk original.bin 2>/dev/null ||
    dd if=/dev/zero of=original.bin bs=$chunk seek=2 count=1 conv=notrunc status=none
# patch_byte file: its byte at $at made $value, as a run makes it.
patch_byte() { printf '\x'$value | dd of="$1" bs=1 seek=$at conv=notrunc status=none; }
cp original.bin expected.bin
patch_byte expected.bin
head -c $old_length /dev/urandom >old-original.bin

# The rows name each call as x86-64 does; other systems make some of them
# under other names. 32-bit ones seek with _llseek (as ppc64el does too),
# measure with statx, and have fcntl64, ftruncate64 and mmap2; ARM and
# PowerPC start writeback with sync_file_range2; ARM64 and RISC-V have
# only linkat, and rename by renameat or renameat2. A row faults the call
# by the first of its names that the trial run's trace shows.
declare -A other_names=([lseek]=_llseek [newfstatat]="statx fstatat64" [fcntl]=fcntl64
    [ftruncate]=ftruncate64 [mmap]=mmap2 [sync_file_range]=sync_file_range2 [link]=linkat
    [rename]="renameat renameat2")

passed=0 failed=0 skipped=0
while IFS='|' read -r name mode call which fault want last; do
    [ -z "$only" ] || [ "$mode" = "$only" ] || continue
    before_failed=$failed before_skipped=$skipped
    rm -f trace stdout stderr listing blocks locked
    rm -rf full lower upper ovlwork merged real view
    unmount_image
    fresh_files
    [ $skipped -eq $before_skipped ] || continue
    args=("$input" "$output" $at $value)
    runs && [ $skipped -eq $before_skipped ] || continue

    # What the user sees: the status, and on failure one line after the
    # report, never "Done"; nothing on standard error but an E+ line, or
    # the system's reason for a failure to open, which the fixed words of
    # those two lines have no room for.
    expected=${last/#R+/$report$'\n'} expected_err=""
    expected=${expected%$'\n'}  # "R+" alone: the report line, and nothing after it
    if [[ $last == E+* ]]; then expected="" expected_err=${last#E+}; fi
    if [[ $last == R+E+* ]]; then expected=$report expected_err=${last#R+E+}; fi
    if [[ $last == *"Error opening "* || $last == *"Failed to open/create "* ]]; then
        [ "$(wc -l <stderr)" = 1 ] && grep -q "^bytemend: cannot open.*: ." stderr &&
            expected_err=$(cat stderr) || fail "gave no reason on standard error"
    fi
    [ "$status" = "$want" ] || fail "exit status $status, expected $want"
    [ "$(cat stdout)" = "$expected" ] || fail "printed '$(head -c 300 stdout | tr '\n\0' '/?')', expected '${expected//$'\n'//}'"
    [ "$(cat stderr)" = "$expected_err" ] || fail "wrote to standard error: $(head -c 200 stderr)"

    # What the user is left with.
    dir=$(dirname "$output")
    checks
    # A run removes its temporary file, failed or not; only a kill may leave it.
    if [ -z "$temp_kept" ] && compgen -G "$dir/.bytemend-*" >/dev/null; then
        fail "left its temporary file $(echo "$dir"/.bytemend-*)"
    fi
    [ $failed -eq $before_failed ] && passed=$((passed + 1))
done <<<"$cases"
unmount_image

echo "faults: $passed passed, $failed failed, $skipped skipped"
[ $failed -eq 0 ] || exit 1
[ $passed -gt 0 ] || exit 77
