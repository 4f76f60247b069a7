# The tests, run by CTest, each labelled with its kind, so that
# "ctest --preset release -L cli" runs one kind:
# - unit: the GoogleTest cases of the copy and the number readers
#   (bytemend_unit_tests), kept to well under a second;
# - files: the copy of a sparse file on the file systems this machine has,
#   the test folder's and tmpfs (bytemend_files_tests), a few seconds;
# - cli: the GoogleTest cases that run the built command on real files
#   (bytemend_cli_tests);
# - faults: the fault table of tests/faults.sh, one test a road, and its
#   copy in the reliability document: the roads that strace faults, and
#   those faulted for real on the file system the tests run on;
# - mounts: the roads of that table that mount file systems of their own,
#   set up loop devices or make mount namespaces; one that strace faults
#   too is labelled both.
# (The fuzzers, in fuzz.cmake, are labelled fuzz.)
option(BYTEMEND_TESTS "Build the tests" ON)
if(NOT BYTEMEND_TESTS)
    return()
endif()
enable_testing()
if(CMAKE_CROSSCOMPILING)
    # No GoogleTest is installed for the target: build it from the
    # sources Debian's googletest package puts in /usr/src.
    set(BYTEMEND_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${BYTEMEND_GTEST_SOURCE} googletest EXCLUDE_FROM_ALL SYSTEM)
    # Its own warnings (-Wrestrict in gtest.cc) are not ours to fix.
    target_compile_options(gtest PRIVATE -w)
    target_compile_options(gtest_main PRIVATE -w)
else()
    find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# One GoogleTest program of one kind: its cases are CTest tests labelled so.
# Cross-built programs are listed when they run, under the emulator, so
# that building needs no Wine.
function(bytemend_test_program name label)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE bytemend_core GTest::gtest_main)
    if(WIN32)
        target_sources(${name} PRIVATE tests/threads_windows.cpp)
    endif()
    # Only Linux's calls find holes; elsewhere a sparse file is copied whole.
    target_compile_definitions(${name} PRIVATE BYTEMEND_FINDS_HOLES=$<NOT:$<OR:$<BOOL:${WIN32}>,$<BOOL:${BYTEMEND_PORTABLE}>>>)
    if(CMAKE_CROSSCOMPILING)
        set(discovery PRE_TEST)
    else()
        set(discovery POST_BUILD)
    endif()
    gtest_discover_tests(${name} PROPERTIES TIMEOUT 60 LABELS ${label}
                         DISCOVERY_MODE ${discovery} DISCOVERY_TIMEOUT 60)
endfunction()

bytemend_test_program(bytemend_unit_tests unit tests/numbers_test.cpp tests/copy_test.cpp)
bytemend_test_program(bytemend_files_tests files tests/sparse_test.cpp)

bytemend_test_program(bytemend_cli_tests cli tests/cli_test.cpp)
if(WIN32)
    # Found next to the tests at run time: a build path means nothing to
    # Windows, or to Wine outside its Z: drive.
    target_compile_definitions(bytemend_cli_tests PRIVATE BYTEMEND_EXE="$<TARGET_FILE_NAME:bytemend>")
else()
    target_compile_definitions(bytemend_cli_tests PRIVATE BYTEMEND_EXE="$<TARGET_FILE:bytemend>")
    # A cross-built command is started through its emulator, the words
    # of BYTEMEND_LAUNCHER; a native one directly, with none.
    set(launcher "")
    foreach(word IN LISTS CMAKE_CROSSCOMPILING_EMULATOR)
        string(APPEND launcher "\"${word}\",")
    endforeach()
    target_compile_definitions(bytemend_cli_tests PRIVATE "BYTEMEND_LAUNCHER=${launcher}")
endif()
target_compile_definitions(bytemend_cli_tests PRIVATE BYTEMEND_VERSION="${PROJECT_VERSION}")
# Without Linux's calls, an existing output's extended attributes cannot be
# known, and it is overwritten where it lies rather than replaced.
target_compile_definitions(bytemend_cli_tests PRIVATE BYTEMEND_REPLACES_OUTPUTS=$<NOT:$<BOOL:${BYTEMEND_PORTABLE}>>)
add_dependencies(bytemend_cli_tests bytemend)

if(NOT WIN32 AND NOT BYTEMEND_PORTABLE)
    # A fault on every step of a run, injected with strace, or made for
    # real on file systems of its own; one test a road of the table, so
    # that CTest lists each that skipped itself (77): where strace,
    # tracing, root or a file system is not to be had, and under an
    # emulator. Its rows name Linux's own calls.
    set(faults ${CMAKE_CURRENT_SOURCE_DIR}/tests/faults.sh)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${faults})
    execute_process(COMMAND bash ${faults} --roads OUTPUT_VARIABLE roads OUTPUT_STRIP_TRAILING_WHITESPACE
                    COMMAND_ERROR_IS_FATAL ANY)
    string(REPLACE "\n" ";" roads "${roads}")
    # Each line "ROAD LABEL,LABEL".
    foreach(line IN LISTS roads)
        string(REGEX REPLACE " .*" "" road "${line}")
        string(REGEX REPLACE ".* " "" labels "${line}")
        string(REPLACE "," ";" labels "${labels}")
        add_test(NAME faults.${road}
                 COMMAND bash ${faults} --road ${road} $<TARGET_FILE:bytemend> ${CMAKE_CROSSCOMPILING_EMULATOR})
        set_tests_properties(faults.${road} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120 LABELS "${labels}")
    endforeach()
    # The reliability document's copy of its rows.
    add_test(NAME faults_documented
             COMMAND bash ${faults} --table --check ${CMAKE_CURRENT_SOURCE_DIR}/doc/reliability.md)
    set_tests_properties(faults_documented PROPERTIES LABELS faults)
endif()
