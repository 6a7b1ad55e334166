#!/bin/sh
# The pane's open and install actions beside gio open and pkcon install-local,
# in a fresh X server; the install part needs root and a system bus with
# PackageKit (packagekit, packagekit-tools). See bench/actions.py.
#     bench/actions.sh [BUILD_DIR] [RUNS]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
cmake --build "$build" --target bench_actions >/dev/null
exec xvfb-run -a -s "-screen 0 1024x768x24" /usr/bin/python3 "$root/bench/actions.py" \
    "$build" "${2:-10}"
