# Cross-compiles for Windows with MinGW-w64, for the architecture in
# mingw_arch (set by mingw-w64-i686.cmake or mingw-w64-x86_64.cmake).
# The posix thread model gives GoogleTest std::thread; -static leaves the
# executables no MinGW DLLs to find, under Wine or on a real Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${mingw_arch})
set(CMAKE_C_COMPILER ${mingw_arch}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_arch}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_arch}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_arch}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Debian's `wine` runs every program through Wine's 32-bit loader once that
# is installed, and that loader is a 32-bit program, which some kernels
# cannot start ("Exec format error"). A 64-bit program needs only the 64-bit
# loader, so it is handed to that one directly where it is found.
if(mingw_arch STREQUAL x86_64 AND EXISTS /usr/lib/wine/wine64)
    set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
else()
    set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
