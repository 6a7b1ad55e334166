# Who the application is, in one place: the program's identity header and the
# Windows executable's version record are both written from these.
set(QUELVIX_TITLE "Dornavel")
set(QUELVIX_COMPANY "Zorv电子科技")
set(QUELVIX_INTERNAL_NAME "Quelvix")
set(QUELVIX_EXECUTABLE "Quelvix.exe")
