# 32-bit Windows (Debian: g++-mingw-w64-i686).
set(mingw_arch i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
