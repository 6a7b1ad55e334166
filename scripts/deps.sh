#!/bin/sh
# Installs on Debian 12 (as root) what building and running the app and the
# lookup site need; with --test, also what the tests and benchmarks need.
# With --check it installs nothing and needs no root: it lists what is
# missing and fails if anything is.
#     scripts/deps.sh [--test] [--check]
# A new dependency goes into the list of the step that first needs it.
set -eu

# Building: the compilers, CMake and the headers of every library linked.
# libqt6opengl6-dev is only recommended by qt6-base-dev, but Qt Quick's CMake
# files (the web pane module links it) ask for Qt6::OpenGL.
build="
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qt6-webengine-dev
    libgl-dev libxcb1-dev
    libmicrohttpd-dev libglib2.0-dev libappstream-dev libmagic-dev
    zlib1g-dev libbrotli-dev libpackagekit-glib2-dev
"
# Running: what the app and the site load or start rather than link. The app
# shows Chinese in Noto Sans Mono CJK SC, hands addresses to xdg-open and loads
# Qt's and Qt WebEngine's Chinese texts; the site reads the MIME database, the
# software catalog (appstream makes apt fetch it, see below) and the icon theme.
# The pane's 安装 button installs through PackageKit, which asks for the
# password through polkit.
run="
    fonts-noto-cjk xdg-utils qt6-translations-l10n
    shared-mime-info appstream adwaita-icon-theme
    packagekit
"
# Testing and measuring, by the tests and scripts that use them.
test="
    python3 xvfb xauth xdotool x11-utils python3-xlib
    openbox nginx-light wrk curl strace
    dbus-daemon packagekit-tools fuse3 libfuse3-dev
    desktop-file-utils systemd
    dpkg-dev fakeroot lintian
    clang libclang-rt-14-dev
    g++-mingw-w64-x86-64-posix wine wine64 python3-pefile
"
# python3, Xvfb (xvfb + xauth for xvfb-run), xdotool, xprop (x11-utils) and
# python3-xlib: the end-to-end test and the pane's test in a real X server;
# bench/app.py with openbox. nginx-light: the export test and bench/site.sh,
# with wrk and curl. desktop-file-validate, appstreamcli and systemd-analyze:
# the desktop entry, metainfo and user unit tests. dpkg-dev, fakeroot and
# lintian: the Debian package test. clang and its fuzzer runtime: the fuzz
# tests. MinGW-w64, Wine and pefile: the Windows layer's tests. strace: the
# export test that kills an export at its switch. dbus-daemon: the system bus
# the PackageKit test starts; pkcon (packagekit-tools): bench/actions.sh.
# fuse3 and its headers: the file lookup's test mounts a file system that
# never answers.

packages="$build $run"
check=false
for argument in "$@"; do
    case "$argument" in
        --test) packages="$packages $test" ;;
        --check) check=true ;;
        *)
            echo "用法 / usage: $0 [--test] [--check]" >&2
            exit 2
            ;;
    esac
done

if $check; then
    # shellcheck disable=SC2086 # one word a package
    installed=$(dpkg-query -W -f '${Package} ${Status}\n' $packages 2>/dev/null |
        sed -n 's/ install ok installed$//p')
    missing=""
    for package in $packages; do
        echo "$installed" | grep -qx "$package" || missing="$missing $package"
    done
    # The catalog's files, named by apt after the mirror and suite.
    case "${LC_ALL:-${LC_MESSAGES:-${LANG:-}}}" in
        zh*) catalog="软件目录" ;;
        *) catalog="software-catalog" ;;
    esac
    ls /var/lib/apt/lists/*_dep11_Components-* >/dev/null 2>&1 || missing="$missing $catalog"
    if [ -n "$missing" ]; then
        case "$catalog" in
            软件目录) echo "尚未安装：$missing。安装它们：sudo sh scripts/deps.sh" ;;
            *) echo "Not installed:$missing. To install them: sudo sh scripts/deps.sh" ;;
        esac
        exit 1
    fi
    exit 0
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update
# shellcheck disable=SC2086 # one word a package
apt-get install -y --no-install-recommends $packages
# The distribution's software catalog (DEP-11) and its 48 px icons, which the
# lookup site reads. apt learns of them from the appstream package installed
# above, but some minimal images switch them off, and then every later
# `apt-get update` (by the person, or a software centre) would drop the catalog
# again. So they are switched on for good in a file of our own, read after
# the image's, and fetched now.
cat >/etc/apt/apt.conf.d/99quelvix-catalog <<'CONF'
// The lookup site reads the software catalog and its 48 px icons.
Acquire::IndexTargets::deb::DEP-11 { DefaultEnabled "true"; };
Acquire::IndexTargets::deb::DEP-11-icons-small { DefaultEnabled "true"; };
CONF
apt-get update
