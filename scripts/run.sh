#!/bin/sh
# Installs the dependencies, builds, and starts the app. The app starts the
# local lookup site itself when nothing answers on its port.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
"$root/scripts/build.sh"
exec "${BUILD_DIR:-$root/build}/src/app/quelvix"
