# IBM Z, big-endian (Debian: g++-s390x-linux-gnu).
set(linux_triplet s390x-linux-gnu)
set(linux_cpu s390x)
set(qemu_cpu s390x)
set(debian_arch s390x)
set(linux_arch s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
