#!/bin/bash
# How much of what people meet the lookup site answers: for each site binary,
# the share of each reference list (bench/coverage/: everyday extensions,
# formats of domestic software, the extensions of this machine's own files)
# whose page answers, has a Chinese description and lists a program; whether
# the judged formats' program stands in the pane's first three; packages
# listed twice in one section, on the looked-up pages and in the export; and
# the number of extensions the export knows; formats whose advice names a
# program their page does not list; plain-text formats with no program in the
# pane; and whether a word's first three formats are what people mean by it
# (bench/coverage/words.tsv). Several binaries stand side by
# side: two unlabelled ones are "before" and "after", LABEL=path names one.
# A report, not a test: it asserts nothing.
#     bench/coverage.sh [[LABEL=]SITE_BINARY ...]
# COVERAGE_ROOTS (default "/usr /etc /var/lib") are walked for this machine's
# extensions; COVERAGE_MIN (default 10) is how often one must be seen.
# COVERAGE_KEEP=1 keeps the measured details (result-*.json) and says where.
# COVERAGE_CATALOG=DIR reads the software catalog from DIR (yaml/, icons/)
# instead of the system's. COVERAGE_BARE=1 measures a bare desktop: no
# program installed (no desktop entries, an empty dpkg status), only the
# catalog's to install. COVERAGE_DESKTOP=TASK (a Debian desktop task, such as
# task-gnome-desktop) measures this machine as if that desktop were installed
# too: the packages dpkg has and those apt would install for the task
# (apt-get's simulation; nothing is installed) count as installed, so the
# catalog's programs of them stand as installed; GIO's entries are left out.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
helper=$root/bench/coverage/coverage.py
roots=${COVERAGE_ROOTS:-/usr /etc /var/lib}
minimum=${COVERAGE_MIN:-10}
[ $# -gt 0 ] || set -- "$root/build/bin/quelvix-site"
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; [ -n "${COVERAGE_KEEP:-}" ] || rm -rf "$work"' EXIT
began=$(date +%s.%N)

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

# shellcheck disable=SC2086 # the roots are a list
python3 "$helper" machine --min "$minimum" $roots >"$work/machine.tsv"

catalog=()
[ -z "${COVERAGE_CATALOG:-}" ] || catalog=(--catalog "$COVERAGE_CATALOG")
export COVERAGE_CATALOG # the helper names programs by it
if [ -n "${COVERAGE_BARE:-}${COVERAGE_DESKTOP:-}" ]; then
    # The desktop's MIME database and icons, and no program at all.
    mkdir -p "$work/bare/share" "$work/bare/home" "$work/bare/config"
    ln -s /usr/share/mime "$work/bare/share/mime"
    ln -s /usr/share/icons "$work/bare/share/icons"
    : >"$work/bare/status"
    if [ -n "${COVERAGE_DESKTOP:-}" ]; then
        { dpkg-query -W -f '${db:Status-Abbrev} ${Package}\n' | awk '$1 == "ii" { print $2 }'
          apt-get install -s -qq "$COVERAGE_DESKTOP" 2>/dev/null | awk '/^Inst/ { print $2 }'
        } | sort -u | sed 's/$/\nStatus: install ok installed\n/; s/^/Package: /' >"$work/bare/status"
    fi
    export XDG_DATA_DIRS=$work/bare/share XDG_DATA_HOME=$work/bare/home \
        XDG_CONFIG_HOME=$work/bare/config QUELVIX_DPKG_STATUS=$work/bare/status
fi

results=()
index=0
for given in "$@"; do
    index=$((index + 1))
    binary=${given#*=}
    if [ "$binary" != "$given" ]; then
        label=${given%%=*}
    elif [ $# -eq 2 ]; then
        label=$([ $index -eq 1 ] && echo before || echo after)
    else
        label=$binary
    fi
    if [ ! -x "$binary" ]; then
        echo "coverage.sh: $binary is not an executable" >&2
        exit 2
    fi
    echo "measuring $label ($binary)" >&2

    start=$(now)
    "$binary" "${catalog[@]}" --export "$work/export-$index" 2>/dev/null
    export_seconds=$(since "$start")

    "$binary" "${catalog[@]}" --port 0 >"$work/site-$index.out" 2>"$work/site-$index.err" &
    pid=$!
    until grep -qs listening "$work/site-$index.out"; do
        kill -0 "$pid" 2>/dev/null || { cat "$work/site-$index.err" >&2; exit 1; }
        sleep 0.1
    done
    url=$(sed -n 's|^.*\(http://127\.0\.0\.1:[0-9]*\)$|\1|p' "$work/site-$index.out")
    python3 "$helper" measure --url "$url" --export "$work/export-$index" \
        --export-seconds "$export_seconds" --machine "$work/machine.tsv" \
        --label "$label" --binary "$binary" >"$work/result-$index.json"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    pid=
    rm -rf "$work/export-$index"
    results+=("$work/result-$index.json")
done

python3 "$helper" table --min "$minimum" "${results[@]}"
echo
echo "Goals: ≥ 90 % of the everyday and domestic lists answer; ≥ 90 % of judged formats" \
    "right in the first three; 0 duplicates; known extensions above 2,400; no page whose" \
    "advice names a program it does not list; a program for every text format; ≥ 90 % of" \
    "words with everyday formats first."
echo "Measured in $(since "$began") s."
[ -z "${COVERAGE_KEEP:-}" ] || echo "Details kept in $work."
