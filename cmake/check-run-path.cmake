# Builds WORK from nothing with the run command's build (scripts/build.sh
# --run) and checks that it holds what the app needs to start, and no trace
# of a test, fuzzer, Windows test, benchmark peer or package part: neither
# built nor even defined as a target.
#     cmake -DSOURCE_DIR=... -DWORK=... -P check-run-path.cmake
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -E env BUILD_DIR=${WORK}
                        sh ${SOURCE_DIR}/scripts/build.sh --run
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "scripts/build.sh --run failed: ${result}")
endif()

# The app starts the site beside itself and loads the module from the
# library folder, laid out as installed: real files, no links standing in.
foreach(file bin/quelvix bin/quelvix-site lib/quelvix/quelvix-webpane.so
             lib/quelvix/quelvix-actions.so share/quelvix/mime/mime.cache)
    if(NOT EXISTS ${WORK}/${file})
        message(FATAL_ERROR "the run command's build lacks ${file}")
    endif()
    if(IS_SYMLINK ${WORK}/${file})
        message(FATAL_ERROR "the run command's build links ${file} instead of building it there")
    endif()
endforeach()

# Neither defined as a target...
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK} --target help
                OUTPUT_VARIABLE targets RESULT_VARIABLE result)
string(REGEX MATCHALL "(^|\n)(tst_|test_support|fuzz|windows_layer|peer_|changelog|package)[^:\n]*"
       stray "${targets}")
# ...nor built.
file(GLOB_RECURSE built RELATIVE ${WORK} ${WORK}/tst_* ${WORK}/fuzz_* ${WORK}/peer_* ${WORK}/*.exe
     ${WORK}/changelog.gz)
list(APPEND stray ${built})
if(NOT result EQUAL 0 OR stray)
    string(REPLACE "\n" "" stray "${stray}")
    list(JOIN stray "\n    " stray)
    message(FATAL_ERROR "the run command's build holds more than the app needs:\n    ${stray}")
endif()
message(STATUS "the run command's build holds the app, its modules and the site, and no tests")
