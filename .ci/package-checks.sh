# Sourced by .ci/package and .ci/ports, after lib.sh: the checks of a
# Debian package and of a static tarball, for this CPU or another.

# deb_check BUILD ARCH [EMULATOR]: the Debian package of a build folder,
# checked without installing it, so that a Bytemend the machine already has
# is left as it is. It is labelled ARCH and depends on the C library;
# lintian finds nothing (but the placeholder maintainer's address, until a
# packager sets one); the command runs from the package's own tree, through
# the emulator for another CPU; its manual page renders; and the build's
# own command, unstripped, is hardened.
deb_check() {
    local build=$1 arch=$2 emulator=${3-} package=deb deb root placeholder=()
    [ "$build" = release ] || package=deb-$build
    cpack --preset "$package"
    deb=$(echo "build/$build/bytemend_"*"_$arch.deb")
    if [ "$(dpkg-deb -f "$deb" Architecture)" != "$arch" ] || [[ $(dpkg-deb -f "$deb" Depends) != *libc6\ * ]]; then
        echo "ci: $deb is not labelled $arch, or does not depend on libc6"
        return 1
    fi
    [[ $(dpkg-deb -f "$deb" Maintainer) != *@localhost\> ]] ||
        placeholder=(--suppress-tags bogus-mail-host,bogus-mail-host-in-debian-changelog)
    lintian --fail-on error,warning "${placeholder[@]}" "$deb"
    root=$(mktemp -d)
    dpkg-deb -x "$deb" "$root"
    smoke "$root" ${emulator:+"$emulator"} usr/bin/bytemend
    # grep reads to the end here: with -q it could leave early, man would
    # die of SIGPIPE, and pipefail would fail a good page.
    man -l "$root/usr/share/man/man1/bytemend.1.gz" | grep "^SYNOPSIS" >/dev/null
    [ -s "$root/usr/share/doc/bytemend/copyright" ]
    rm -rf "$root"
    if [ -z "$emulator" ]; then
        hardening-check --nocfprotection "build/$build/bytemend"
    else
        # The host's objdump cannot read another CPU's code: only the stack
        # clash check, which is not required, needs it.
        hardening-check --nocfprotection "build/$build/bytemend" 2>/dev/null
    fi
    echo "ci: $deb passes lintian, runs${emulator:+ under $emulator}, has a manual page and is hardened"
}

# static_check PRESET [EMULATOR]: the static command from its tarball, in an
# empty chroot: a copy and a patch in place with no loader and no library
# at hand; for another CPU the static emulator is the only other file there.
static_check() {
    local preset=$1 qemu=${2-} tarball top dir run=(/bytemend) checks=(--nocfprotection --nostackprotector)
    cmake --workflow --preset "$preset"
    tarball=$(echo "build/$preset/bytemend-"*"-linux-"*.tar.gz)
    top=$(basename "$tarball" .tar.gz)
    listing=$(tar tzf "$tarball" | sort | tr '\n' ' ')
    [ "$listing" = "$top/LICENSE $top/README.md $top/bytemend $top/bytemend.1 $top/doc/ $(cd doc && printf "$top/doc/%s " *.md)" ] ||
        { echo "ci: $tarball holds $listing"; return 1; }
    dir=$(mktemp -d)
    tar xzf "$tarball" -C "$dir" --strip-components=1 "$top/bytemend"
    if [ -n "$qemu" ]; then
        cp "$(command -v "$qemu")" "$dir/"
        run=("/$qemu" /bytemend)
    fi
    smoke "$dir" chroot "$dir" "${run[@]}"
    rm -rf "$dir"
    # hardening-check finds the stack protector by the canary's failure
    # call, which a static command does not import: its own code, in the
    # library it is linked from, is checked for it instead. Without a C
    # library that starts a static PIE, the command has a fixed address
    # and nothing to bind.
    if [[ $(file "build/$preset/bytemend") != *static-pie\ linked* ]]; then
        echo "ci: $preset is static at a fixed address: its C library cannot start a static PIE"
        checks+=(--nopie --nobindnow)
    fi
    hardening-check "${checks[@]}" "build/$preset/bytemend" 2>/dev/null
    hardening-check --nocfprotection "build/$preset/libbytemend_core.a" 2>/dev/null
    echo "ci: $tarball runs in an empty chroot and is hardened"
}
