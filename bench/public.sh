#!/bin/bash
# What a published export costs and saves: the bytes of a page raw, gzip and
# brotli (the export's own .gz and .br); what a second export of the same
# data changes; and nginx serving the shipped configuration, pages
# precompressed against plain, with wrk (requests/s and bytes/s).
#     bench/public.sh [BUILD_DIR] [SECONDS]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seconds=${2:-10}
site=$build/bin/quelvix-site
ram=/dev/shm
[ -w "$ram" ] || ram=${TMPDIR:-/tmp}
work=$(mktemp -d "$ram/quelvix-public.XXXXXX")
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT
out=$work/site

start=$(date +%s.%N)
"$site" --export "$out" --public-root https://lookup.example.org/ 2>"$work/first.log" >/dev/null
middle=$(date +%s.%N)
"$site" --export "$out" --public-root https://lookup.example.org/ 2>"$work/second.log" >/dev/null
end=$(date +%s.%N)
echo "| export | seconds | last line |"
echo "|---|---|---|"
awk -v a="$start" -v b="$middle" -v line="$(tail -1 "$work/first.log")" \
    'BEGIN { printf "| first | %.2f | %s |\n", b - a, line }'
awk -v a="$middle" -v b="$end" -v line="$(tail -1 "$work/second.log")" \
    'BEGIN { printf "| second, same data | %.2f | %s |\n", b - a, line }'

live=$out/.quelvix-export-current
echo
echo "| files | count | raw bytes per file | gzip | brotli |"
echo "|---|---|---|---|---|"
sizes() { # label, find arguments...
    local label=$1
    shift
    find -L "$live" "$@" -type f -printf '%p %s\n' | while read -r path size; do
        gz=$(stat -c %s "$path.gz" 2>/dev/null || echo "$size")
        br=$(stat -c %s "$path.br" 2>/dev/null || echo "$size")
        echo "$size $gz $br"
    done | awk -v label="$label" '{ n++; r += $1; g += $2; b += $3 }
        END { printf "| %s | %d | %.0f | %.0f (%.0f %%) | %.0f (%.0f %%) |\n",
              label, n, r / n, g / n, 100 * g / r, b / n, 100 * b / r }'
}
sizes "lookup pages (filefound/)" -path "*/filefound/*" -name '*.html'
sizes "search pages (soso/)" -path "*/soso/*" -name '*.htm'
sizes "style sheet" -path "*/assets/*" -name '*.css'

command -v nginx >/dev/null && command -v wrk >/dev/null || {
    echo "nginx or wrk missing: no serving figures"
    exit 0
}
chmod 755 "$work"
mkdir -p "$work/nginx"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
sed -e "s|listen 80;|listen 127.0.0.1:$port;|" -e "s|listen \[::\]:80;||" \
    -e "s|root /var/www/quelvix;|root $out;|" \
    -e "s|/etc/nginx/quelvix-proxy.conf|$root/deploy/quelvix-proxy.conf|" \
    -e "s|/etc/nginx/quelvix-brotli.con\[f\]|$work/nginx/none.con[f]|" \
    "$root/deploy/nginx.conf" >"$work/nginx/quelvix.conf"
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http { access_log off; include $work/nginx/quelvix.conf; }
CONF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
pids+=($!)
until curl -sf -o /dev/null "http://127.0.0.1:$port/filefound/pdf.html"; do sleep 0.1; done
echo
echo "| from nginx, /soso/pdf.htm, wrk -t1 -c16 ${seconds}s | requests/s | transfer/s |"
echo "|---|---|---|"
for encoding in identity gzip; do
    wrk -t1 -c16 -d"${seconds}s" -H "Accept-Encoding: $encoding" \
        "http://127.0.0.1:$port/soso/pdf.htm" >"$work/wrk.txt"
    awk -v e="$encoding" '/Requests\/sec/ { r = $2 } /Transfer\/sec/ { t = $2 }
        END { printf "| %s | %s | %s |\n", e, r, t }' "$work/wrk.txt"
done
