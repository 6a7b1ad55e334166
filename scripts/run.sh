#!/bin/bash
# Installs the dependencies, builds, and starts the app. The lookup site is
# started first when nothing answers on its port yet, and stopped again when
# the app exits.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/deps.sh"
"$root/scripts/build.sh"

port=47380
site_pid=
if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    "$build/site/quelvix-site" --port "$port" >/dev/null &
    site_pid=$!
    trap 'kill "$site_pid" 2>/dev/null || true' EXIT
    for _ in $(seq 50); do
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
        sleep 0.1
    done
fi
"$build/src/app/quelvix"
