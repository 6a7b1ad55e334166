# The configured site roots as CMake reads them: the port a root means (as
# src/addresses' portOf does) and which roots name this machine's loopback (as
# its isLoopback does), so the user unit and the checks below agree with the
# app about where the local site listens.

# quelvix_port_of(ROOT OUT): the root's port, or the one its scheme implies.
function(quelvix_port_of root out)
    # A root has no path, so a port is all that can follow its last colon.
    if(root MATCHES ":([0-9]+)$")
        set(${out} ${CMAKE_MATCH_1} PARENT_SCOPE)
    elseif(root MATCHES "^https://")
        set(${out} 443 PARENT_SCOPE)
    else()
        set(${out} 80 PARENT_SCOPE)
    endif()
endfunction()

# quelvix_is_loopback(ROOT OUT): whether the root's host is localhost,
# 127.0.0.0/8 (also shortened, as 127.1) or ::1 (also written out or as an
# IPv4-mapped 127 address).
function(quelvix_is_loopback root out)
    string(TOLOWER "${root}" root)
    set(ipv4 "127(\\.[0-9]+)*")
    set(ipv6 "\\[(0*:)+(0*1|ffff:${ipv4}|ffff:7f[0-9a-f]?[0-9a-f]?:[0-9a-f]+)\\]")
    if(root MATCHES "^[a-z]+://(localhost|${ipv4}|${ipv6})(:[0-9]+)?$")
        set(${out} TRUE PARENT_SCOPE)
    else()
        set(${out} FALSE PARENT_SCOPE)
    endif()
endfunction()

# The app starts the local site for a loopback root and loads its pages from
# it; the site speaks plain HTTP only, so an https:// loopback root could never
# load a page.
function(quelvix_check_local_root variable)
    quelvix_is_loopback("${${variable}}" loopback)
    if(loopback AND "${${variable}}" MATCHES "^https://")
        quelvix_port_of("${${variable}}" port)
        if(port EQUAL 443)
            set(port PORT)
        endif()
        message(FATAL_ERROR "${variable} is '${${variable}}': the local lookup site has no TLS; "
                            "use http://127.0.0.1:${port}")
    endif()
endfunction()
