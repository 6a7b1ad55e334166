#!/bin/sh
# Regenerates the site's format table from its sources: installs the npm
# packages package.json pins into a temporary folder, runs build_table.py,
# and writes quelvix-formats.xml and .shared beside domestic.xml.
#     site/formats/import/regenerate.sh           rewrite the committed table
#     site/formats/import/regenerate.sh --check   only compare; fails on a
#                                                 difference, exits 77 (not
#                                                 run) when npm's registry
#                                                 cannot be reached
set -eu
here=$(cd "$(dirname "$0")" && pwd)
formats=$(dirname "$here")
check=false
case "${1:-}" in
    "") ;;
    --check) check=true ;;
    *)
        echo "用法 / usage: $0 [--check]" >&2
        exit 2
        ;;
esac

if ! command -v npm >/dev/null; then
    echo "未运行：没有 npm / not run: npm is not installed" >&2
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$here/package.json" "$work/"
if ! (cd "$work" && npm install --ignore-scripts --no-audit --no-fund --silent) >"$work/npm.log" 2>&1; then
    cat "$work/npm.log" >&2
    echo "未运行：无法从 npm 取得 package.json 所列的包 / not run: npm's registry cannot be reached" >&2
    exit 77
fi

if ! $check; then
    python3 "$here/build_table.py" --npm "$work/node_modules"
    exit 0
fi
python3 "$here/build_table.py" --npm "$work/node_modules" --out "$work/quelvix-formats.xml" >/dev/null
status=0
for file in quelvix-formats.xml quelvix-formats.shared; do
    if ! diff -u "$formats/$file" "$work/$file"; then
        echo "site/formats/$file 不是生成器给出的内容；运行 site/formats/import/regenerate.sh / is not what the generator makes" >&2
        status=1
    fi
done
exit $status
