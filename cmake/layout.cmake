# The build tree laid out as an install is: the programs in bin/, the web
# pane's module in lib/quelvix/, the site's own data in share/quelvix/. The app
# starts the site it finds beside itself and loads the module from a folder
# named relative to its own, so one lookup serves the build tree and an
# install alike, with nothing linked into place.
set(QUELVIX_MODULE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/quelvix)
# The module's folder as the app names it, from the folder it runs in.
file(RELATIVE_PATH QUELVIX_MODULE_DIR_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_LIBDIR}/quelvix)
foreach(dir CMAKE_INSTALL_BINDIR CMAKE_INSTALL_LIBDIR)
    if(IS_ABSOLUTE "${${dir}}")
        message(FATAL_ERROR "${dir} must be relative to the prefix, so that the build tree can "
                            "be laid out as the install; got '${${dir}}'")
    endif()
endforeach()

# The package's programs and module link only system libraries (ours are
# static) and the module is loaded by its full path, so they get no run path:
# it would only add failed look-ups to each start, and in the build tree CMake
# pads it with empty entries, which mean the current directory.
function(quelvix_no_run_path target)
    set_target_properties(${target} PROPERTIES SKIP_BUILD_RPATH ON INSTALL_RPATH "")
endfunction()

# quelvix_program(TARGET): an executable of the package, built into bin/ and
# installed there. The generator expression keeps a multi-configuration
# generator from adding a folder per configuration.
function(quelvix_program target)
    quelvix_no_run_path(${target})
    set_target_properties(${target} PROPERTIES
        RUNTIME_OUTPUT_DIRECTORY $<1:${PROJECT_BINARY_DIR}/${CMAKE_INSTALL_BINDIR}>)
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()

# quelvix_module(TARGET): a module the app loads at run time, built into
# lib/quelvix/ and installed there.
function(quelvix_module target)
    quelvix_no_run_path(${target})
    set_target_properties(${target} PROPERTIES PREFIX ""
        LIBRARY_OUTPUT_DIRECTORY $<1:${PROJECT_BINARY_DIR}/${QUELVIX_MODULE_INSTALL_DIR}>)
    install(TARGETS ${target} LIBRARY DESTINATION ${QUELVIX_MODULE_INSTALL_DIR})
endfunction()
