#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need (as root, or through sudo).
set -euo pipefail
PACKAGES=(cmake g++ make pkg-config qtbase5-dev qtbase5-private-dev qttools5-dev-tools libqt5sql5-sqlite
          libsqlite3-dev libssl-dev zlib1g-dev openssl famfamfam-silk imagemagick python3 nodejs npm xvfb xauth)
missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# npm may come with Node.js from elsewhere; accept any working node and npm.
if command -v node >/dev/null && command -v npm >/dev/null; then
    missing=("${missing[@]/nodejs}"); missing=("${missing[@]/npm}")
fi
read -r -a missing <<< "${missing[*]:-}"
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
