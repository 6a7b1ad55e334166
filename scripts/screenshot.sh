#!/bin/sh
# Shows the built app in a fresh X server and saves its windows as PNGs in
# docs/: form1.png (the main window), form2.png (疑难解答, opened with F1) and
# frmabout.png (关于, opened with Ctrl+H), lookup.png (pdf looked up in the
# pane) and lookup-<ext>.png for docx, exe, psd, epub, wps, caj, ofd, ncm and
# mp4, from the local lookup site, which is started when nothing answers on its
# port. It needs ImageMagick (import) besides the test dependencies.
# The client areas must match the windows' definitions to the pixel.
#     scripts/screenshot.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
out=$root/docs
# The lookup root's port as the app was built with it (the top CMakeLists.txt
# sets its default).
port=$(sed -n 's|^LOOKUP_SITE:[A-Z]*=.*:\([0-9][0-9]*\)$|\1|p' "$build/CMakeCache.txt")
port=${port:-80}
mkdir -p "$out"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    find_window() {
        until w=$(xdotool search --all --onlyvisible --pid $app --name "^$1\$"); do sleep 0.2; done
        echo "$w"
    }
    "$1/bin/quelvix" 2>/dev/null &
    app=$!
    main=$(find_window "ZorvQuelvix 2.0")
    sleep 3
    import -window "$main" "$2/form1.png"
    xdotool windowfocus --sync "$main" key F1
    form2=$(find_window "疑难解答")
    sleep 1
    import -window "$form2" "$2/form2.png"
    xdotool windowfocus --sync "$form2" key space
    xdotool windowfocus --sync "$main" key ctrl+h
    about=$(find_window "关于 Dornavel")
    sleep 1
    import -window "$about" "$2/frmabout.png"
    xdotool windowfocus --sync "$about" key Escape
    if ! (exec 3<>/dev/tcp/127.0.0.1/$3) 2>/dev/null; then
        "$1/bin/quelvix-site" --port "$3" >/dev/null &
        site=$!
        sleep 1
    fi
    look_up() {
        xdotool windowfocus --sync "$main" key ctrl+a BackSpace
        xdotool type "$1"
        xdotool key Return
        sleep 3
        import -window "$main" "$2"
    }
    look_up pdf "$2/lookup.png"
    for ext in docx exe psd epub wps caj ofd ncm mp4; do
        look_up $ext "$2/lookup-$ext.png"
    done
    kill $app ${site:-}
' sh "$build" "$out" "$port"
echo "wrote $out/form1.png $out/form2.png $out/frmabout.png $out/lookup*.png"
