# Builds the Debian package from the build and checks its contents, its
# control fields and what lintian says of it.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CMAKE_CPACK_COMMAND} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake
                WORKING_DIRECTORY ${WORK} RESULT_VARIABLE result OUTPUT_VARIABLE output
                ERROR_VARIABLE output)
set(deb ${WORK}/quelvix_${VERSION}_amd64.deb)
if(NOT result EQUAL 0 OR NOT EXISTS ${deb})
    message(FATAL_ERROR "cpack failed: ${result}\n${output}")
endif()

execute_process(COMMAND dpkg-deb --contents ${deb} OUTPUT_VARIABLE contents)
foreach(file usr/bin/quelvix usr/bin/quelvix-site usr/${MODULE_DIR}/${MODULE}
             usr/${MODULE_DIR}/${ACTIONS_MODULE}
             usr/share/quelvix/mime/mime.cache usr/lib/systemd/user/quelvix-site.service
             usr/share/applications/${APP_ID}.desktop usr/share/metainfo/${APP_ID}.metainfo.xml
             usr/share/icons/hicolor/48x48/apps/${APP_ID}.png
             usr/share/icons/hicolor/scalable/apps/${APP_ID}.svg
             usr/share/doc/quelvix/copyright usr/share/doc/quelvix/changelog.gz)
    if(NOT contents MATCHES " \\./${file}\n")
        message(FATAL_ERROR "not in the package: ${file}\n${contents}")
    endif()
endforeach()

execute_process(COMMAND dpkg-deb --field ${deb} OUTPUT_VARIABLE fields)
foreach(field "Package: quelvix" "Version: ${VERSION}" "Architecture: amd64"
              "Depends: [^\n]*fonts-noto-cjk" "Depends: [^\n]*xdg-utils"
              "Depends: [^\n]*shared-mime-info" "Depends: [^\n]*appstream,"
              "Depends: [^\n]*libqt6webenginewidgets6" "Depends: [^\n]*libmicrohttpd12")
    if(NOT fields MATCHES "${field}")
        message(FATAL_ERROR "control fields lack '${field}':\n${fields}")
    endif()
endforeach()

execute_process(COMMAND lintian --fail-on error ${deb} RESULT_VARIABLE result
                OUTPUT_VARIABLE findings ERROR_VARIABLE findings)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "lintian found errors:\n${findings}")
endif()
message(STATUS "${deb}\n${fields}${findings}")
