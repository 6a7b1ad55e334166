# The configure-time reading of a site root agrees with src/addresses: which
# roots are on loopback and which port each means.
include(${CMAKE_CURRENT_LIST_DIR}/../../../cmake/addresses.cmake)

# root, loopback, port
set(cases
    "http://127.0.0.1:27380" TRUE 27380
    "http://127.0.0.1" TRUE 80
    "https://127.0.0.1" TRUE 443
    "https://127.1" TRUE 443
    "http://localhost:8080" TRUE 8080
    "https://[::1]" TRUE 443
    "http://[0:0:0:0:0:0:0:1]:9" TRUE 9
    "https://[::ffff:127.0.0.1]" TRUE 443
    "https://[::ffff:7f00:1]" TRUE 443
    "https://lookup.example.org" FALSE 443
    "https://lookup.example.org:8443" FALSE 8443
    "http://192.168.1.1" FALSE 80
    "http://127.0.0.1.example.org" FALSE 80
    "http://localhost.example.org" FALSE 80
    "http://[::2]" FALSE 80
    "http://[::ffff:192.168.1.1]" FALSE 80)
set(failures "")
while(cases)
    list(POP_FRONT cases root loopback port)
    quelvix_is_loopback("${root}" found_loopback)
    quelvix_port_of("${root}" found_port)
    if(NOT found_loopback STREQUAL loopback OR NOT found_port EQUAL port)
        string(APPEND failures "\n  ${root}: loopback ${found_loopback}, port ${found_port}; "
                               "expected ${loopback}, ${port}")
    endif()
endwhile()
if(failures)
    message(FATAL_ERROR "roots read wrongly:${failures}")
endif()
