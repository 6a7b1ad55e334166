#!/bin/sh
# Configures and builds.
#     scripts/build.sh          everything, tests included, into build/
#     scripts/build.sh --run    only what running the app needs (the app, its
#                               web pane module and the lookup site), without
#                               tests, fuzzers, Windows tests, package or
#                               benchmarks, into build-run/
# BUILD_DIR names another build directory; BUILD_TYPE another build type.
# Either way the build is laid out as an install: bin/quelvix and
# bin/quelvix-site, the web pane module in lib/quelvix/.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
case "${1:-}" in
    "")
        build=${BUILD_DIR:-$root/build}
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}"
        ;;
    --run)
        # A tree of its own, so that it never mixes with the test build.
        build=${BUILD_DIR:-$root/build-run}
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" \
            -DBUILD_TESTING=OFF -DQUELVIX_FUZZ=OFF -DQUELVIX_WINDOWS_TESTS=OFF \
            -DQUELVIX_PACKAGE=OFF -DQUELVIX_BENCH=OFF
        ;;
    *)
        echo "用法 / usage: $0 [--run]" >&2
        exit 2
        ;;
esac
cmake --build "$build" --parallel
