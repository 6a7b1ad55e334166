#!/bin/sh
# filecheck::inspect() beside `file --mime-type` on the same files, warm
# cache: the tests' kinds of file under true, lying and no names, a 4 GB
# sparse file and 1,000 files from /usr. Median, p99 and maximum per file,
# file(1) both a process per file and one process for all, and the ratios.
# The goal is every file under 10 ms. See bench/detect.py.
#     bench/detect.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
cmake --build "$build" --target bench_detect >/dev/null
exec /usr/bin/python3 "$root/bench/detect.py" "$build"
