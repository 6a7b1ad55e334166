# The run command's build, from scratch, as a test: scripts/build.sh --run
# into a tree of its own, then check-run-path.cmake looks at what it built.
# It compiles the app and the site again, so it takes minutes; a ccache found
# here is handed on, so that runs after the first mostly hit the cache.
find_program(QUELVIX_CCACHE ccache)
set(run_path_env "")
if(QUELVIX_CCACHE)
    set(run_path_env "CMAKE_CXX_COMPILER_LAUNCHER=${QUELVIX_CCACHE}")
endif()
add_test(NAME run_path
         COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
                 -DWORK=${PROJECT_BINARY_DIR}/run-path-check
                 -P ${CMAKE_CURRENT_LIST_DIR}/check-run-path.cmake)
# Alone, so that its compiling slows no test that waits on a clock.
set_tests_properties(run_path PROPERTIES LABELS run_path TIMEOUT 3600 RUN_SERIAL ON
                     ENVIRONMENT "${run_path_env}")
