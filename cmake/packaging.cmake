# A Debian package of everything `cmake --install` installs:
#     cpack -G DEB      (from the build directory)
# gives quelvix_<version>_amd64.deb. Library dependencies are read from the
# binaries (dpkg-shlibdeps); the packages the app needs at run time beside
# them are named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quelvix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "${QUELVIX_COMPANY}")
set(CPACK_PACKAGE_CONTACT "${QUELVIX_COMPANY} <${QUELVIX_SUPPORT_EMAIL}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "look up what a file extension is and what opens it")
set(CPACK_PACKAGE_DESCRIPTION
    "${QUELVIX_TITLE} looks up file extensions: type one, such as pdf, and see what\n"
    "format it is, which installed programs open it and which packaged ones\n"
    "could. The lookup site it shows runs on this machine and answers from\n"
    "the MIME database, the installed programs and the software catalog.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window system plugins, Qt's Chinese texts and libmagic are loaded, not linked.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "fonts-noto-cjk, xdg-utils, shared-mime-info, appstream, qt6-qpa-plugins, qt6-translations-l10n, libmagic1")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "adwaita-icon-theme")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)

# What Debian asks of every package: its copyright and a compressed changelog.
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/quelvix)
install(FILES ${PROJECT_SOURCE_DIR}/data/doc/copyright DESTINATION ${doc_dir})
find_program(GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
    COMMAND ${GZIP} -9nc ${PROJECT_SOURCE_DIR}/data/doc/changelog > ${CMAKE_BINARY_DIR}/changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/data/doc/changelog)
add_custom_target(changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${doc_dir})

include(CPack)
