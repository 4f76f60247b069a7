# Removes each file that the last "cmake --install" from this build folder
# wrote, as its installed.txt lists them, then the folders named for Bytemend
# that this leaves empty (share/doc/bytemend). Nothing else goes: bin/ and
# share/man/ hold other programs' files too.
if(NOT EXISTS installed.txt)
    message(FATAL_ERROR "Nothing to uninstall: this build folder has no installed.txt, "
                        "which cmake --install writes.")
endif()
file(STRINGS installed.txt installed)
foreach(file IN LISTS installed)
    if(EXISTS "${file}" OR IS_SYMLINK "${file}")
        message(STATUS "Removing ${file}")
        file(REMOVE "${file}")
        if(EXISTS "${file}")
            message(FATAL_ERROR "Cannot remove ${file}")
        endif()
    endif()
    get_filename_component(folder "${file}" DIRECTORY)
    get_filename_component(name "${folder}" NAME)
    if(name STREQUAL "bytemend" AND IS_DIRECTORY "${folder}")
        file(GLOB left "${folder}/*")
        if(NOT left)
            file(REMOVE_RECURSE "${folder}")
        endif()
    endif()
endforeach()
