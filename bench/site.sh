#!/bin/bash
# Load on the lookup site's pane page: wrk on loopback for requests per second
# and latency percentiles, then the page's own server time (its Server-Timing
# header) over sequential requests, median and 90th percentile.
#     bench/site.sh [BUILD_DIR] [SECONDS]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seconds=${2:-10}
path=/filefound/pdf.html

out=$(mktemp)
"$build/site/quelvix-site" --port 0 >"$out" &
site=$!
trap 'kill $site 2>/dev/null; rm -f "$out"' EXIT
until grep -q listening "$out"; do sleep 0.1; done
url="$(sed -n 's/^listening on //p' "$out")$path"

echo "== wrk -t2 -c16 -d${seconds}s --latency $path"
wrk -t2 -c16 -d"${seconds}s" --latency "$url" | sed -n '/Latency Distribution/,/Transfer/p'

echo "== server time of $path over 2000 sequential requests (ms)"
for _ in $(seq 2000); do
    curl -s -o /dev/null -D - "$url" | sed -n 's/^Server-Timing: page;dur=\([0-9.]*\).*/\1/p'
done | sort -n | awk '{ v[NR] = $1 } END { printf "median %.3f  p90 %.3f  max %.3f\n", v[int(NR*0.5)], v[int(NR*0.9)], v[NR] }'
