#!/bin/sh
# Installs everything the build, the app and the tests need on Debian 12 (as root).
set -eu
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends \
    build-essential cmake ninja-build \
    qt6-base-dev qt6-base-dev-tools qt6-tools-dev-tools libqt6opengl6-dev \
    qt6-webengine-dev qt6-webengine-dev-tools qt6-translations-l10n \
    libgl-dev fonts-noto-cjk xdg-utils \
    libmicrohttpd-dev libglib2.0-dev pkg-config shared-mime-info \
    xvfb xauth xdotool openbox python3 python3-xlib \
    desktop-file-utils appstream libappstream-dev adwaita-icon-theme \
    clang libclang-rt-14-dev nginx-light wrk curl systemd \
    dpkg-dev fakeroot lintian libxcb1-dev x11-utils \
    g++-mingw-w64-x86-64-posix wine wine64 python3-pefile
# The distribution's software catalog (DEP-11) and its 48 px icons, which the
# lookup site reads. apt learns of them from the appstream package installed
# above; some minimal images switch them off, so they are asked for here.
apt-get \
    -o Acquire::IndexTargets::deb::DEP-11::DefaultEnabled=true \
    -o Acquire::IndexTargets::deb::DEP-11-icons-small::DefaultEnabled=true \
    update
