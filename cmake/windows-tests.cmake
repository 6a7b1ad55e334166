# The Windows layer and the executable's resources, cross-compiled with
# MinGW-w64 (tests/windows, a project of its own) and tested under Wine, each
# test in the usual ctest output. Without the cross compiler, Wine or pefile
# the tests are still listed and report that they were not run.
find_program(QUELVIX_MINGW_CXX x86_64-w64-mingw32-g++-posix)
find_program(QUELVIX_WINE wine)
find_program(QUELVIX_WINESERVER wineserver)
find_program(QUELVIX_WINEBOOT wineboot)
find_program(QUELVIX_SYSTEM_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
execute_process(COMMAND ${QUELVIX_SYSTEM_PYTHON} -c "import pefile"
                RESULT_VARIABLE pefile_missing OUTPUT_QUIET ERROR_QUIET)

set(windows_tests commandlines registry process browser resources)
if(NOT QUELVIX_MINGW_CXX OR NOT QUELVIX_WINE OR NOT QUELVIX_WINESERVER OR pefile_missing)
    message(STATUS "MinGW-w64, Wine or python3-pefile missing: the Windows tests will not run")
    foreach(test IN LISTS windows_tests)
        add_test(NAME win32_${test} COMMAND ${CMAKE_COMMAND} -E echo
                 "not run: MinGW-w64, Wine and python3-pefile are needed")
        set_tests_properties(win32_${test} PROPERTIES SKIP_REGULAR_EXPRESSION "not run" LABELS wine)
    endforeach()
    return()
endif()

include(ExternalProject)
set(windows_build ${CMAKE_BINARY_DIR}/windows)
ExternalProject_Add(windows_layer
    SOURCE_DIR ${PROJECT_SOURCE_DIR}/tests/windows
    BINARY_DIR ${windows_build}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64.cmake
               -DCMAKE_BUILD_TYPE=Release -DQUELVIX_VERSION=${PROJECT_VERSION}
    BUILD_ALWAYS ON
    INSTALL_COMMAND "")

# One Wine prefix in the build tree and one persistent wineserver for all the
# tests; no desktop files, no Mono or Gecko prompts, no display.
set(wine_env
    "WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix" "WINEDEBUG=-all"
    "WINEDLLOVERRIDES=winemenubuilder.exe,mscoree,mshtml=" "DISPLAY=")
add_test(NAME win32_prefix
         COMMAND sh -c "mkdir -p \"$WINEPREFIX\" && \"${QUELVIX_WINESERVER}\" -p >/dev/null 2>&1 && \"${QUELVIX_WINEBOOT}\" -i >/dev/null 2>&1")
set_tests_properties(win32_prefix PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${wine_env}"
                     TIMEOUT 300 LABELS wine)
add_test(NAME win32_prefix_stop COMMAND sh -c "\"${QUELVIX_WINESERVER}\" -k; true")
set_tests_properties(win32_prefix_stop PROPERTIES FIXTURES_CLEANUP wine
                     ENVIRONMENT "${wine_env}" LABELS wine)

foreach(test commandlines registry process)
    add_test(NAME win32_${test} COMMAND ${QUELVIX_WINE} ${windows_build}/tst_win32_${test}.exe)
endforeach()
add_test(NAME win32_browser
         COMMAND sh ${PROJECT_SOURCE_DIR}/tests/windows/browser_handover.sh ${QUELVIX_WINE}
                 ${windows_build}/tst_win32_browser.exe)
add_test(NAME win32_resources
         COMMAND ${QUELVIX_SYSTEM_PYTHON} ${PROJECT_SOURCE_DIR}/tests/windows/check_resources.py
                 ${windows_build}/quelvix_resources.exe
                 ${PROJECT_SOURCE_DIR}/data/icons/quelvix.ico ${PROJECT_VERSION})
foreach(test IN LISTS windows_tests)
    set_tests_properties(win32_${test} PROPERTIES FIXTURES_REQUIRED wine LABELS wine
                         ENVIRONMENT "${wine_env}" TIMEOUT 120 FAIL_REGULAR_EXPRESSION "FAIL")
endforeach()
