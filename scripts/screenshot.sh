#!/usr/bin/env bash
# Takes docs/screenshot.png: runs the demo (scripts/demo.sh) on a private Xvfb display, waits
# until the first page of covers has arrived, captures the screen with ImageMagick, and stops
# everything it started. Arguments are passed to demo.sh (for example --books 2000).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
out="$here/docs/screenshot.png"
data="${TESSALY_DEMO_DATA:-$here/demo-data}"
cache="$data/home/data/Quillory/Tessaly_LocalFolder LocalCache1"

"$here/scripts/deps.sh"

n=90
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
mkdir -p "$data"
# A black root window, so that trimming leaves just the program's window.
Xvfb ":$n" -screen 0 1600x900x24 -nolisten tcp -br >"$data/xvfb-screenshot.log" 2>&1 &
xvfb_pid=$!
demo_pid=""
shot=""
cleanup() {
    if [ -n "$demo_pid" ]; then
        kill -TERM "$demo_pid" 2>/dev/null || true
        wait "$demo_pid" 2>/dev/null || true
    fi
    kill "$xvfb_pid" 2>/dev/null || true
    [ -n "$shot" ] && rm -f "$shot"
}
trap cleanup EXIT
for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done

rm -rf "$cache"
DISPLAY=":$n" TESSALY_DEMO_SKIP_DEPS=1 "$here/scripts/demo.sh" "$@" &
demo_pid=$!

# The demo builds first, so allow for a full build; then wait until the cover count settles.
count_covers() {
    if [ -d "$cache" ]; then find "$cache" -maxdepth 1 -name '*.rfile' | wc -l; else echo 0; fi
}
last=-1
stable=0
for _ in $(seq 1 3600); do
    kill -0 "$demo_pid" 2>/dev/null || { echo "screenshot: the demo ended early" >&2; exit 1; }
    now=$(count_covers)
    if [ "$now" -ge 12 ] && [ "$now" -eq "$last" ]; then
        stable=$((stable + 1))
        [ "$stable" -ge 6 ] && break
    else
        stable=0
    fi
    last=$now
    sleep 0.5
done
[ "$stable" -ge 6 ] || { echo "screenshot: no covers arrived in time" >&2; exit 1; }
sleep 2

shot="$(mktemp --suffix=.png)"
import -display ":$n" -window root "$shot"
mkdir -p "$(dirname "$out")"
convert "$shot" -trim +repage "$out"
echo "screenshot: wrote $out ($(identify -format '%wx%h' "$out"))"
