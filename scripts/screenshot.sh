#!/bin/sh
# Shows the built app in a fresh X server and saves its main window as
# docs/form1.png: the client area below the menu bar must match the
# window's definition to the pixel.
#     scripts/screenshot.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
out=$root/docs
mkdir -p "$out"
xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
    "$1/src/app/quelvix" &
    app=$!
    until win=$(xdotool search --all --onlyvisible --pid $app --name "^ZorvQuelvix 2.0$"); do sleep 0.2; done
    sleep 3
    import -window "$win" "$2/form1.png"
    kill $app
' sh "$build" "$out"
echo "wrote $out/form1.png"
