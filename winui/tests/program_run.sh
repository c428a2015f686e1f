#!/usr/bin/env bash
# moravine-gui.exe started as a user starts it, under Wine on a virtual X
# server with a Wine prefix of its own: opened on a folder of the sample
# books (compressed with moravine.exe first) with --search, its search ends
# with the hits that Linux finds, and the close box ends it with status 0.
# window_shot.exe waits for the search's end, reads the status line and
# presses the close box.
# Usage: program_run.sh WINEPREFIX WINE64 WINESERVER BUILD_DIR SAMPLES_DIR
set -euo pipefail
if [ "${1:-}" != --inside ]; then
  export WINEPREFIX=$1 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv,winepulse.drv,wineoss.drv="
  mkdir -p "$WINEPREFIX"
  exec xvfb-run --auto-servernum --server-args="-screen 0 1280x1024x24" "$0" --inside "$@"
fi
shift
wine=$2 server=$3 build=$4 samples=$5
windows() { local path=$1; echo "Z:${path//\//\\}"; }
work=$(mktemp -d "$build/program-run.XXXXXX")
trap '"$server" -k 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir "$work/books"
cp "$samples"/*.txt "$work/books/"
cd "$work"
"$wine" "$build/cli/moravine.exe" --quiet compress "$(windows "$work/books")"

"$wine" "$build/winui/moravine-gui.exe" "$(windows "$work/books")" --search handkerchief &
gui=$!
status=$("$wine" "$build/winui/tests/window_shot.exe" --close "$(windows "$work/window.bmp")" | tr -d '\r')
gui_status=0
wait $gui || gui_status=$?
echo "status line: $status; moravine-gui.exe exited with $gui_status"
[ "$status" = "Finished: 32 hits in 2 of 5 files searched" ] || { echo "FAILED: the status line"; exit 1; }
[ "$gui_status" -eq 0 ] || { echo "FAILED: the exit status"; exit 1; }
[ "$(head -c 2 "$work/window.bmp")" = BM ] || { echo "FAILED: no picture of the window"; exit 1; }
[ -f "$work/Moravine.log" ] || { echo "FAILED: no log in the current folder"; exit 1; }
echo "passed"
