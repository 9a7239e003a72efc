#!/usr/bin/env bash
# Installs the Debian packages the build, the tests (clang and its runtime for
# the fuzz targets, a PostgreSQL server for the history suites) and the
# training program need, only when one is missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config ccache
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev
    qt6-charts-dev libqt6opengl6-dev libqt6sql6-sqlite libqt6sql6-psql
    xvfb xauth poppler-utils desktop-file-utils fonts-liberation2
    libxcb-damage0-dev
    clang libclang-rt-14-dev llvm
    dpkg-dev file lintian
    postgresql
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
