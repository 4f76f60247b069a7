option(BYTEMEND_TESTS "Build the tests" ON)
if(BYTEMEND_TESTS)
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
    add_executable(bytemend_tests
        tests/cli_test.cpp
        tests/numbers_test.cpp
        tests/copy_test.cpp
    )
    target_link_libraries(bytemend_tests PRIVATE bytemend_core GTest::gtest_main)
    if(WIN32)
        # Found next to the tests at run time: a build path means nothing to
        # Windows, or to Wine outside its Z: drive.
        target_compile_definitions(bytemend_tests PRIVATE BYTEMEND_EXE="$<TARGET_FILE_NAME:bytemend>")
    else()
        target_compile_definitions(bytemend_tests PRIVATE BYTEMEND_EXE="$<TARGET_FILE:bytemend>")
        # A cross-built command is started through its emulator, the words
        # of BYTEMEND_LAUNCHER; a native one directly, with none.
        set(launcher "")
        foreach(word IN LISTS CMAKE_CROSSCOMPILING_EMULATOR)
            string(APPEND launcher "\"${word}\",")
        endforeach()
        target_compile_definitions(bytemend_tests PRIVATE "BYTEMEND_LAUNCHER=${launcher}")
    endif()
    target_compile_definitions(bytemend_tests PRIVATE BYTEMEND_VERSION="${PROJECT_VERSION}")
    add_dependencies(bytemend_tests bytemend)
    include(GoogleTest)
    # Cross-built tests are listed when they run, under the emulator, so
    # that building needs no Wine.
    if(CMAKE_CROSSCOMPILING)
        set(discovery PRE_TEST)
    else()
        set(discovery POST_BUILD)
    endif()
    gtest_discover_tests(bytemend_tests PROPERTIES TIMEOUT 60
                         DISCOVERY_MODE ${discovery} DISCOVERY_TIMEOUT 60)

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
        foreach(road IN LISTS roads)
            add_test(NAME faults.${road}
                     COMMAND bash ${faults} --road ${road} $<TARGET_FILE:bytemend> ${CMAKE_CROSSCOMPILING_EMULATOR})
            set_tests_properties(faults.${road} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120 LABELS faults)
        endforeach()
        # The reliability document's copy of its rows.
        add_test(NAME faults_documented
                 COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/faults.sh --table
                         --check ${CMAKE_CURRENT_SOURCE_DIR}/doc/reliability.md)
    endif()
endif()
