# quelvix_place_webpane_module(TARGET): a link to the web pane's module beside
# an executable of the build tree, where the pane looks for it first. The
# module target itself is defined in src/platform.
function(quelvix_place_webpane_module target)
    add_dependencies(${target} quelvix-webpane)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E create_symlink $<TARGET_FILE:quelvix-webpane>
                $<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_NAME:quelvix-webpane>
        VERBATIM)
endfunction()
