#!/usr/bin/env bash
# The home folder every test runs with, in place of the user's own.
#   fresh_home.sh make HOME   empties it and makes its runtime folder
#   fresh_home.sh check HOME  fails if anything of the program appeared in it since (and keeps it
#                             to look at); removes it otherwise
# A test that writes the program's folders (data, cache, settings, runtime locks) without a
# private home of its own would write them into a user's real home.
set -euo pipefail
home=$2
case "$1" in
make)
    rm -rf "$home"
    mkdir -p "$home/.runtime"
    chmod 700 "$home" "$home/.runtime"
    ;;
check)
    [ -d "$home" ] || exit 0 # already checked and removed (a repeated run)
    found=$(find "$home" -mindepth 1 \( -iname '*tessaly*' -o -iname '*quillory*' \) -prune -print | sort)
    if [ -n "$found" ]; then
        echo "tests left the program's folders in the home folder they ran with:" >&2
        echo "$found" >&2
        exit 1
    fi
    rm -rf "$home"
    ;;
*)
    echo "usage: $0 make|check HOME" >&2
    exit 2
    ;;
esac
