#!/bin/sh
# Installs what the app needs, builds the app, its web pane module and the
# lookup site into build-run/ and starts the app, always as the person at the
# desktop, never as root:
#     bash scripts/run.sh         as yourself: sudo asks for your password
#                                 for the install step only, when something
#                                 is missing
#     sudo bash scripts/run.sh    installs as root, then builds and starts
#                                 as the user who ran sudo
# As root without sudo it installs and builds, then says how to start the app.
# QUELVIX_NO_START=1 stops after the build. The app starts the lookup site
# itself.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-run}
app=$build/bin/quelvix

say() { printf '%s\n' "$@" >&2; }

# The person to build and run as: the one who ran sudo, else whoever this is.
if [ "$(id -u)" -eq 0 ]; then
    user=${SUDO_USER:-root}
else
    user=$(id -un)
fi

# The install step, only when something is missing, so that a second run
# asks for no password.
if ! sh "$root/scripts/deps.sh" --check; then
    if [ "$(id -u)" -eq 0 ]; then
        sh "$root/scripts/deps.sh"
    elif command -v sudo >/dev/null 2>&1 && sudo -v; then
        sudo sh "$root/scripts/deps.sh"
    else
        say "安装依赖需要 root 权限，但无法使用 sudo。请以 root 身份运行 sh $root/scripts/deps.sh，再重新运行本脚本。" \
            "Installing the dependencies needs root, and sudo is not available. Run sh $root/scripts/deps.sh as root, then run this script again."
        exit 1
    fi
fi

as_user() {
    if [ "$(id -un)" = "$user" ]; then
        "$@"
    else
        runuser -u "$user" -- "$@"
    fi
}

# The build belongs to whoever owns the checkout: a checkout of the user's
# gets no files of root's.
builder=$user
if ! as_user test -w "$root" || { [ -e "$build" ] && ! as_user test -w "$build"; }; then
    if [ "$(id -u)" -ne 0 ]; then
        say "无法写入 $build：请删除它（sudo rm -rf $build）或把检出目录交给 $user，再重新运行。" \
            "Cannot write to $build: remove it (sudo rm -rf $build) or give the checkout to $user, then run again."
        exit 1
    fi
    builder=root
fi
if [ "$builder" = "$user" ]; then
    as_user env BUILD_DIR="$build" sh "$root/scripts/build.sh" --run
else
    BUILD_DIR="$build" sh "$root/scripts/build.sh" --run
fi

if [ "${QUELVIX_NO_START:-}" = 1 ]; then
    exit 0
fi
if [ "$user" = root ]; then
    say "已安装并构建，但 Dornavel 不以 root 身份运行。请以普通用户登录桌面，在终端中运行 bash $root/scripts/run.sh（安装一步会用 sudo 请求密码）。" \
        "Installed and built, but Dornavel does not run as root. Log in to the desktop as an ordinary user and run bash $root/scripts/run.sh in a terminal (it asks sudo for a password for the install step)."
    if ! runuser -u nobody -- test -r "$root/scripts/run.sh"; then
        say "其他用户无法读取 $root：请先把检出目录放到该用户能读取的位置，例如其主目录。" \
            "Other users cannot read $root: first put the checkout where that user can read it, their home for instance."
    fi
    exit 1
fi
if ! as_user test -x "$app"; then
    say "$user 无法运行 $app：请把检出目录放在 $user 能读取的位置（例如其主目录），再重新运行。" \
        "$user cannot run $app: put the checkout where $user can read it (their home, for instance), then run again."
    exit 1
fi
if [ "$(id -un)" = "$user" ]; then
    exec "$app"
fi

# sudo keeps little of the desktop session: give the app the user's display,
# session bus and runtime folder, found where the session puts them.
uid=$(id -u "$user")
home=$(getent passwd "$user" | cut -d: -f6)
runtime=/run/user/$uid
set -- HOME="$home" USER="$user" LOGNAME="$user" SHELL=/bin/sh \
    PATH=/usr/local/bin:/usr/bin:/bin LANG="${LANG:-C.UTF-8}"
for name in DISPLAY WAYLAND_DISPLAY LANGUAGE LC_ALL XDG_SESSION_TYPE XDG_CURRENT_DESKTOP; do
    eval "value=\${$name:-}"
    [ -z "$value" ] || set -- "$@" "$name=$value"
done
if [ -n "${XAUTHORITY:-}" ]; then
    set -- "$@" XAUTHORITY="$XAUTHORITY"
elif [ -f "$home/.Xauthority" ]; then
    set -- "$@" XAUTHORITY="$home/.Xauthority"
fi
if [ -d "$runtime" ]; then
    set -- "$@" XDG_RUNTIME_DIR="$runtime"
    [ ! -S "$runtime/bus" ] || set -- "$@" DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus"
    if [ -z "${WAYLAND_DISPLAY:-}" ] && [ -S "$runtime/wayland-0" ]; then
        set -- "$@" WAYLAND_DISPLAY=wayland-0
    fi
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ ! -S "$runtime/wayland-0" ]; then
    say "找不到 $user 的桌面（DISPLAY 未设置）：请在 $user 的桌面终端中运行 sudo bash $root/scripts/run.sh。" \
        "No desktop of $user found (DISPLAY is not set): run sudo bash $root/scripts/run.sh from a terminal on $user's desktop."
    exit 1
fi
exec runuser -u "$user" -- env -i "$@" "$app"
