# The fuzz targets in fuzz/ need clang and its fuzzer runtime, so they are a
# project of their own, built beside this one; each runs as a test labelled
# "fuzz" over its committed seeds plus fresh inputs for a while.
find_program(QUELVIX_CLANGXX NAMES clang++ clang++-14)
set(QUELVIX_FUZZ_SECONDS 20 CACHE STRING "Fresh fuzzing time of each fuzz test")

if(NOT QUELVIX_CLANGXX)
    message(STATUS "clang++ not found: the fuzz tests are not built")
    return()
endif()
execute_process(COMMAND ${QUELVIX_CLANGXX} -print-file-name=libclang_rt.fuzzer-x86_64.a
                OUTPUT_VARIABLE fuzzer_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT EXISTS "${fuzzer_runtime}")
    message(STATUS "clang's fuzzer runtime not found: the fuzz tests are not built")
    return()
endif()

include(ExternalProject)
set(fuzz_build ${CMAKE_BINARY_DIR}/fuzz)
ExternalProject_Add(fuzzers
    SOURCE_DIR ${PROJECT_SOURCE_DIR}/fuzz
    BINARY_DIR ${fuzz_build}
    CMAKE_ARGS -DCMAKE_CXX_COMPILER=${QUELVIX_CLANGXX} -DCMAKE_BUILD_TYPE=RelWithDebInfo
               -DCMAKE_PREFIX_PATH=${CMAKE_PREFIX_PATH}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
)

foreach(target lookup cellgrid pages request)
    set(corpus ${fuzz_build}/corpus/${target})
    file(MAKE_DIRECTORY ${corpus})
    # New inputs go to the build's corpus; the committed seeds are only read.
    add_test(NAME fuzz_${target}
             COMMAND ${fuzz_build}/fuzz_${target} -max_total_time=${QUELVIX_FUZZ_SECONDS}
                     -timeout=10 -print_final_stats=1 ${corpus}
                     ${PROJECT_SOURCE_DIR}/fuzz/corpus/${target})
    set_tests_properties(fuzz_${target} PROPERTIES LABELS fuzz
                         TIMEOUT 300 ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0")
endforeach()
