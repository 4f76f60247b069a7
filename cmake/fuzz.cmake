# libFuzzer targets for the two number readers, each holding the reader to
# an oracle of its own that reads the text digit by digit, under
# AddressSanitizer and UndefinedBehaviorSanitizer; CTest runs each for a
# bounded time, labelled fuzz. Needs clang.
option(BYTEMEND_FUZZ "Build and run the fuzzers" OFF)
set(BYTEMEND_FUZZ_SECONDS 60 CACHE STRING "How long CTest runs each fuzzer")
if(BYTEMEND_FUZZ)
    enable_testing()
    foreach(reader location value)
        set(target ${reader}_fuzz)
        add_executable(${target} fuzz/${target}.cpp src/numbers.cpp)
        target_include_directories(${target} PRIVATE src)
        target_compile_options(${target} PRIVATE -g -fsanitize=fuzzer,address,undefined
                               -fno-sanitize-recover=all)
        target_link_options(${target} PRIVATE -fsanitize=fuzzer,address,undefined)
        # New inputs go to the build folder; the seeds in the source stay as
        # they are.
        set(found ${CMAKE_CURRENT_BINARY_DIR}/corpus/${reader})
        file(MAKE_DIRECTORY ${found})
        add_test(NAME ${target}
                 COMMAND ${target} -max_total_time=${BYTEMEND_FUZZ_SECONDS} -print_final_stats=1
                         ${found} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/${reader})
        set_tests_properties(${target} PROPERTIES TIMEOUT 600 LABELS fuzz)
    endforeach()
endif()
