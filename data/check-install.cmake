# Installs the build into a scratch prefix and checks that everything a desktop
# needs landed where it looks for it.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
# What the app runs or reads from its own folder on: the build tree holds it
# at the same place, so the app finds it there the same way.
set(run_from_bin
    bin/quelvix
    bin/quelvix-site
    ${MODULE_DIR}/${MODULE}
    ${MODULE_DIR}/${ACTIONS_MODULE}
    share/quelvix/mime/mime.cache)
set(expected
    ${run_from_bin}
    lib/systemd/user/quelvix-site.service
    share/applications/${APP_ID}.desktop
    share/metainfo/${APP_ID}.metainfo.xml
    share/kio/servicemenus/${APP_ID}.desktop
    share/nemo/actions/${APP_ID}.nemo_action
    share/file-manager/actions/${APP_ID}.desktop
    share/icons/hicolor/scalable/apps/${APP_ID}.svg)
foreach(size 16 24 32 48 64 72 96 128 256)
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/${APP_ID}.png)
endforeach()
foreach(file IN LISTS expected)
    if(NOT EXISTS ${PREFIX}/${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()
foreach(file IN LISTS run_from_bin)
    if(NOT EXISTS ${BUILD_DIR}/${file} OR IS_SYMLINK ${BUILD_DIR}/${file})
        message(FATAL_ERROR "the build tree is not laid out as installed: ${file} is missing or a link")
    endif()
endforeach()
# The user unit runs the binary where this install put it, on the lookup port.
file(READ ${PREFIX}/lib/systemd/user/quelvix-site.service unit)
if(NOT unit MATCHES "ExecStart=${PREFIX}/bin/quelvix-site --port [0-9]+\n")
    message(FATAL_ERROR "the user unit does not run ${PREFIX}/bin/quelvix-site:\n${unit}")
endif()
if(SYSTEMD_ANALYZE)
    execute_process(COMMAND ${SYSTEMD_ANALYZE} verify --man=no
                            ${PREFIX}/lib/systemd/user/quelvix-site.service
                    RESULT_VARIABLE result ERROR_VARIABLE errors)
    if(NOT result EQUAL 0 OR errors)
        message(FATAL_ERROR "systemd-analyze verify: ${result}\n${errors}")
    endif()
endif()
message(STATUS "installed: ${expected}")
