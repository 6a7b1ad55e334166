#!/bin/bash
# Pages built afresh and the export on one and on two cores.
# A site started with QUELVIX_SITE_CACHE=0 answers a few types' pages, each
# over one kept-open connection one request after another; the client's own
# median and p99 in microseconds (the first request of a type, which loads
# the catalog for it, is left out), and the page's own time as its
# Server-Timing header tells it. Then the whole export into a RAM disk
# with --jobs 1 and --jobs 2, three runs each, the fastest of each, their
# ratio and the time per extension. A cached page is timed too: what the
# HTTP layer and the client take without building anything.
# Last, nginx serves the export's files of the same pages to the same client.
# The client is compiled (bench/page_client.cpp), so that little but the
# server and the loopback is timed, and the servers and the client share one
# core: waking a process on the other core costs a virtual machine tens of
# microseconds each way, more than a page, and varies with the host's load.
#     bench/export.sh [BUILD_DIR] [REQUESTS] [RUNS]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
requests=${2:-2000}
runs=${3:-3}
site=$build/bin/quelvix-site
ram=/dev/shm
[ -w "$ram" ] || ram=${TMPDIR:-/tmp}
cmake --build "$build" --target bench_pages >/dev/null
one_core=
if command -v taskset >/dev/null; then one_core="taskset -c 0"; fi
work=$(mktemp -d "$ram/quelvix-bench.XXXXXX")
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT

# Sets the variable to the site's root. Not run in a subshell, so that its
# process is remembered and stopped at the end.
start_site() { # variable, name, cache setting
    QUELVIX_SITE_CACHE=$3 $one_core "$site" --port 0 >"$work/$2.out" 2>"$work/$2.log" &
    pids+=($!)
    until grep -qs listening "$work/$2.out"; do sleep 0.1; done
    printf -v "$1" '%s' "$(sed -n 's|^.*\(http://127\.0\.0\.1:[0-9]*\)$|\1|p' "$work/$2.out")"
}
start_site base uncached 0
start_site cached cached 1

echo "| page (uncached) | requests | median µs | p99 µs | server's own median µs |"
echo "|---|---|---|---|---|"
times() { # site, label, extensions...
    local hostport=${1#http://}
    local label=$2
    shift 2
    $one_core "$build/bench/bench_pages" "${hostport%:*}" "${hostport##*:}" "$requests" "$label" \
        $(printf '/filefound/%s.html ' "$@")
}
times "$base" "" pdf png docx mp3 zip txt
times "$cached" " (cached: the HTTP layer and the client alone)" pdf

fastest() { # jobs
    local best=
    for _ in $(seq "$runs"); do
        rm -rf "$work/export"
        local start end
        start=$(date +%s.%N)
        "$site" --export "$work/export" --jobs "$1" >/dev/null 2>&1
        end=$(date +%s.%N)
        best=$(awk -v a="$start" -v b="$end" -v best="$best" \
            'BEGIN { t = b - a; print (best == "" || t < best) ? t : best }')
    done
    echo "$best"
}
one=$(fastest 1)
two=$(fastest 2)
extensions=$(find -L "$work/export/filefound" -name '*.html' | wc -l)
echo
echo "| export into $ram | extensions | --jobs 1 s | --jobs 2 s | ratio | ms per extension (--jobs 2) |"
echo "|---|---|---|---|---|---|"
awk -v n="$extensions" -v a="$one" -v b="$two" -v d="$ram" \
    'BEGIN { printf "| %s | %d | %.2f | %.2f | %.2f× | %.2f |\n", d, n, a, b, b / a, b * 1000 / n }'

# The same pages as files of the export, from nginx with no more than a
# listening port and a root: what a page costs that nobody builds.
if command -v nginx >/dev/null; then
    mkdir -p "$work/nginx"
    chmod 755 "$work"
    nginx_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
    access_log off;
    keepalive_requests 1000000;
    server { listen 127.0.0.1:$nginx_port; root $work/export; }
}
CONF
    $one_core nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
    pids+=($!)
    until curl -sf -o /dev/null "http://127.0.0.1:$nginx_port/filefound/pdf.html"; do sleep 0.1; done
    echo
    echo "| page from nginx (the export's file) | requests | median µs | p99 µs | server's own (none told) |"
    echo "|---|---|---|---|---|"
    times "http://127.0.0.1:$nginx_port" "" pdf png docx mp3 zip txt
fi
