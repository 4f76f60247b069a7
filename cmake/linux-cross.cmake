# Cross-compiles for Linux on another CPU with Debian's cross compilers, for
# the GNU triplet in linux_triplet (set by linux-aarch64.cmake and the
# others beside it). What is built for the target runs under qemu-user:
# no binfmt handler is assumed, so the emulator is named, with -L for the
# folder that holds the target's loader and libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${linux_cpu})
set(CMAKE_C_COMPILER ${linux_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${linux_triplet}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${linux_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# qemu-user's emulators, or qemu-user-static's, which also run a static
# command inside a chroot that holds nothing else.
find_program(BYTEMEND_QEMU_${qemu_cpu} NAMES qemu-${qemu_cpu} qemu-${qemu_cpu}-static)
# The loader from -L's folder would otherwise look libraries up in this
# machine's cache, which lists the target's C library wherever multiarch
# installed it (as the package's dependencies need): a loader and a C
# library of two versions crash or hang in fork. LD_LIBRARY_PATH keeps them
# one.
if(BYTEMEND_QEMU_${qemu_cpu})
    set(CMAKE_CROSSCOMPILING_EMULATOR ${BYTEMEND_QEMU_${qemu_cpu}} -L /usr/${linux_triplet}
        -E LD_LIBRARY_PATH=/usr/${linux_triplet}/lib)
endif()
# The package is labelled for the target, not for the machine that built
# it; linux_arch names the static download.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${debian_arch})
