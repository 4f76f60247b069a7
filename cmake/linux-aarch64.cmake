# 64-bit ARM (Debian: g++-aarch64-linux-gnu).
set(linux_triplet aarch64-linux-gnu)
set(linux_cpu aarch64)
set(qemu_cpu aarch64)
set(debian_arch arm64)
set(linux_arch aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
