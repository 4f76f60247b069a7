# Hardening, as distributions build their packages: a position-independent
# executable, checked string and memory calls, stack canaries, and
# relocations made read-only before main runs. bytemend_core passes its
# compile options on to whatever links it; the link options are the
# command's. Included once bytemend_core and bytemend exist.
option(BYTEMEND_HARDEN "Build with the distributions' hardening flags" ON)
set(harden OFF)
if(BYTEMEND_HARDEN AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    set(harden ON)
endif()

if(harden)
    target_compile_options(bytemend_core PUBLIC -fstack-protector-strong
        # Checked calls need optimising, and some compilers define the
        # level already.
        "$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
    if(WIN32)
        # MinGW-w64 keeps the canary and the checked calls in libssp; the
        # image is placed anywhere, never run from data pages, and on 64-bit
        # Windows anywhere in the address space.
        target_link_libraries(bytemend_core PUBLIC ssp)
        target_link_options(bytemend PRIVATE -Wl,--dynamicbase,--nxcompat)
        if(CMAKE_SIZEOF_VOID_P EQUAL 8)
            target_link_options(bytemend PRIVATE -Wl,--high-entropy-va)
        endif()
    elseif(NOT APPLE)
        target_link_options(bytemend PRIVATE -Wl,-z,relro,-z,now)
        if(NOT BYTEMEND_STATIC)
            set_target_properties(bytemend_core bytemend PROPERTIES POSITION_INDEPENDENT_CODE ON)
        endif()
    endif()
endif()

# The static command, for the Linux downloads. CMake's own PIE link option
# (-pie) would come after -static-pie and make the command dynamic again, so
# the command asks CMake for none: its position is left unset, and it is
# compiled with -fPIE and linked with -static-pie by hand. Debian's C
# library can start a static PIE (rcrt1.o) on x86-64 and arm64 only;
# elsewhere the command is static at a fixed address.
if(BYTEMEND_STATIC AND NOT WIN32 AND NOT APPLE)
    include(CheckLinkerFlag)
    check_linker_flag(CXX -static-pie BYTEMEND_HAS_STATIC_PIE)
    if(harden AND BYTEMEND_HAS_STATIC_PIE)
        set_target_properties(bytemend_core PROPERTIES POSITION_INDEPENDENT_CODE ON)
        target_compile_options(bytemend PRIVATE -fPIE)
        target_link_options(bytemend PRIVATE -static-pie)
    else()
        if(harden)
            message(STATUS "No static PIE with this C library: linking with -static")
        endif()
        set_target_properties(bytemend_core bytemend PROPERTIES POSITION_INDEPENDENT_CODE OFF)
        target_link_options(bytemend PRIVATE -static)
    endif()
endif()

# CMake adds the link options of the positions set above only where the
# linker takes them.
if(NOT WIN32 AND NOT APPLE)
    include(CheckPIESupported)
    check_pie_supported()
endif()
