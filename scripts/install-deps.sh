#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Safe to run again: packages that
# are already present are left alone, and apt is only touched when something is missing.
set -euo pipefail

packages=(
    g++ clang cmake ninja-build make
    libcli11-dev
    libgtest-dev libbenchmark-dev
    libgl-dev libglu1-mesa-dev libegl-dev libgl1-mesa-dri
    qt6-base-dev libqt6opengl6-dev qt6-translations-l10n
    xvfb xauth
    libjpeg62-turbo-dev libgif-dev libpng-dev
    libcgal-dev
    libtbb-dev
    lib3mf-dev pkg-config
    libmimalloc-dev
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
