#!/bin/sh
# Installs everything the build and the tests need (as root), builds
# everything into build/ (or $BUILD_DIR) and runs every test.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
sh "$root/scripts/deps.sh" --test
sh "$root/scripts/build.sh"
cd "${BUILD_DIR:-$root/build}"
ctest --output-on-failure --no-tests=error
