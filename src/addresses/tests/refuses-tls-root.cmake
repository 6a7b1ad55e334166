# Configures the project with an https:// loopback root, which must stop with
# the reason and the root to use instead.
file(REMOVE_RECURSE "${WORK}")
execute_process(
    COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${WORK}" -G "${GENERATOR}"
            "-DCMAKE_CXX_COMPILER=${CXX}" "-DLOOKUP_SITE=https://127.0.0.1"
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
file(REMOVE_RECURSE "${WORK}")
if(result EQUAL 0)
    message(FATAL_ERROR "an https://127.0.0.1 lookup root was configured:\n${output}")
endif()
string(REGEX REPLACE "[ \n]+" " " flat "${output}")
if(NOT flat MATCHES "the local lookup site has no TLS; use http://127\\.0\\.0\\.1:")
    message(FATAL_ERROR "configuring failed without saying why:\n${output}")
endif()
