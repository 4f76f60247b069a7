# 32-bit ARM with hardware floating point (Debian: g++-arm-linux-gnueabihf).
set(linux_triplet arm-linux-gnueabihf)
set(linux_cpu armv7l)
set(qemu_cpu arm)
set(debian_arch armhf)
set(linux_arch armhf)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
