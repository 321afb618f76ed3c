#!/usr/bin/env bash
# Runs Tessaly on a generated demo catalogue served from this machine (127.0.0.1 only).
#
# Installs what is needed (scripts/deps.sh), builds the program into build-demo with its service
# addresses pointing at the local service, generates the service folder (catalogue and covers),
# serves it with python3's static web server, and starts the program with all of its data under
# demo-data/home, so each run starts clean and your own Tessaly data is never touched.
# Quitting the program (File > Exit, or Ctrl+C here) stops the server as well.
# Without a display the program runs on a private Xvfb display.
#
# Usage: scripts/demo.sh [--books N] [--port PORT]
# While it runs, `build-demo/tools/tessaly-catalogue site --update demo-data/site` makes the next
# catalogue (books added and withdrawn, a new guid); the program swaps it in at its next refresh
# or start.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
books=5000
port=18473
while [ $# -gt 0 ]; do
    case "$1" in
        --books) books="$2"; shift 2 ;;
        --port) port="$2"; shift 2 ;;
        *) echo "usage: $0 [--books N] [--port PORT]" >&2; exit 1 ;;
    esac
done
build="${TESSALY_DEMO_BUILD:-$here/build-demo}"
data="${TESSALY_DEMO_DATA:-$here/demo-data}"
service="http://127.0.0.1:$port"

port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

if port_in_use "$port"; then
    echo "demo: port $port on 127.0.0.1 is in use; stop what uses it or pick another with --port" >&2
    exit 1
fi

[ "${TESSALY_DEMO_SKIP_DEPS:-}" = 1 ] || "$here/scripts/deps.sh"

echo "demo: building the program for the service at $service into $build"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSALY_CHECKED=OFF -DTESSALY_BUILD_TESTS=OFF -DTESSALY_BUILD_BENCH=OFF \
    -DTESSALY_SERVICE_URL="$service" -DTESSALY_VERSION_SERVICE_URL="$service" >/dev/null
cmake --build "$build" -j"${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}" --target tessaly tessaly-catalogue

# Every run starts clean: a fresh catalogue site and empty program folders.
rm -rf "$data/site" "$data/home"
home="$data/home"
for d in data config cache runtime; do mkdir -p "$home/$d"; done
chmod 700 "$home/runtime"
XDG_RUNTIME_DIR="$home/runtime" "$build/tools/tessaly-catalogue" site --books "$books" --out "$data/site"

server_pid=""
xvfb_pid=""
program_pid=""
cleanup() {
    [ -n "$program_pid" ] && kill -TERM "$program_pid" 2>/dev/null || true
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

python3 -m http.server --bind 127.0.0.1 "$port" --directory "$data/site" >"$data/http.log" 2>&1 &
server_pid=$!
for _ in $(seq 1 100); do
    port_in_use "$port" && break
    kill -0 "$server_pid" 2>/dev/null || { echo "demo: the web server did not start (see $data/http.log)" >&2; exit 1; }
    sleep 0.1
done

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1600x900x24 -nolisten tcp -br >"$data/xvfb.log" 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    echo "demo: no display found; the program runs on the virtual display $DISPLAY"
fi

echo "demo: service at $service serves $data/site; the program's data is in $home"
echo "demo: quit the program (File > Exit) or press Ctrl+C here to end the demo"
XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache" \
    XDG_RUNTIME_DIR="$home/runtime" "$build/tessaly" &
program_pid=$!
# A signal to this script ends the program the clean way, then everything else.
trap 'kill -TERM "$program_pid" 2>/dev/null || true' INT TERM
status=0
while :; do
    set +e
    wait "$program_pid"
    status=$?
    set -e
    kill -0 "$program_pid" 2>/dev/null || break
done
program_pid=""
echo "demo: the program ended with status $status"
exit "$status"
