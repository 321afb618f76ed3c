#!/usr/bin/env bash
# Builds with gcc's coverage instrumentation into build-coverage, runs the test suite and prints
# line and branch coverage of core, sync and ui (tests, benchmarks, tools and the files moc and
# uic generate are left out). Installs gcovr from Debian when it is missing.
# Usage: scripts/coverage.sh [ctest arguments...]   (default: -E oracle, which needs npm and only
# exercises the cipher through a dump program)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${TESSALY_COVERAGE_BUILD:-$here/build-coverage}"
jobs="${JOBS:-$(nproc)}"
[ $# -gt 0 ] || set -- -E oracle

"$here/scripts/deps.sh"
if ! command -v gcovr >/dev/null; then
    SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends gcovr
fi

# A build type of its own: unoptimised so lines map to code, QT_NO_DEBUG as in the usual builds,
# counters updated atomically (threads share them).
options=(-DCMAKE_BUILD_TYPE=Coverage -DTESSALY_CHECKED=ON -DTESSALY_BUILD_BENCH=OFF
         "-DCMAKE_C_FLAGS_COVERAGE=-O0 -g --coverage -fprofile-update=atomic" "-DCMAKE_CXX_FLAGS_COVERAGE=-O0 -g --coverage -fprofile-update=atomic"
         -DCMAKE_EXE_LINKER_FLAGS_COVERAGE=--coverage -DCMAKE_SHARED_LINKER_FLAGS_COVERAGE=--coverage)
# The coverage notes must name sources by their absolute paths: no ccache base folder.
unset CCACHE_BASEDIR
command -v ccache >/dev/null && options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$here" -B "$build" "${options[@]}"
cmake --build "$build" -j"$jobs"

# Counters add up across runs: start from zero.
find "$build" -name '*.gcda' -delete
(cd "$build" && ctest --output-on-failure -j"$jobs" "$@") || echo "coverage: some tests failed; the figures below count what ran" >&2

# Exception landing pads and branches the compiler proves dead are not decisions of ours.
summary="$build/coverage-summary.json"
gcovr --root "$here" --object-directory "$build" -j "$jobs" \
    --filter "$here/(core|sync|ui)/" --exclude '.*/(moc_|ui_|qrc_)[^/]*$' --exclude '.*_autogen/.*' \
    --exclude-throw-branches --exclude-unreachable-branches \
    --json-summary-pretty --output "$summary"

python3 - "$summary" <<'EOF'
import json, sys
totals = {}
for f in json.load(open(sys.argv[1]))["files"]:
    folder = f["filename"].split("/")[0]
    t = totals.setdefault(folder, [0, 0, 0, 0])
    t[0] += f["line_covered"]; t[1] += f["line_total"]
    t[2] += f["branch_covered"]; t[3] += f["branch_total"]
def pct(covered, total):
    return f"{100.0 * covered / total:5.1f}% ({covered}/{total})" if total else "  n/a"
print(f"{'folder':<6}  {'lines':<22}  branches")
for folder in ("core", "sync", "ui"):
    c = totals.get(folder, [0, 0, 0, 0])
    print(f"{folder:<6}  {pct(c[0], c[1]):<22}  {pct(c[2], c[3])}")
EOF
