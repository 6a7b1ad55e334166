# Who the application is and who makes it, in one place. Everything that
# names them is written from these: the identity library's header (the app
# and the site), the desktop entry, the AppStream metainfo, the file
# managers' actions, the Debian package and the Windows executable's
# version record and manifest.
set(QUELVIX_TITLE "Dornavel")
set(QUELVIX_COMPANY "Zorv电子科技")
set(QUELVIX_SUPPORT_EMAIL "support@zorv.example")
# The reverse-DNS application id: the desktop entry's and metainfo's names,
# the icon's name, and the desktop file name the app gives its windows.
set(QUELVIX_APP_ID "net.zorv.Quelvix")
set(QUELVIX_INTERNAL_NAME "Quelvix")
set(QUELVIX_EXECUTABLE "${QUELVIX_INTERNAL_NAME}.exe")
# The Windows manifest's assembly name, "Maker.Product" in Latin letters.
set(QUELVIX_ASSEMBLY_NAME "Zorv.${QUELVIX_INTERNAL_NAME}")

# quelvix_identity_names(DIR): identitynames.h, these names for C++, in DIR.
set(QUELVIX_IDENTITY_SOURCE ${CMAKE_CURRENT_LIST_DIR}/../src/identity)
function(quelvix_identity_names dir)
    configure_file(${QUELVIX_IDENTITY_SOURCE}/identitynames.h.in ${dir}/identitynames.h @ONLY)
endfunction()
