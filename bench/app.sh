#!/bin/sh
# The app against a bare Qt window, a minimal Qt WebEngine program and, when
# installed, chromium --app: start, lookup and memory figures under Xvfb with
# openbox, interleaved runs, medians and ratios. See bench/app.py.
#     bench/app.sh [BUILD_DIR] [RUNS]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
cmake --build "$build" --target quelvix peer_bare_window peer_minimal_web >/dev/null
exec /usr/bin/python3 "$root/bench/app.py" "$build" "${2:-10}"
