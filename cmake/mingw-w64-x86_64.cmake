# 64-bit Windows (Debian: g++-mingw-w64-x86-64).
set(mingw_arch x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
