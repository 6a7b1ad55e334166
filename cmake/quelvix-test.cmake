# quelvix_add_test(NAME SOURCES... LIBRARIES... [LABELS...] [MODULES...])
# builds a QtTest executable and registers it with CTest, run offscreen in the
# Chinese locale. Its labels (ctest -L) say what it needs: "quick", the
# default, for a test that runs in moments on its own; "site" for one that
# runs the lookup site; "e2e" for one that runs the built programs.
#
# MODULES: the app's modules the test loads (quelvix-webpane, ...). A test's
# executable stays in its own folder, so each is linked beside it, where the
# app looks first; each such test has a link of its own, so one that takes its
# link away to see the module missing disturbs no other test running then.
function(quelvix_add_test name)
    cmake_parse_arguments(arg "" "" "SOURCES;LIBRARIES;LABELS;MODULES" ${ARGN})
    if(NOT arg_LABELS)
        set(arg_LABELS quick)
    endif()
    qt_add_executable(${name} ${arg_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test test_support ${arg_LIBRARIES})
    target_compile_definitions(${name} PRIVATE QUELVIX_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    foreach(module IN LISTS arg_MODULES)
        add_dependencies(${name} ${module})
        add_custom_command(TARGET ${name} POST_BUILD
            COMMAND ${CMAKE_COMMAND} -E create_symlink $<TARGET_FILE:${module}>
                    $<TARGET_FILE_DIR:${name}>/$<TARGET_FILE_NAME:${module}>
            VERBATIM)
    endforeach()
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        TIMEOUT 300
        LABELS "${arg_LABELS}"
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QTWEBENGINE_DISABLE_SANDBOX=1;QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu")
endfunction()
