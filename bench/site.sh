#!/bin/bash
# The lookup site side by side with nginx serving the same bytes: wrk on
# loopback at 16, 64 and 256 connections, the two servers interleaved, three
# runs each, medians of requests/s, p50, p99 and timeouts, and the ratio
# site/nginx. Then the page's own server time (its Server-Timing header) over
# sequential requests. With QUELVIX_SITE_CACHE=0 in the environment the site
# builds every page afresh; the script runs it both ways. The public site
# (--public) runs beside nginx serving its export with deploy/nginx.conf, and
# the script prints the export's file count, size and time.
#
# Then a stress run: 30 short wrk runs at 256 and at 1,024 connections
# against the cached site, counting the runs whose rate fell below half the
# median or that had any socket error, while one client on one connection
# times its own requests one after another (wrk's own latency columns are
# not to be trusted when it is overloaded). Last, what the cache keeps: every
# page of the export is fetched once from a fresh cached and a fresh
# uncached site, and each one's growth in resident memory is set against the
# bytes of the pages.
#
# The start part times the site's start on its own, side by side with
# lookups as the app makes them (bench_lookup, through the app's local-site
# starter): a cold one that has to start the site, then a warm one that finds
# it running, alternating, with medians and the ratio cold/warm; and it
# counts the shared objects the site has mapped once it is ready.
#     bench/site.sh [BUILD_DIR] [SECONDS] [PARTS]
# PARTS: any of compare, stress, cache, start (default: all four).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seconds=${2:-10}
parts=${3:-compare stress cache start}
wants() { [[ " $parts " == *" $1 "* ]]; }
path=/filefound/pdf.html
work=$(mktemp -d)
chmod 755 "$work" # nginx's workers run as nobody
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$work"' EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

declare -A url pid
start_site() { # name, cache setting, options
    QUELVIX_SITE_CACHE=$2 "$build/bin/quelvix-site" --port 0 "${@:3}" >"$work/$1.out" &
    pids+=($!)
    pid[$1]=$!
    until grep -qs listening "$work/$1.out"; do sleep 0.1; done
    url[$1]=$(sed -n 's|^.*\(http://127\.0\.0\.1:[0-9]*\)$|\1|p' "$work/$1.out")$path
}
# What compare, stress and cache share: the sites, nginx and the export.
setup() {
start_site site 1
start_site uncached 0
start_site public 1 --public

# nginx in the foreground with its own configuration, serving the page saved
# from the site with the same type.
mkdir -p "$work/www/filefound" "$work/nginx"
curl -sf "${url[site]}" >"$work/www$path"
nginx_port=$(free_port)
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 4096; }
http {
    access_log off;
    types { text/html html; }
    server {
        listen 127.0.0.1:$nginx_port backlog=1024;
        root $work/www;
        charset utf-8;
    }
}
CONF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
pids+=($!)
for _ in $(seq 50); do
    curl -sf -o /dev/null "http://127.0.0.1:$nginx_port$path" && break
    sleep 0.1
done
url[nginx]="http://127.0.0.1:$nginx_port$path"
cmp <(curl -s "${url[site]}") "$work/www$path"

# The public export, served as shipped.
start=$(date +%s.%N)
"$build/bin/quelvix-site" --export "$work/export" 2>/dev/null
export_seconds=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
export_port=$(free_port)
sed -e "s|listen 80;|listen 127.0.0.1:$export_port;|" -e "s|listen \[::\]:80;||" \
    -e "s|root /var/www/quelvix;|root $work/export;|" \
    -e "s|include /etc/nginx/quelvix-proxy.conf;|include $root/deploy/quelvix-proxy.conf;|" \
    "$root/deploy/nginx.conf" >"$work/nginx/quelvix.conf"
cat >"$work/nginx/export.conf" <<CONF
worker_processes auto;
pid $work/nginx/export.pid;
error_log $work/nginx/export-error.log;
events { worker_connections 4096; }
http { access_log off; include $work/nginx/quelvix.conf; }
CONF
nginx -p "$work/nginx" -c "$work/nginx/export.conf" -g 'daemon off;' &
pids+=($!)
url[export]="http://127.0.0.1:$export_port$path"
for _ in $(seq 50); do
    curl -sf -o /dev/null "${url[export]}" && break
    sleep 0.1
done
cmp <(curl -s "${url[public]}") <(curl -s "${url[export]}")
printf 'export: %d files, %s, %.1f s\n' "$(find "$work/export" -type f | wc -l)" \
    "$(du -sh "$work/export" | cut -f1)" "$export_seconds"
}

to_ms() { # wrk's "1.23ms", "456.00us", "1.02s"
    awk -v v="$1" 'BEGIN { if (v ~ /us$/) print v/1000; else if (v ~ /ms$/) print v+0; else if (v ~ /s$/) print v*1000; else print v }'
}

run_wrk() { # server, connections -> "rps p50 p99 timeouts"
    local out
    out=$(wrk -t2 -c"$2" -d"${seconds}s" --latency "${url[$1]}")
    local rps p50 p99 timeouts
    rps=$(awk '/^Requests\/sec/ { print $2 }' <<<"$out")
    p50=$(to_ms "$(awk '$1 == "50%" { print $2 }' <<<"$out")")
    p99=$(to_ms "$(awk '$1 == "99%" { print $2 }' <<<"$out")")
    timeouts=$(sed -n 's/.*timeout \([0-9]*\).*/\1/p' <<<"$out")
    echo "$rps $p50 $p99 ${timeouts:-0}"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

compare() {
    servers=(site uncached nginx public export)
    # Each server against nginx serving the same bytes.
    declare -A peer=([site]=nginx [uncached]=nginx [nginx]=nginx [public]=export [export]=export)
    for c in 16 64 256; do
        for run in 1 2 3; do
            for s in "${servers[@]}"; do
                run_wrk "$s" "$c" >>"$work/$s.$c"
            done
        done
    done

    printf '\n| connections | server | requests/s | p50 ms | p99 ms | timeouts | requests/s vs its nginx | p99 vs its nginx |\n'
    printf '|---|---|---|---|---|---|---|---|\n'
    for c in 16 64 256; do
        for s in "${servers[@]}"; do
            for col in 1 2 3 4; do
                read -r "m$col" < <(cut -d' ' -f$col "$work/$s.$c" | median)
            done
            p=${peer[$s]}
            read -r n1 n3 < <(paste <(cut -d' ' -f1 "$work/$p.$c" | median) <(cut -d' ' -f3 "$work/$p.$c" | median))
            awk -v c="$c" -v s="$s" -v r="$m1" -v p50="$m2" -v p99="$m3" -v t="$m4" -v nr="$n1" -v np="$n3" \
                'BEGIN { printf "| %d | %s | %.0f | %.2f | %.2f | %d | %.2f× | %.2f× |\n", c, s, r, p50, p99, t, r/nr, p99/np }'
        done
    done

    for s in site uncached; do
        echo
        echo "== $s: server time of $path over 2000 sequential requests (ms)"
        for _ in $(seq 2000); do
            curl -s -o /dev/null -D - "${url[$s]}" | sed -n 's/^Server-Timing: page;dur=\([0-9.]*\).*/\1/p'
        done | sort -g | awk '{ v[NR] = $1 } END { printf "median %.3f  p90 %.3f  max %.3f\n", v[int(NR*0.5)], v[int(NR*0.9)], v[NR] }'
    done
}

# A plain HTTP client on one kept-open connection, one request after another.
#   client time URL SECONDS: how long each request took, in milliseconds,
#     until the seconds are over
#   client crawl ROOT FILE: fetches each target in FILE once; prints the bytes
#     of the answers that were pages (status 200)
client() {
    PYTHONPATH="$root/bench" python3 - "$@" <<'PY'
import sys, time, urllib.parse
from httpclient import connect, fetch as get

def fetch(connection, root, target):
    status, _, body = get(connection, root, target)
    return status, len(body)

mode, root = sys.argv[1], urllib.parse.urlsplit(sys.argv[2])
if mode == "time":
    end = time.monotonic() + float(sys.argv[3])
    connection = None
    while time.monotonic() < end:
        start = time.monotonic()
        try:
            connection = connection or connect(root)
            fetch(connection, root, root.path.encode())
        except OSError:
            connection = None  # counts as long as it took to fail
        print("%.3f" % ((time.monotonic() - start) * 1000))
else:
    connection, kept = connect(root), 0
    for target in open(sys.argv[3]).read().split():
        status, length = fetch(connection, root, target.encode())
        kept += length if status == 200 else 0
    print(kept)
PY
}

# 30 short runs per connection count against the cached site.
stress() {
    local runs=30 run_seconds=2
    printf '\n| connections | runs | below half the median | with socket errors | median requests/s | slowest run | one client p50 ms | p99 ms | max ms |\n'
    printf '|---|---|---|---|---|---|---|---|---|\n'
    for c in 256 1024; do
        : >"$work/stress.$c"
        : >"$work/latency.$c"
        for _ in $(seq "$runs"); do
            client time "${url[site]}" "$run_seconds" >>"$work/latency.$c" &
            local timer=$!
            local out
            out=$(wrk -t2 -c"$c" -d"${run_seconds}s" "${url[site]}")
            wait "$timer"
            local rps errors
            rps=$(awk '/^Requests\/sec/ { print $2 }' <<<"$out")
            errors=$(sed -n 's/.*Socket errors: connect \([0-9]*\), read \([0-9]*\), write \([0-9]*\), timeout \([0-9]*\).*/\1 \2 \3 \4/p' <<<"$out" |
                awk '{ print $1 + $2 + $3 + $4 }')
            echo "$rps ${errors:-0}" >>"$work/stress.$c"
        done
        local middle p50 p99 worst
        middle=$(cut -d' ' -f1 "$work/stress.$c" | median)
        read -r p50 p99 worst < <(sort -g "$work/latency.$c" |
            awk '{ v[NR] = $1 } END { print v[int(NR * 0.5) + 1], v[int(NR * 0.99) + 1], v[NR] }')
        awk -v c="$c" -v runs="$runs" -v m="$middle" -v p50="$p50" -v p99="$p99" -v worst="$worst" '
            { slow += $1 < m / 2; failed += $2 > 0; if (NR == 1 || $1 < least) least = $1 }
            END { printf "| %d | %d | %d | %d | %.0f | %.0f | %.2f | %.2f | %.2f |\n", c, runs, slow, failed, m, least, p50, p99, worst }' \
            "$work/stress.$c"
    done
}

resident_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }

# What the cache keeps against the memory it takes: fresh sites, so nothing
# else has been kept yet.
cache() {
    start_site fresh 1
    start_site fresh_uncached 0
    find "$work/export/filefound" "$work/export/soso" -type f |
        sed 's|^.*/\([^/]*/[^/]*\)$|/\1|' >"$work/pages"
    printf '\n| site | bytes of the pages | resident memory growth | growth ÷ page bytes |\n|---|---|---|---|\n'
    local name root before bytes grown
    declare -A growth
    for name in fresh fresh_uncached; do
        root=${url[$name]%"$path"}
        curl -s -o /dev/null "$root/"
        before=$(resident_kb "${pid[$name]}")
        bytes=$(client crawl "$root" "$work/pages")
        grown=$(($(resident_kb "${pid[$name]}") - before))
        growth[$name]=$grown
        awk -v n="$name" -v b="$bytes" -v g="$grown" \
            'BEGIN { printf "| %s | %.1f MB | %.1f MB | %.2f× |\n", n, b / 1048576, g / 1024, g * 1024 / b }'
    done
    awk -v b="$bytes" -v g="$((growth[fresh] - growth[fresh_uncached]))" \
        'BEGIN { printf "| the cache alone (cached − uncached) | %.1f MB | %.1f MB | %.2f× |\n", b / 1048576, g / 1024, g * 1024 / b }'
}


# The site started on its own: to the line saying it is ready (with
# --ready-fd; a site without it is timed to the line with its address, printed
# at the same point), then to the first page answered; and the shared
# objects it has mapped by then.
site_start() { # port -> "ready ms, page ms, shared objects"
    PYTHONPATH="$root/bench" python3 - "$build/bin/quelvix-site" "$1" "$path" <<'PY'
import os, subprocess, sys, time, urllib.parse
from httpclient import connect, fetch

site, port, target = sys.argv[1], sys.argv[2], sys.argv[3].encode()
signals = b"--ready-fd" in subprocess.run([site, "--help"], capture_output=True).stdout
arguments = [site, "--port", port, "--exit-when-idle", "60"]
start = time.monotonic()
if signals:
    read_end, write_end = os.pipe()
    process = subprocess.Popen(arguments + ["--ready-fd", str(write_end)], pass_fds=(write_end,),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    said = os.read(read_end, 4096)
else:
    process = subprocess.Popen(arguments, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    said = process.stdout.readline()
ready = time.monotonic()
if not said.startswith((b"ready", b"listening")):
    sys.exit("the site did not start: %r" % said)
root = urllib.parse.urlsplit("http://127.0.0.1:%s/" % port)
status, _, _ = fetch(connect(root), root, target)
page = time.monotonic()
objects = {line.split()[-1] for line in open("/proc/%d/maps" % process.pid)
           if ".so" in line.rsplit("/", 1)[-1]}
process.terminate()
process.wait()
if status != 200:
    sys.exit("the first page answered %d" % status)
print("%.3f %.3f %d" % ((ready - start) * 1000, (page - start) * 1000, len(objects)))
PY
}

# The site a lookup left running on a port ends here, so the next is cold.
stop_site_on() {
    local owner
    owner=$(ss -Hltnp "sport = :$1" | sed -n 's/.*pid=\([0-9]*\).*/\1/p' | head -1)
    if [ -n "$owner" ]; then
        kill "$owner"
        while kill -0 "$owner" 2>/dev/null; do sleep 0.01; done
    fi
}

start() {
    local runs=${START_RUNS:-11} port
    : >"$work/start.site"
    : >"$work/start.lookup"
    for _ in $(seq "$runs"); do
        site_start "$(free_port)" >>"$work/start.site"
        port=$(free_port)
        # The starter takes quelvix-site from PATH: the one of this build.
        for kind in cold warm; do
            echo "$kind $(PATH="$build/bin:$PATH" "$build/bench/bench_lookup" \
                "http://127.0.0.1:$port$path")" >>"$work/start.lookup"
        done
        stop_site_on "$port"
    done
    local ready page objects
    read -r ready < <(cut -d' ' -f1 "$work/start.site" | median)
    read -r page < <(cut -d' ' -f2 "$work/start.site" | median)
    read -r objects < <(cut -d' ' -f3 "$work/start.site" | median)
    printf '\n| start (%d alternating runs, medians) | ms |\n|---|---|\n' "$runs"
    printf '| site: start → ready | %.1f |\n| site: start → first page | %.1f |\n' "$ready" "$page"
    printf '| site: shared objects mapped at ready | %d |\n' "$objects"
    local cold_ready cold_page warm_ready warm_page
    read -r cold_ready < <(awk '$1 == "cold" { print $2 }' "$work/start.lookup" | median)
    read -r cold_page < <(awk '$1 == "cold" { print $3 }' "$work/start.lookup" | median)
    read -r warm_ready < <(awk '$1 == "warm" { print $2 }' "$work/start.lookup" | median)
    read -r warm_page < <(awk '$1 == "warm" { print $3 }' "$work/start.lookup" | median)
    printf '\n| lookup through the app'"'"'s starter | site running (warm) ms | site started (cold) ms | cold ÷ warm |\n|---|---|---|---|\n'
    awk -v w="$warm_ready" -v c="$cold_ready" 'BEGIN { printf "| to the site ready | %.1f | %.1f | %.1f× |\n", w, c, c / w }'
    awk -v w="$warm_page" -v c="$cold_page" 'BEGIN { printf "| to the page whole | %.1f | %.1f | %.1f× |\n", w, c, c / w }'
}

if wants compare || wants stress || wants cache; then setup; fi
if wants compare; then compare; fi
if wants stress; then stress; fi
if wants cache; then cache; fi
if wants start; then start; fi
