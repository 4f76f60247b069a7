# Sourced by each job beside it, from the top of the checkout: what more
# than one job needs. Each job runs as root, as CI does, and installs what
# it needs itself.
export DEBIAN_FRONTEND=noninteractive
# Waits for another apt to finish rather than failing at once.
apt=(apt-get -o DPkg::Lock::Timeout=600)

# The compiler, CMake, Ninja and GoogleTest, with its sources for the cross
# builds; libattr and libacl, which carry a replaced file's attributes;
# strace for the fault table, what its rows mount, attr and acl (the tools)
# for the extended attributes an existing output keeps, and sfdisk for
# the partition table of a loop row.
toolchain=(g++ cmake ninja-build=ninja libgtest-dev=/usr/include/gtest/gtest.h
    googletest=/usr/src/googletest/CMakeLists.txt libattr1-dev=/usr/include/attr/libattr.h
    libacl1-dev=/usr/include/acl/libacl.h strace bindfs xfsprogs=mkfs.xfs btrfs-progs=mkfs.btrfs
    attr=setfattr acl=setfacl fdisk=sfdisk)

# installed PACKAGE: whether dpkg has it installed, not just its settings
# left from a removal.
installed() {
    [[ $(dpkg-query -W -f '${db:Status-Abbrev}' "$1" 2>/dev/null) == ii* ]]
}

# refresh: the package lists. A mirror caught mid-sync serves a list that
# does not match its index for a minute or so: the update is tried again,
# and after the last try the lists it did fetch are used, so that only an
# install that needs a missing list fails.
refresh() {
    local try
    for try in 1 2 3; do
        "${apt[@]}" update && return
        sleep 30
    done
    "${apt[@]}" update || echo "ci: some package lists could not be fetched; using those that were"
}

# need [APT-OPTION...] PACKAGE[=PROBE]...: installs, in one go, each package
# that is missing. A probe is a program, or a file if it starts with /;
# without one, a package is there if a program of its name is on the PATH
# or dpkg has it installed.
need() {
    local options=() missing=() item package probe
    while [[ ${1-} == -* ]]; do options+=("$1"); shift; done
    for item; do
        package=${item%%=*} probe=${item#*=}
        if [ "$probe" = "$item" ]; then
            command -v "$package" >/dev/null || installed "$package" || missing+=("$package")
        elif [[ $probe == /* ]]; then
            [ -e "$probe" ] || missing+=("$package")
        else
            command -v "$probe" >/dev/null || missing+=("$package")
        fi
    done
    if [ ${#missing[@]} -gt 0 ]; then
        refresh
        "${apt[@]}" install -y "${options[@]}" "${missing[@]}"
    fi
}

# A small file system for the tests of a copy that does not fit, and two
# that number their files alike for the test of two files with one
# identity, native and under Wine; the tests skip themselves where there
# are none. Unmounted as the job ends.
mounts() {
    full=$(mktemp -d) twin=$(mktemp -d)
    mkdir "$twin/a" "$twin/b"
    # The ordinary user of the Windows tests reaches them too.
    chmod 755 "$twin"
    trap 'umount "$full" "$twin/a" "$twin/b" 2>/dev/null; rm -rf "$full" "$twin"' EXIT
    if mount -t tmpfs -o size=1m bytemend-full "$full"; then
        export BYTEMEND_FULL_DIR="$full"
    else
        echo "ci: skipped the full-disk tests: no small file system could be mounted"
    fi
    if mount -t tmpfs -o size=1m bytemend-twin "$twin/a" && mount -t tmpfs -o size=1m bytemend-twin "$twin/b"; then
        export BYTEMEND_TWIN_A="$twin/a" BYTEMEND_TWIN_B="$twin/b"
    else
        echo "ci: skipped the test of two files with one identity: no two small file systems could be mounted"
    fi
}

# smoke DIR COMMAND...: in DIR, with no input, the command copies a file
# with its first byte replaced, then patches the copy's second byte in
# place, and says Done each time.
smoke() {
    local dir=$1
    shift
    printf 'Hello, world\n' >"$dir/in.bin"
    if ! (cd "$dir" && "$@" in.bin out.bin 0 4a </dev/null >copy.txt && "$@" out.bin out.bin 1 41 </dev/null >patch.txt) ||
        ! grep -qx Done "$dir/copy.txt" || ! grep -qx Done "$dir/patch.txt" || [ "$(cat "$dir/out.bin")" != "JAllo, world" ]; then
        echo "ci: '$*' does not copy and patch as it should"
        return 1
    fi
}
