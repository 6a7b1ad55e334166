# quelvix_windows_resources(TARGET VERSION): the executable's version record,
# icon group (ids 30001 to 30012 for the twelve images of quelvix.ico) and
# manifest, from the project's version and cmake/identity.cmake.
include(${CMAKE_CURRENT_LIST_DIR}/identity.cmake)
set(QUELVIX_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)
find_program(QUELVIX_PYTHON python3 REQUIRED)

function(quelvix_windows_resources target version)
    string(REPLACE "." ";" parts ${version})
    list(GET parts 0 QUELVIX_VERSION_MAJOR)
    list(GET parts 1 QUELVIX_VERSION_MINOR)
    list(GET parts 2 QUELVIX_VERSION_PATCH)
    # "2.00": the major number, then the minor one in two digits.
    math(EXPR minor "100 + ${QUELVIX_VERSION_MINOR}")
    string(SUBSTRING ${minor} 1 2 minor)
    set(QUELVIX_SHORT_VERSION "${QUELVIX_VERSION_MAJOR}.${minor}")

    set(QUELVIX_RESOURCES ${CMAKE_CURRENT_BINARY_DIR}/${target}-resources)
    set(ico ${QUELVIX_ROOT}/data/icons/quelvix.ico)
    set(icons)
    set(QUELVIX_ICON_LINES "")
    foreach(id RANGE 30001 30012)
        list(APPEND icons ${QUELVIX_RESOURCES}/icon-${id}.bin)
        string(APPEND QUELVIX_ICON_LINES "${id} 3 \"${QUELVIX_RESOURCES}/icon-${id}.bin\"\n")
    endforeach()
    add_custom_command(OUTPUT ${QUELVIX_RESOURCES}/icon-group.bin ${icons}
        COMMAND ${QUELVIX_PYTHON} ${QUELVIX_ROOT}/cmake/ico-resources.py ${ico}
                ${QUELVIX_RESOURCES} 30001
        DEPENDS ${ico} ${QUELVIX_ROOT}/cmake/ico-resources.py)
    configure_file(${QUELVIX_ROOT}/src/app/quelvix.manifest.in
                   ${QUELVIX_RESOURCES}/quelvix.manifest @ONLY)
    configure_file(${QUELVIX_ROOT}/src/app/quelvix.rc.in ${QUELVIX_RESOURCES}/quelvix.rc @ONLY)
    set_source_files_properties(${QUELVIX_RESOURCES}/quelvix.rc PROPERTIES OBJECT_DEPENDS
        "${QUELVIX_RESOURCES}/icon-group.bin;${icons};${QUELVIX_RESOURCES}/quelvix.manifest")
    target_sources(${target} PRIVATE ${QUELVIX_RESOURCES}/quelvix.rc)
endfunction()
