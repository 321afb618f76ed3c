#!/usr/bin/env bash
# Plants one fault (a sed substitution in one source file), rebuilds the tests matching a
# ctest pattern, runs them and puts the file back. Prints CAUGHT, MISSED, SAME (the
# substitution changed nothing) or NOBUILD. Never commit while it runs.
#   scripts/plant.sh FILE 'sed expression' 'ctest -R pattern' [build dir]
set -uo pipefail
file=$1 expr=$2 pattern=$3 build=${4:-build}
cd "$(git rev-parse --show-toplevel)"
git diff --quiet -- "$file" || { echo "$file has changes; not planting" >&2; exit 2; }
sed -i "$expr" "$file"
trap 'git checkout -q -- "$file"' EXIT
if git diff --quiet -- "$file"; then echo "SAME   $file $expr"; exit 0; fi
targets=$(ctest --test-dir "$build" -N -R "$pattern" | sed -n 's/^ *Test *#[0-9]*: //p' | grep -vE "oracle|test_home_")
if ! cmake --build "$build" -j4 --target $targets >/dev/null 2>&1; then echo "NOBUILD $file $expr"; exit 0; fi
if ctest --test-dir "$build" -j4 -R "$pattern" -E oracle >/dev/null 2>&1; then
    echo "MISSED $file $expr"
else
    echo "CAUGHT $file $expr"
fi
