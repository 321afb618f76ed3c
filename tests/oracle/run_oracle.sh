#!/usr/bin/env bash
# Installs the cross-check library (npm registry only, built from source, cached in the
# build tree) and runs the cross-check. Missing node or npm is a failure, never a skip.
#   run_oracle.sh SOURCE_DIR WORK_DIR DUMP_EXECUTABLE CATALOGUE_TOOL
set -euo pipefail
source_dir=$1
work_dir=$2
dump_exe=$3
tool_exe=$4

for program in node npm; do
    if ! command -v "$program" >/dev/null 2>&1; then
        echo "cross-check: $program is not installed (needed by this test)" >&2
        exit 1
    fi
done

mkdir -p "$work_dir"
# npm keeps its download cache beside the install, not in a home folder.
export npm_config_cache="$work_dir/npm-cache"
module_dir="$work_dir/node_modules/better-sqlite3-multiple-ciphers"
wanted=$(sed -n 's/.*"better-sqlite3-multiple-ciphers": *"\([^"]*\)".*/\1/p' "$source_dir/package.json" | head -n1)
installed=""
if [ -f "$module_dir/package.json" ]; then
    installed=$(node -p "require('$module_dir/package.json').version" 2>/dev/null || true)
fi
if ! cmp -s "$source_dir/package.json" "$work_dir/package.json" || [ "$installed" != "$wanted" ] \
    || [ ! -f "$module_dir/build/Release/better_sqlite3.node" ]; then
    cp "$source_dir/package.json" "$work_dir/package.json"
    echo "cross-check: installing better-sqlite3-multiple-ciphers@$wanted (first run builds it, about a minute)"
    # Build from source with the local Node headers: nothing is fetched outside the npm registry.
    nodedir_args=()
    if [ -f /usr/include/node/node.h ]; then
        nodedir_args=(--nodedir=/usr)
    fi
    (cd "$work_dir" && npm_config_build_from_source=true npm install --no-audit --no-fund --no-package-lock \
        "${nodedir_args[@]}" >"$work_dir/npm-install.log" 2>&1) || {
        echo "cross-check: npm install failed; log follows" >&2
        tail -n 40 "$work_dir/npm-install.log" >&2
        exit 1
    }
    if [ ! -f "$module_dir/build/Release/better_sqlite3.node" ]; then
        (cd "$module_dir" && npx --no-install node-gyp rebuild --release "${nodedir_args[@]}" \
            >>"$work_dir/npm-install.log" 2>&1) || true
    fi
    installed=$(node -p "require('$module_dir/package.json').version" 2>/dev/null || true)
fi
if [ "$installed" != "$wanted" ] || [ ! -f "$module_dir/build/Release/better_sqlite3.node" ]; then
    echo "cross-check: better-sqlite3-multiple-ciphers@$wanted is not usable (found '${installed}')" >&2
    exit 1
fi

export NODE_PATH="$work_dir/node_modules"
exec node "$source_dir/cross_check.js" "$work_dir/run" "$dump_exe" "$tool_exe"
