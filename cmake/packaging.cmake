# Installing and packaging: what cmake --install puts where, for each kind of
# build; the uninstall target; and CPack's Debian package, static tarball and
# Windows zip. Included once the bytemend target exists.

include(GNUInstallDirs)
# A packager sets the maintainer, which the Debian package and its changelog
# name; the placeholder is for builds of one's own.
set(BYTEMEND_MAINTAINER "Bytemend developers <bytemend@localhost>"
    CACHE STRING "The Debian package's maintainer, as Name <address>")
if(WIN32)
    # cpack --preset win64 (or win32): the executable, with a guide for
    # those who use it on Windows and the licence, as text files that
    # Notepad reads (CR LF).
    install(TARGETS bytemend RUNTIME DESTINATION .)
    configure_file(doc/windows.txt README.txt @ONLY NEWLINE_STYLE CRLF)
    configure_file(LICENSE LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt DESTINATION .)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(CPACK_PACKAGE_FILE_NAME bytemend-${PROJECT_VERSION}-win64)
    else()
        set(CPACK_PACKAGE_FILE_NAME bytemend-${PROJECT_VERSION}-win32)
    endif()
elseif(BYTEMEND_STATIC)
    # cpack --preset static: bytemend-<version>-linux-<cpu>.tar.gz, the
    # download for any Linux of that CPU: the command, its manual page, the
    # README and the licence, side by side.
    install(TARGETS bytemend RUNTIME DESTINATION .)
    install(FILES README.md LICENSE doc/bytemend.1 DESTINATION .)
    # The documents the README links to, where its links find them.
    install(DIRECTORY doc/ DESTINATION doc FILES_MATCHING PATTERN "*.md")
    if(NOT linux_arch)
        set(linux_arch ${CMAKE_SYSTEM_PROCESSOR})
    endif()
    set(CPACK_GENERATOR TGZ)
    set(CPACK_PACKAGE_FILE_NAME bytemend-${PROJECT_VERSION}-linux-${linux_arch})
else()
    install(TARGETS bytemend RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(NOT WIN32 AND NOT BYTEMEND_STATIC)
    # Compressed, as Debian keeps its manual pages; -n leaves out the time
    # so that the same page gives the same package.
    find_program(GZIP gzip)
    set(man_page ${CMAKE_CURRENT_SOURCE_DIR}/doc/bytemend.1)
    if(GZIP)
        add_custom_command(OUTPUT bytemend.1.gz
                           COMMAND ${GZIP} -9nc ${man_page} > bytemend.1.gz
                           DEPENDS ${man_page})
        add_custom_target(man_page ALL DEPENDS bytemend.1.gz)
        set(man_page ${CMAKE_CURRENT_BINARY_DIR}/bytemend.1.gz)
    endif()
    install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

    # The licence in Debian's machine-readable form, and the changelog, where
    # Debian keeps them. MIT is "Expat" there.
    file(READ LICENSE licence)
    string(REGEX REPLACE "^MIT License\n\nCopyright \\(c\\) [^\n]*\n\n" "" licence "${licence}")
    string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
    string(REGEX REPLACE "\n([^\n])" "\n \\1" licence "${licence}")
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/copyright
         "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
         "Upstream-Name: bytemend\n\n"
         "Files: *\n"
         "Copyright: 2026 the Bytemend developers\n"
         "License: Expat\n ${licence}")
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
    if(GZIP)
        set(changes ${CMAKE_CURRENT_SOURCE_DIR}/CHANGELOG.md)
        set(to_debian ${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian-changelog.sh)
        add_custom_command(OUTPUT changelog.gz
                           COMMAND sh ${to_debian} ${changes} ${BYTEMEND_MAINTAINER} changelog
                           COMMAND ${GZIP} -9nf changelog
                           DEPENDS ${changes} ${to_debian} VERBATIM)
        add_custom_target(changelog ALL DEPENDS changelog.gz)
        install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
    endif()
endif()

# What the last "cmake --install" of this build folder wrote, for the
# uninstall target. Not install_manifest.txt: cpack installs too, into a
# staging folder of its own, and rewrites that file with the package's
# paths, which would then be removed from the system instead.
# An install as root into /usr/local (the README's quick start, through sudo
# or su) leaves both lists in this build folder owned by root, where the
# owner's next install, cpack's own among them, could not write them: each
# is removed first, as the folder's owner may, and written anew.
set(installed_list ${CMAKE_CURRENT_BINARY_DIR}/installed.txt)
install(CODE "set(installed_list [[${installed_list}]])")
install(CODE "file(REMOVE [[${CMAKE_CURRENT_BINARY_DIR}/install_manifest.txt]])")
install(CODE [[
    if("$ENV{DESTDIR}" STREQUAL "" AND NOT CMAKE_INSTALL_PREFIX MATCHES "/_CPack_Packages/")
        list(JOIN CMAKE_INSTALL_MANIFEST_FILES "\n" installed)
        file(REMOVE "${installed_list}")
        file(WRITE "${installed_list}" "${installed}\n")
    endif()
]])
add_custom_target(uninstall COMMAND ${CMAKE_COMMAND} -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/uninstall.cmake
                  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} VERBATIM)

# cpack --preset deb, from the release build, makes the Debian package.
set(CPACK_PACKAGE_NAME bytemend)
set(CPACK_PACKAGE_CONTACT "${BYTEMEND_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "copy a file with one byte replaced, or patch that byte in place")
set(CPACK_PACKAGE_DESCRIPTION [=[
Bytemend copies a file with exactly one byte replaced, or patches that byte
in place when the output is the input: flip a flag in a firmware image, fix
a byte in a save file or a ROM, patch an instruction in a binary. It works on
files of any size, keeps sparse files sparse and uses reflinks where the file
system shares blocks.]=])
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
include(CPack)
