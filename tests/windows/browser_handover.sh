#!/bin/sh
# explorer.exe with the quoted address, under Wine, must reach the default
# browser with the exact address: Wine's shell follows the http association
# to winebrowser, which runs xdg-open from the Unix PATH, here a recorder.
#     browser_handover.sh WINE TEST_EXE
set -eu
wine=$1 exe=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
printf '#!/bin/sh\nprintf "%%s\\n" "$@" > "%s/log.tmp"; mv "%s/log.tmp" "%s/log"\n' \
    "$scratch" "$scratch" "$scratch" > "$scratch/xdg-open"
chmod +x "$scratch/xdg-open"
address='http://127.0.0.1:27380/soso/%E6%96%87%E6%A1%A3.htm'
PATH="$scratch:$PATH" "$wine" "$exe" "$address"
for _ in $(seq 200); do
    [ -e "$scratch/log" ] && break
    sleep 0.1
done
[ -e "$scratch/log" ] || { echo "FAIL: the browser was never started"; exit 1; }
if [ "$(cat "$scratch/log")" = "$address" ]; then
    echo "ok: the default browser received exactly $address"
else
    echo "FAIL: the browser received: $(cat "$scratch/log")"
    exit 1
fi
# A quote in the address is refused before anything starts.
rm -f "$scratch/log"
if PATH="$scratch:$PATH" "$wine" "$exe" 'http://x/a" & calc "' >/dev/null; then
    echo "FAIL: an address with a quote was handed over"; exit 1
fi
sleep 1
[ ! -e "$scratch/log" ] || { echo "FAIL: a browser was started for it"; exit 1; }
echo "ok: an address with a quote is refused and nothing starts"
