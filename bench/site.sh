#!/bin/bash
# The lookup site side by side with nginx serving the same bytes: wrk on
# loopback at 16, 64 and 256 connections, the two servers interleaved, three
# runs each, medians of requests/s, p50, p99 and timeouts, and the ratio
# site/nginx. Then the page's own server time (its Server-Timing header) over
# sequential requests. With QUELVIX_SITE_CACHE=0 in the environment the site
# builds every page afresh; the script runs it both ways. The public site
# (--public) runs beside nginx serving its export with deploy/nginx.conf, and
# the script prints the export's file count, size and time.
#     bench/site.sh [BUILD_DIR] [SECONDS]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seconds=${2:-10}
path=/filefound/pdf.html
work=$(mktemp -d)
chmod 755 "$work" # nginx's workers run as nobody
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$work"' EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

declare -A url
start_site() { # name, cache setting, options
    QUELVIX_SITE_CACHE=$2 "$build/site/quelvix-site" --port 0 "${@:3}" >"$work/$1.out" &
    pids+=($!)
    until grep -qs listening "$work/$1.out"; do sleep 0.1; done
    url[$1]=$(sed -n 's/^listening on //p' "$work/$1.out")$path
}
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
"$build/site/quelvix-site" --export "$work/export" 2>/dev/null
export_seconds=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
export_port=$(free_port)
sed -e "s|listen 80;|listen 127.0.0.1:$export_port;|" -e "s|root /var/www/quelvix;|root $work/export;|" \
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
